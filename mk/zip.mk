# Zip reader extras: the native extractor for timing, the fuzz target, benchmark helpers.

# Built without sanitizers: zipx exists to be timed beside other extractors.
ZIP_RELEASE_FLAGS := -std=c++17 -O2 $(WARN) $(COMMON_DEFS)
ZIPX := $(B)/native/zipx
ZIP_INFLATE_LOOP := $(B)/native/zip_inflate_loop

native: $(ZIPX)

ZIP_CORE := zip/zip_reader.cpp zip/zip_crc.cpp util/text_util.cpp
ZIP_CORE_DEPS := $(ZIP_CORE) zip/zip_reader.h zip/zip_crc.h util/text_util.h

$(ZIPX): tools/zipx.cpp $(ZIP_CORE_DEPS)
	@mkdir -p $(dir $@)
	$(CXX) $(ZIP_RELEASE_FLAGS) tools/zipx.cpp $(ZIP_CORE) -o $@ -lz

$(ZIP_INFLATE_LOOP): bench/zip_inflate_loop.cpp
	@mkdir -p $(dir $@)
	$(CXX) $(ZIP_RELEASE_FLAGS) $< -o $@ -lz

.PHONY: zip-bench fuzz-zip
zip-bench: $(ZIPX) $(ZIP_INFLATE_LOOP)
	@python3 bench/zip_bench.py

# `make fuzz` runs every fuzz target for FUZZ_SECONDS each.
FUZZ_SECONDS ?= 60
ZIP_FUZZ_DIR := $(B)/fuzz/zip
ZIP_FUZZ := $(ZIP_FUZZ_DIR)/zip_fuzz

fuzz: fuzz-zip

$(ZIP_FUZZ): fuzz/zip_fuzz.cpp $(ZIP_CORE_DEPS)
	@mkdir -p $(dir $@)
	$(CLANGXX) -std=c++17 -g -O1 $(WARN) $(COMMON_DEFS) -fsanitize=fuzzer,address,undefined \
	    -fno-sanitize-recover=all fuzz/zip_fuzz.cpp $(ZIP_CORE) -o $@ -lz

$(ZIP_FUZZ_DIR)/seeds/.made: fuzz/make_zip_seeds.py
	python3 $< $(dir $@)
	@touch $@

fuzz-zip: $(ZIP_FUZZ) $(ZIP_FUZZ_DIR)/seeds/.made
	@mkdir -p $(ZIP_FUZZ_DIR)/corpus
	$(ZIP_FUZZ) -max_total_time=$(FUZZ_SECONDS) -max_len=8192 -timeout=20 -rss_limit_mb=2048 \
	    -artifact_prefix=$(ZIP_FUZZ_DIR)/ -print_final_stats=1 \
	    $(ZIP_FUZZ_DIR)/corpus $(ZIP_FUZZ_DIR)/seeds
