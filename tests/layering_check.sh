#!/usr/bin/env bash
# The engine must not reach the interface: no widget or GUI header in core/ or cli/,
# and nothing in core/ includes gui/ or app/.
set -u
root=${1:-.}
bad=$(grep -rnE '#[[:space:]]*include[[:space:]]*[<"](Qt(Widgets|Gui)/|Q(Widget|Application|MainWindow|Dialog|Pixmap|Icon|Image|Painter|GuiApplication)[>"]|gui/|app/)' \
  "$root/core" "$root/cli" 2>/dev/null)
if [[ -n $bad ]]; then
  echo "widget or GUI includes in the engine:"; echo "$bad"; exit 1
fi
echo "layering ok"
