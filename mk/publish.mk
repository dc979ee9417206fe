# Server side: the stand-in host program and the FileVersion fixtures of the publishing tool.

FIXTURE_DIR := $(B)/fixtures
FIXTURE_RC := $(wildcard tests/fixtures/*.rc)
FIXTURES := $(FIXTURE_RC:tests/fixtures/%.rc=$(FIXTURE_DIR)/%.exe) \
            $(FIXTURE_DIR)/ver_normal.dll $(FIXTURE_DIR)/no_resource.exe $(FIXTURE_DIR)/plain.txt

.PHONY: fixtures
win: $(FIXTURES)
fixtures: $(FIXTURES)

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
