#!/usr/bin/env bash
# Renders the main window (each tab), the edit-entry dialog and the crash reporter's dialogs under a
# private Xvfb display and saves them as PNG files in docs/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target screenshot_tour crashlog_dialog_tour pelloran_error_tour
session=$PWD/build/win32/wine-shots
shots=$PWD/build/win32/shots
rm -rf "$shots" && mkdir -p "$shots" docs
scripts/wine-session.sh start "$session"
trap 'scripts/wine-session.sh stop "$session"' EXIT
PELLORAN_WINE_SESSION=$session scripts/wine-run.sh build/win32/bin/screenshot_tour.exe "Z:$shots"
PELLORAN_WINE_SESSION=$session scripts/wine-run.sh build/win32/bin/crashlog_dialog_tour.exe "Z:$shots"
# Installed where a user's copy would be, so that the paths its error message shows are not this
# machine's build folder.
installed="$session/prefix/drive_c/Program Files/Pelloran"
mkdir -p "$installed"
cp build/win32/tours/pelloran_error/* "$installed/"
PELLORAN_WINE_SESSION=$session scripts/wine-run.sh 'C:\Program Files\Pelloran\pelloran_error_tour.exe' "Z:$shots"
for bmp in "$shots"/*.bmp; do
  convert "$bmp" "docs/$(basename "${bmp%.bmp}").png"
done
ls -1 docs/*.png
