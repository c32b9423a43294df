#!/usr/bin/env bash
# The layer check refuses includes that run up or across however they are spelled, and takes a
# tree whose includes run down.
set -euo pipefail
check=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree"/src/{base,ui,kernel,apply,program} "$tree/app"
touch "$tree"/src/{base/b.h,ui/u.h,kernel/k.h,apply/a.h,program/p.h}
printf '#include "base/b.h"\n#include <vector>\n' >"$tree/src/apply/a.cpp"
printf '#include "b.h"\n' >"$tree/src/base/b.cpp"
"$check" "$tree" || { echo "a tree whose includes run down was refused"; exit 1; }
for include in '"../program/p.h"' '"./program/p.h"' '"apply/../program/p.h"' '<program/p.h>' '"kernel/k.h"' 'MACRO'; do
    printf '\xEF\xBB\xBF#  include %s\n' "$include" >"$tree/src/ui/probe.cpp"
    if "$check" "$tree" 2>/dev/null; then echo "not refused: $include"; exit 1; fi
done
rm "$tree/src/ui/probe.cpp"
printf '#include "base/b.h"\n' >"$tree/src/stray.cpp"
if "$check" "$tree" 2>/dev/null; then echo "not refused: a file in no layer"; exit 1; fi
echo "the layer check refuses every probe"
