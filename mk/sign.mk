# Signed releases: the statement parser's fuzz target, and launchers with a release key
# built in for the tests and the demo (keys made here by publish.py keygen, never committed).
#   build/win/signed/FenwaLauncher.exe        the test key, build/keys/test
#   build/win/demo-signed/FenwaLauncher.exe   the demo key, build/keys/demo
#   build/win/signed-floor/FenwaLauncher.exe  the test key and FENWA_RELEASE_FLOOR 9000000000

KEYS := $(B)/keys

.PRECIOUS: $(KEYS)/%/release-public.pem
$(KEYS)/%/release-public.pem:
	python3 tools/publish.py keygen $(KEYS)/$*

# The same objects as build/win/FenwaLauncher.exe but for engine/release_key.cpp, which
# holds nothing else: built with the variant's key and linked ahead of the library's copy.
# $(1): folder below $(B)/win; $(2): key name below $(KEYS); $(3): FENWA_RELEASE_FLOOR.
define signed_variant
win: $(B)/win/$(1)/FenwaLauncher.exe

$(B)/win/$(1)/gen/build_config.h: $(KEYS)/$(2)/release-public.pem FORCE
	@mkdir -p $$(dir $$@)
	@key=$$$$(python3 tools/publish.py key-hex $$<) && printf '%s\n' '#pragma once' \
	    '#define FENWA_SERVER_HOST L"$(FENWA_SERVER_HOST)"' \
	    '#define FENWA_FILE_VERSION_STR "$(FENWA_FILE_VERSION)"' \
	    '#define FENWA_FILE_VERSION_NUM $(subst .,$(comma),$(FENWA_FILE_VERSION))' \
	    "#define FENWA_RELEASE_KEY_HEX \"$$$$key\"" '#define FENWA_RELEASE_FLOOR "$(3)"' > $$@.tmp
	@cmp -s $$@.tmp $$@ && rm -f $$@.tmp || mv $$@.tmp $$@

$(B)/win/$(1)/release_key.o: engine/release_key.cpp $(B)/win/$(1)/gen/build_config.h
	$$(MINGW_CXX) -I$(B)/win/$(1)/gen $$(WIN_CXXFLAGS) -c $$< -o $$@

$(B)/win/$(1)/FenwaLauncher.exe: $(WIN_ENTRY_OBJ) $(B)/win/$(1)/release_key.o $(RES_OBJ) $(WIN_LIB) \
                                  $(DELAY_DEPS)
	$$(MINGW_CXX) $$(WIN_LDFLAGS) -o $$@ $(WIN_ENTRY_OBJ) $(B)/win/$(1)/release_key.o \
	    $(RES_OBJ) $(WIN_LIB) $$(WIN_LIBS)
endef

$(eval $(call signed_variant,signed,test,))
$(eval $(call signed_variant,demo-signed,demo,))
$(eval $(call signed_variant,signed-floor,test,9000000000))

# `make fuzz` runs this target too (FUZZ_SECONDS, mk/zip.mk).
STATEMENT_FUZZ_DIR := $(B)/fuzz/statement
STATEMENT_FUZZ := $(STATEMENT_FUZZ_DIR)/statement_fuzz
STATEMENT_CORE := engine/release_statement.cpp engine/pipeline_logic.cpp util/text_util.cpp

.PHONY: fuzz-statement
fuzz: fuzz-statement

$(STATEMENT_FUZZ): fuzz/statement_fuzz.cpp $(STATEMENT_CORE) engine/release_statement.h \
                   engine/pipeline_logic.h util/text_util.h util/digest.h
	@mkdir -p $(dir $@)
	$(CLANGXX) -std=c++17 -g -O1 $(WARN) $(COMMON_DEFS) -fsanitize=fuzzer,address,undefined \
	    -fno-sanitize-recover=all fuzz/statement_fuzz.cpp $(STATEMENT_CORE) -o $@

$(STATEMENT_FUZZ_DIR)/seeds/.made: fuzz/make_statement_seeds.py tools/publish.py
	python3 $< $(dir $@)
	@touch $@

fuzz-statement: $(STATEMENT_FUZZ) $(STATEMENT_FUZZ_DIR)/seeds/.made
	@mkdir -p $(STATEMENT_FUZZ_DIR)/corpus
	$(STATEMENT_FUZZ) -max_total_time=$(FUZZ_SECONDS) -max_len=4096 -timeout=20 \
	    -rss_limit_mb=2048 -artifact_prefix=$(STATEMENT_FUZZ_DIR)/ -print_final_stats=1 \
	    $(STATEMENT_FUZZ_DIR)/corpus $(STATEMENT_FUZZ_DIR)/seeds
