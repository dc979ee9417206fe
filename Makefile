# FenwaLauncher: Windows build with mingw-w64, native build of the pure logic with g++.
#
#   make              build/win/FenwaLauncher.exe and the native test build
#   make test         install missing packages, build, run every test
#   make demo         install missing packages, build, run the launcher under Wine
#
# Sources are picked up by folder: name.cpp is pure logic (both builds), name_win.cpp
# touches Win32 (mingw build only). app/main_win.cpp holds the process entry.

FENWA_SERVER_HOST ?= 127.0.0.1
FENWA_FILE_VERSION ?= 1.0.0.1
# The publisher's public key (publish.py keygen DIR; DIR/release-public.pem): the launcher
# then installs only releases signed with its private key. Empty: no key, no checks.
FENWA_RELEASE_KEY ?=
# With a key: the lowest release sequence accepted on a PC that stored none (publish.py prints
# the one to use). Empty: none.
FENWA_RELEASE_FLOOR ?=

MINGW_CXX ?= x86_64-w64-mingw32-g++-posix
WINDRES ?= x86_64-w64-mingw32-windres
CXX ?= g++
CLANGXX ?= clang++

SRC_DIRS := app log launcher engine product net util zip framework controls
ALL_SRC := $(sort $(foreach d,$(SRC_DIRS),$(wildcard $(d)/*.cpp)))
PURE_SRC := $(filter-out %_win.cpp,$(ALL_SRC))
ENTRY_SRC := app/main_win.cpp
LIB_SRC := $(filter-out $(ENTRY_SRC),$(ALL_SRC))

WARN := -Wall -Wextra -Werror -Wshadow
GEN := build/gen
COMMON_DEFS := -I. -I$(GEN)

# One printf convention for the whole program: the runtime's own, where %s in a wide
# format takes a wide string.
WIN_DEFS := -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN -DNOMINMAX -D_WIN32_WINNT=0x0601 \
            -D__USE_MINGW_ANSI_STDIO=0
WIN_CXXFLAGS := -std=c++17 -O2 $(WARN) $(COMMON_DEFS) $(WIN_DEFS) -MMD -MP
# The launcher starts at fenwa_entry (app/main_win.cpp), ahead of the C runtime.
WIN_LDFLAGS := -static -municode -mwindows -Wl,--entry=fenwa_entry
# A statically imported library, and every library it imports in turn, is looked for in the
# executable's folder first, and the launcher first runs from a Downloads folder. So every
# system library is delay-loaded, and the launcher's entry point binds them all from the
# system folder before anything else runs. Only kernel32 and the C runtime (msvcrt) stay
# static: both are known DLLs, and needed before any code of ours runs. Test programs use
# the same libraries and bind on first call.
DELAY_DLLS := advapi32 comctl32 comdlg32 gdi32 gdiplus msimg32 ole32 oleaut32 shell32 \
              shlwapi user32 version wininet
WIN_LIBS = -lz $(DELAY_LIBS) -luuid

NATIVE_CXXFLAGS := -std=c++17 -O1 -g $(WARN) $(COMMON_DEFS) -fsanitize=address,undefined \
                   -fno-sanitize-recover=all -fno-omit-frame-pointer -MMD -MP
NATIVE_LDFLAGS := -fsanitize=address,undefined

B := build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
WIN_OBJ := $(B)/win/obj
DELAY_DIR := $(B)/win/delay
DELAY_LIBS := $(DELAY_DLLS:%=$(DELAY_DIR)/lib%_delay.a)
# Programs relink when the list changes: under .SECONDARY a missing library alone would not
# remake them.
DELAY_LIST := $(DELAY_DIR)/libraries
DELAY_DEPS := $(DELAY_LIBS) $(DELAY_LIST)
NAT_OBJ := $(B)/native/obj

EXE := $(B)/win/FenwaLauncher.exe
WIN_TESTS := $(B)/win/win_tests.exe
NATIVE_TESTS := $(B)/native/unit_tests

WIN_LIB_OBJS := $(LIB_SRC:%.cpp=$(WIN_OBJ)/%.o)
WIN_ENTRY_OBJ := $(ENTRY_SRC:%.cpp=$(WIN_OBJ)/%.o)
NATIVE_OBJS := $(PURE_SRC:%.cpp=$(NAT_OBJ)/%.o)
RES_OBJ := $(WIN_OBJ)/res/launcher.res.o

NATIVE_TEST_SRC := $(wildcard tests/native/*.cpp)
WIN_TEST_SRC := $(wildcard tests/win/*.cpp)
NATIVE_TEST_OBJS := $(NATIVE_TEST_SRC:%.cpp=$(NAT_OBJ)/%.o)
WIN_TEST_OBJS := $(WIN_TEST_SRC:%.cpp=$(WIN_OBJ)/%.o)

# Small Windows programs the Wine tests drive (one .cpp each, linked with the library).
WIN_HELPER_SRC := $(wildcard tests/win/helpers/*.cpp)
WIN_HELPERS := $(WIN_HELPER_SRC:tests/win/helpers/%.cpp=$(B)/win/helpers/%.exe)

GTEST_SRC := /usr/src/googletest/googletest
WIN_GTEST := $(B)/win/gtest/libgtest.a

.PHONY: all test demo native win clean format fuzz deps FORCE
# Objects made through chained rules are kept, so that nothing rebuilds needlessly.
.SECONDARY:

all: win native

win: $(EXE) $(WIN_TESTS) $(WIN_HELPERS)
native: $(NATIVE_TESTS)

deps:
	@bash tools/deps.sh

$(WIN_OBJ)/%.o: %.cpp
	@mkdir -p $(dir $@)
	$(MINGW_CXX) $(WIN_CXXFLAGS) -c $< -o $@

$(NAT_OBJ)/%.o: %.cpp
	@mkdir -p $(dir $@)
	$(CXX) $(NATIVE_CXXFLAGS) -c $< -o $@

# Build settings reach the code and the resources through one generated header, rewritten
# only when a setting changes so that nothing rebuilds needlessly.
comma := ,
FENWA_RELEASE_KEY_HEX := $(if $(strip $(FENWA_RELEASE_KEY)),$(shell python3 tools/publish.py \
                           key-hex '$(strip $(FENWA_RELEASE_KEY))'))
ifneq ($(strip $(FENWA_RELEASE_KEY)),)
ifeq ($(FENWA_RELEASE_KEY_HEX),)
$(error FENWA_RELEASE_KEY=$(FENWA_RELEASE_KEY) is not a release public key (see above))
endif
endif
$(GEN)/build_config.h: FORCE
	@mkdir -p $(dir $@)
	@printf '%s\n' '#pragma once' \
	    '#define FENWA_SERVER_HOST L"$(FENWA_SERVER_HOST)"' \
	    '#define FENWA_FILE_VERSION_STR "$(FENWA_FILE_VERSION)"' \
	    '#define FENWA_FILE_VERSION_NUM $(subst .,$(comma),$(FENWA_FILE_VERSION))' \
	    '#define FENWA_RELEASE_KEY_HEX "$(FENWA_RELEASE_KEY_HEX)"' \
	    '#define FENWA_RELEASE_FLOOR "$(strip $(FENWA_RELEASE_FLOOR))"' > $@.tmp
	@cmp -s $@.tmp $@ && rm -f $@.tmp || mv $@.tmp $@

$(WIN_LIB_OBJS) $(WIN_ENTRY_OBJ) $(NATIVE_OBJS): | $(GEN)/build_config.h

$(DELAY_LIST): FORCE
	@mkdir -p $(dir $@)
	@echo '$(DELAY_DLLS)' > $@.tmp
	@cmp -s $@.tmp $@ && rm -f $@.tmp || mv $@.tmp $@

# A delay-load import library with every function of mingw's import library for the DLL.
$(DELAY_LIBS): $(DELAY_DIR)/lib%_delay.a:
	@mkdir -p $(dir $@)
	@{ echo 'LIBRARY $*.dll'; echo EXPORTS; \
	   x86_64-w64-mingw32-nm -g --defined-only "$$($(MINGW_CXX) -print-file-name=lib$*.a)" | \
	   awk '$$2 == "T" { print $$3 }' | sort -u; } > $(DELAY_DIR)/$*.def
	x86_64-w64-mingw32-dlltool --input-def $(DELAY_DIR)/$*.def --output-delaylib $@

$(RES_OBJ): res/launcher.rc $(wildcard res/*.h res/*.png res/*.ico res/*.manifest) $(GEN)/build_config.h
	@mkdir -p $(dir $@)
	$(WINDRES) -c 65001 -I res -I . -I $(GEN) $< -o $@

# Programs pull from the library only what they use, so a test program need not carry the
# application's process-wide objects.
WIN_LIB := $(B)/win/libfenwa.a
$(WIN_LIB): $(WIN_LIB_OBJS)
	@mkdir -p $(dir $@)
	@rm -f $@
	x86_64-w64-mingw32-ar rcs $@ $^

$(EXE): $(WIN_ENTRY_OBJ) $(RES_OBJ) $(WIN_LIB) $(DELAY_DEPS)
	@mkdir -p $(dir $@)
	$(MINGW_CXX) $(WIN_LDFLAGS) -o $@ $(WIN_ENTRY_OBJ) $(RES_OBJ) $(WIN_LIB) $(WIN_LIBS)

$(WIN_GTEST):
	@mkdir -p $(dir $@)
	$(MINGW_CXX) -std=c++17 -O1 -I$(GTEST_SRC)/include -I$(GTEST_SRC) \
	    -c $(GTEST_SRC)/src/gtest-all.cc -o $(B)/win/gtest/gtest-all.o
	x86_64-w64-mingw32-ar rcs $@ $(B)/win/gtest/gtest-all.o

$(WIN_OBJ)/tests/%.o: tests/%.cpp $(WIN_GTEST)
	@mkdir -p $(dir $@)
	$(MINGW_CXX) $(WIN_CXXFLAGS) -I$(GTEST_SRC)/include -c $< -o $@

# Test programs are console programs with a plain main (gtest's). The unit tests also carry a
# delay-loaded import of a library that exists nowhere, for the binding's failure case.
ABSENT_DELAY_LIB := $(DELAY_DIR)/libfenwa_absent_delay.a
$(ABSENT_DELAY_LIB):
	@mkdir -p $(dir $@)
	@printf '%s\n' 'LIBRARY fenwa_absent.dll' EXPORTS fenwa_absent_function \
	    > $(DELAY_DIR)/fenwa_absent.def
	x86_64-w64-mingw32-dlltool --input-def $(DELAY_DIR)/fenwa_absent.def --output-delaylib $@

$(WIN_TESTS): $(WIN_TEST_OBJS) $(RES_OBJ) $(WIN_LIB) $(WIN_GTEST) $(DELAY_DEPS) \
              $(ABSENT_DELAY_LIB)
	@mkdir -p $(dir $@)
	$(MINGW_CXX) -static -o $@ $(WIN_TEST_OBJS) $(RES_OBJ) $(WIN_LIB) $(WIN_GTEST) $(WIN_LIBS) \
	    $(ABSENT_DELAY_LIB)

$(B)/win/helpers/%.exe: $(WIN_OBJ)/tests/win/helpers/%.o $(RES_OBJ) $(WIN_LIB) $(DELAY_DEPS)
	@mkdir -p $(dir $@)
	$(MINGW_CXX) -static -municode -o $@ $< $(RES_OBJ) $(WIN_LIB) $(WIN_LIBS)

# Planted beside the launcher by the Wine tests under the names of the libraries it loads;
# leaves a marker when loaded. No C runtime: its only import is kernel32.
PLANT_DLL := $(B)/win/helpers/plant.dll
win: $(PLANT_DLL)
$(PLANT_DLL): tests/win/plant/plant_dll.cpp
	@mkdir -p $(dir $@)
	$(MINGW_CXX) -std=c++17 -O2 $(WARN) $(WIN_DEFS) -shared -nostdlib -Wl,--entry=plant_entry \
	    -o $@ $< -lkernel32

$(NATIVE_TESTS): $(NATIVE_TEST_OBJS) $(NATIVE_OBJS)
	@mkdir -p $(dir $@)
	$(CXX) $(NATIVE_LDFLAGS) -o $@ $^ -lgtest -lgtest_main -lpthread -lz

test: deps
	@$(MAKE) --no-print-directory -j$(JOBS) all
	@python3 tests/run_all.py

demo: deps
	@$(MAKE) --no-print-directory -j$(JOBS) all
	@python3 tools/demo.py

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(B)

-include $(shell find $(B) -name '*.d' 2>/dev/null)

# Feature-specific rules (extra tools, fuzzing, benchmarks) live in their own fragments.
-include $(sort $(wildcard mk/*.mk))
