# Screenshots of the launcher under Wine (main window states and the about box).
#   make screenshots                    English, into build/screenshots
#   make screenshots SCREEN_LANG=ko_KR  Korean (ja_JP: Japanese), into build/screenshots-ko_KR
SCREEN_LANG ?=
SCREEN_OUT := $(B)/screenshots$(if $(SCREEN_LANG),-$(SCREEN_LANG))

.PHONY: screenshots
screenshots: deps
	@$(MAKE) --no-print-directory win
	@python3 tests/wine/screens.py $(SCREEN_OUT) $(if $(SCREEN_LANG),--lang $(SCREEN_LANG))
