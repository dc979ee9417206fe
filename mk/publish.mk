# Server side: the stand-in host program and the FileVersion fixtures of the publishing tool.

# FileVersion of the stand-in host program, e.g. make FENWA_HOST_VERSION=5.0.0.2
FENWA_HOST_VERSION ?= 5.0.0.1

HOST_EXE := $(B)/win/FenwaHostSvr.exe
HOST_OBJ := $(WIN_OBJ)/samples/host/FenwaHostSvr.o
HOST_RES := $(WIN_OBJ)/samples/host/host.res.o
HOST_VERSION_H := $(GEN)/host_version.h

FIXTURE_DIR := $(B)/fixtures
FIXTURE_RC := $(wildcard tests/fixtures/*.rc)
FIXTURES := $(FIXTURE_RC:tests/fixtures/%.rc=$(FIXTURE_DIR)/%.exe) \
            $(FIXTURE_DIR)/ver_normal.dll $(FIXTURE_DIR)/no_resource.exe $(FIXTURE_DIR)/plain.txt

.PHONY: host fixtures
win: $(HOST_EXE) $(FIXTURES)
host: $(HOST_EXE)
fixtures: $(FIXTURES)

# Rewritten only when the version changes, so that nothing rebuilds needlessly.
$(HOST_VERSION_H): FORCE
	@mkdir -p $(dir $@)
	@printf '%s\n' '#pragma once' \
	    '#define FENWA_HOST_VERSION_STR "$(FENWA_HOST_VERSION)"' \
	    '#define FENWA_HOST_VERSION_NUM $(subst .,$(comma),$(FENWA_HOST_VERSION))' > $@.tmp
	@cmp -s $@.tmp $@ && rm -f $@.tmp || mv $@.tmp $@

$(HOST_RES): samples/host/host.rc $(HOST_VERSION_H)
	@mkdir -p $(dir $@)
	$(WINDRES) -c 65001 -I $(GEN) $< -o $@

# Plain Win32 only: the stand-in must not carry any of the launcher's code.
$(HOST_EXE): $(HOST_OBJ) $(HOST_RES)
	@mkdir -p $(dir $@)
	$(MINGW_CXX) -static -municode -mwindows -o $@ $^ -lshell32 -luser32 -lgdi32

$(FIXTURE_DIR)/fixture_main.o: tests/fixtures/fixture_main.cpp
	@mkdir -p $(dir $@)
	$(MINGW_CXX) -O1 -c $< -o $@

$(FIXTURE_DIR)/%.res.o: tests/fixtures/%.rc
	@mkdir -p $(dir $@)
	$(WINDRES) -c 65001 $< -o $@

$(FIXTURE_DIR)/%.exe: $(FIXTURE_DIR)/fixture_main.o $(FIXTURE_DIR)/%.res.o
	$(MINGW_CXX) -static -o $@ $^

$(FIXTURE_DIR)/no_resource.exe: $(FIXTURE_DIR)/fixture_main.o
	$(MINGW_CXX) -static -o $@ $^

$(FIXTURE_DIR)/ver_normal.dll: $(FIXTURE_DIR)/ver_normal.res.o
	$(MINGW_CXX) -static -shared -o $@ $^

$(FIXTURE_DIR)/plain.txt: tests/fixtures/plain.txt
	@mkdir -p $(dir $@)
	cp $< $@
