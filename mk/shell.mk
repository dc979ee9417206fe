# The launcher in other FileVersions, for its own update in the tests and the demo: the same
# objects as build/win/FenwaLauncher.exe, linked with a version resource of another version.
#   build/win/update/FenwaLauncher.exe   FENWA_UPDATE_VERSION (default: the last field + 1)
#   build/win/older/FenwaLauncher.exe    FENWA_OLDER_VERSION, lower than the build's own

FENWA_UPDATE_VERSION ?= $(shell echo '$(FENWA_FILE_VERSION)' | \
                          awk -F. -v OFS=. '{ $$NF = $$NF + 1; print }')
FENWA_OLDER_VERSION ?= 0.9.0.0

.PHONY: launcher-variants
win: launcher-variants

# $(1): folder below $(B)/win; $(2): its FileVersion.
define launcher_variant
launcher-variants: $(B)/win/$(1)/FenwaLauncher.exe

$(B)/win/$(1)/gen/build_config.h: FORCE
	@mkdir -p $$(dir $$@)
	@printf '%s\n' '#pragma once' \
	    '#define FENWA_SERVER_HOST L"$(FENWA_SERVER_HOST)"' \
	    '#define FENWA_FILE_VERSION_STR "$(2)"' \
	    '#define FENWA_FILE_VERSION_NUM $(subst .,$(comma),$(2))' \
	    '#define FENWA_RELEASE_KEY_HEX "$(FENWA_RELEASE_KEY_HEX)"' \
	    '#define FENWA_RELEASE_FLOOR "$(strip $(FENWA_RELEASE_FLOOR))"' > $$@.tmp
	@cmp -s $$@.tmp $$@ && rm -f $$@.tmp || mv $$@.tmp $$@

$(B)/win/$(1)/launcher.res.o: res/launcher.rc $(wildcard res/*.h res/*.png res/*.ico res/*.manifest) \
                              $(B)/win/$(1)/gen/build_config.h
	$$(WINDRES) -c 65001 -I res -I . -I $(B)/win/$(1)/gen $$< -o $$@

$(B)/win/$(1)/FenwaLauncher.exe: $(WIN_ENTRY_OBJ) $(B)/win/$(1)/launcher.res.o $(WIN_LIB) \
                                  $(DELAY_DEPS)
	$$(MINGW_CXX) $$(WIN_LDFLAGS) -o $$@ $(WIN_ENTRY_OBJ) $(B)/win/$(1)/launcher.res.o \
	    $(WIN_LIB) $$(WIN_LIBS)
endef

$(eval $(call launcher_variant,update,$(FENWA_UPDATE_VERSION)))
$(eval $(call launcher_variant,older,$(FENWA_OLDER_VERSION)))
