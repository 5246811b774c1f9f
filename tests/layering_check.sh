#!/usr/bin/env bash
# The engine must not reach the interface: no widget or GUI header in core/ or cli/,
# and nothing in core/ includes gui/ or app/. The text server shares only the build:
# textd/ includes nothing of core/, gui/, cli/ or app/ and no widget header, and none of
# those include textd/.
set -u
root=${1:-.}
include='#[[:space:]]*include[[:space:]]*[<"]'
widgets='Qt(Widgets|Gui)/|Q(Widget|Application|MainWindow|Dialog|Pixmap|Icon|Image|Painter|GuiApplication)[>"]'
status=0
report() {
  [[ -z $2 ]] && return
  echo "$1:"; echo "$2"; status=1
}
report "widget or GUI includes in the engine" \
  "$(grep -rnE "$include($widgets|gui/|app/)" "$root/core" "$root/cli" 2>/dev/null)"
report "includes of the programs' code in the text server" \
  "$(grep -rnE "$include($widgets|core/|gui/|cli/|app/)" "$root/textd" 2>/dev/null)"
report "includes of the text server outside it" \
  "$(grep -rnE "${include}textd/" "$root/core" "$root/gui" "$root/cli" "$root/app" 2>/dev/null)"
[[ $status -eq 0 ]] && echo "layering ok"
exit $status
