#!/bin/bash
# Takes a screenshot of the main window connected to a local vsftpd (and one
# of the log console) under the offscreen platform, for a person to look at.
#   tools/screenshot.sh [OUTPUT_DIR]      (default: the current directory)
set -euo pipefail
out=$(realpath "${1:-.}")
cd "$(dirname "$0")/.."
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/test --target test_mainwindow test_console test_app >/dev/null
QT_QPA_PLATFORM=offscreen build/test/tests/test_mainwindow --gtest_filter='*Screenshot*:MainWindow.LogLinesReadOnLightAndDarkPalettes:QueueFileWindow.TheSaveDialog*:FtpsWindow.The*Question*:GbkNames.ATree*:Preferences.OneControlPerPage*:TransferConnections.AQueueClosed*:SiteManagerWindow.AnSftpSite*' >/dev/null
(cd build/test/tests && QT_QPA_PLATFORM=offscreen ./test_app --gtest_filter='Editor.FindFindNext*' >/dev/null)
QT_QPA_PLATFORM=offscreen build/test/tests/test_console --gtest_filter='*Screenshot*' >/dev/null
cp build/test/tests/main-window-screenshot.png build/test/tests/main-window-icons.png build/test/tests/local-path-box.png build/test/tests/console-screenshot.png \
  build/test/tests/editor-screenshot.png build/test/tests/save-queue-screenshot.png \
  build/test/tests/certificate-screenshot.png build/test/tests/gbk-names-screenshot.png \
  build/test/tests/preferences-advanced.png build/test/tests/parallel-screenshot.png build/test/tests/hostkey-screenshot.png \
  build/test/tests/sftp-site-screenshot.png build/test/tests/main-window-dark.png "$out"/
# At 200 % (a high-resolution screen): the same window, drawn at twice the
# size, on an offscreen screen large enough to hold it.
screen=$(mktemp)
echo '{"screens": [{"name": "hidpi", "x": 0, "y": 0, "width": 2400, "height": 1600, "logicalDpi": 96, "dpr": 1}]}' > "$screen"
QT_SCALE_FACTOR=2 QT_QPA_PLATFORM="offscreen:configfile=$screen" build/test/tests/test_mainwindow \
  --gtest_filter='MainWindow.ScreenshotConnectedToALocalServer' >/dev/null
cp build/test/tests/main-window-screenshot.png "$out"/main-window-200.png
rm -f "$screen"
echo "written: $out/main-window-screenshot.png $out/main-window-icons.png $out/local-path-box.png $out/console-screenshot.png $out/editor-screenshot.png $out/save-queue-screenshot.png $out/certificate-screenshot.png $out/gbk-names-screenshot.png $out/preferences-advanced.png $out/parallel-screenshot.png $out/hostkey-screenshot.png $out/sftp-site-screenshot.png $out/main-window-dark.png $out/main-window-200.png"
