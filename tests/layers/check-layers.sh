#!/bin/bash
# Every folder of src/ is a library: it may include only itself and the
# folders below it (the order of src/CMakeLists.txt). Prints each include
# that breaks the order and fails when there is one.
set -euo pipefail
src=${1:?usage: check-layers.sh <src folder>}
core="common net sftp ftp sites panes dialup transfer session"
declare -A allowed=(
  [common]="common"
  [net]="common net"
  [sftp]="common sftp"
  [ftp]="common net sftp ftp"
  [sites]="common net sftp ftp sites"
  [panes]="common net sftp ftp panes"
  [dialup]="dialup"
  [transfer]="common net sftp ftp sites transfer"
  [session]="$core"
  [console]="console"
  [desktop]="$core desktop"
  [widgets]="$core widgets"
  [dialogs]="$core widgets console dialogs"
  [app]="$core console desktop widgets dialogs app"
)
bad=0
for dir in "$src"/*/; do
  folder=$(basename "$dir")
  if [[ -z ${allowed[$folder]+x} ]]; then
    echo "src/$folder: a folder the order does not know"
    bad=1
    continue
  fi
  while IFS=: read -r file line text; do
    used=$(sed -E 's/.*#include "([a-z]+)\/.*/\1/' <<<"$text")
    if [[ " ${allowed[$folder]} " != *" $used "* ]]; then
      echo "${file#"$src"/}:$line: $folder includes $used"
      bad=1
    fi
  done < <(grep -Hn '^#include "[a-z]*/' "$dir"*.h "$dir"*.cpp 2>/dev/null || true)
done
exit $bad
