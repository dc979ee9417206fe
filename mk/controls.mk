# Screenshots of the launcher under Wine (main window states, about box, access-code dialog).
#   make screenshots                    English into build/screenshots, Korean and Japanese
#                                       into build/screenshots-ko_KR and -ja_JP
#   make screenshots SCREEN_LANG=ja_JP  one language only, into build/screenshots-ja_JP
SCREEN_LANG ?=
SCREEN_LANGS := $(if $(SCREEN_LANG),$(SCREEN_LANG),en ko_KR ja_JP)

.PHONY: screenshots
screenshots: deps
	@$(MAKE) --no-print-directory win
	@set -e; for lang in $(SCREEN_LANGS); do \
	    if [ "$$lang" = en ]; then python3 tests/wine/screens.py $(B)/screenshots; \
	    else python3 tests/wine/screens.py $(B)/screenshots-$$lang --lang $$lang; fi; \
	done
