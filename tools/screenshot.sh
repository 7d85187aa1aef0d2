#!/bin/bash
# Takes a screenshot of the main window connected to a local vsftpd (and one
# of the log console) under the offscreen platform, for a person to look at.
#   tools/screenshot.sh [OUTPUT_DIR]      (default: the current directory)
set -euo pipefail
out=$(realpath "${1:-.}")
cd "$(dirname "$0")/.."
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/test --target test_mainwindow test_console test_app >/dev/null
QT_QPA_PLATFORM=offscreen build/test/tests/test_mainwindow --gtest_filter='*Screenshot*:QueueFileWindow.TheSaveDialog*:FtpsWindow.The*Question*:GbkNames.ATree*:Preferences.OneControlPerPage*:TransferConnections.AQueueClosed*' >/dev/null
(cd build/test/tests && QT_QPA_PLATFORM=offscreen ./test_app --gtest_filter='Editor.FindFindNext*' >/dev/null)
QT_QPA_PLATFORM=offscreen build/test/tests/test_console --gtest_filter='*Screenshot*' >/dev/null
cp build/test/tests/main-window-screenshot.png build/test/tests/main-window-icons.png build/test/tests/local-path-box.png build/test/tests/console-screenshot.png \
  build/test/tests/editor-screenshot.png build/test/tests/save-queue-screenshot.png \
  build/test/tests/certificate-screenshot.png build/test/tests/gbk-names-screenshot.png \
  build/test/tests/preferences-advanced.png build/test/tests/parallel-screenshot.png build/test/tests/hostkey-screenshot.png "$out"/
echo "written: $out/main-window-screenshot.png $out/main-window-icons.png $out/local-path-box.png $out/console-screenshot.png $out/editor-screenshot.png $out/save-queue-screenshot.png $out/certificate-screenshot.png $out/gbk-names-screenshot.png $out/preferences-advanced.png $out/parallel-screenshot.png $out/hostkey-screenshot.png"
