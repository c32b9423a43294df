#!/usr/bin/env bash
# The layer check refuses includes that run up or across however they are spelled (as the compiler
# reads them), and declarations ahead of a higher layer's types, and takes a tree whose includes
# run down.
set -euo pipefail
check=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree"/src/{base,ui,kernel,apply,program} "$tree/app"
printf '#pragma once\n' >"$tree/src/base/b.h"
printf '#pragma once\nnamespace zrx::ui { class Form {}; }\n' >"$tree/src/ui/u.h"
printf '#pragma once\n' >"$tree/src/kernel/k.h"
printf '#pragma once\n' >"$tree/src/apply/a.h"
printf '#pragma once\nstruct App { int x; };\n' >"$tree/src/program/p.h"
printf '#include "base/b.h"\n#include "kernel/k.h"\n#include <vector>\n' >"$tree/src/apply/a.cpp"
printf '#include "ui/u.h"\n#include "apply/a.h"\nnamespace zrx::ui { class Form; }\n' >"$tree/src/program/p.cpp"
printf '#include "b.h"\n' >"$tree/src/base/b.cpp"
"$check" "$tree" "$tree/build" || { echo "a tree whose includes run down was refused"; exit 1; }
for include in '#include "../program/p.h"' '#include "./program/p.h"' '#include "apply/../program/p.h"' \
               '#include <program/p.h>' '#include "kernel/k.h"' '#include MACRO' '#/**/include "program/p.h"' \
               '#inc\\\nlude "program/p.h"' '%%:include "program/p.h"' '#define P "program/p.h"\n#include P' \
               'struct App;' 'namespace zrx { struct App; }' 'void Show(struct App* app);' 'struct App* g;' \
               'class [[maybe_unused]] App;' 'std::unique_ptr<struct App> p;' 'void Show(struct App, int);'; do
    printf "\xEF\xBB\xBF$include\n" >"$tree/src/ui/probe.cpp"
    if "$check" "$tree" "$tree/build" 2>/dev/null; then echo "not refused: $include"; exit 1; fi
    rm "$tree/src/ui/probe.cpp"
done
# The working routines never see the window's controls: neither by an include nor by a declaration.
for probe in '#include "ui/u.h"' 'namespace zrx::ui { class Form; }' 'void Show(zrx::ui::Form* f, struct Form* g);'; do
    printf "$probe\n" >"$tree/src/apply/probe.cpp"
    if "$check" "$tree" "$tree/build" 2>/dev/null; then echo "not refused in apply: $probe"; exit 1; fi
    rm "$tree/src/apply/probe.cpp"
done
# An include through a file of any ending is followed.
printf '#include "program/p.h"\n' >"$tree/src/ui/probe.txt"
printf '#include "probe.txt"\n' >"$tree/src/ui/probe.cpp"
if "$check" "$tree" "$tree/build" 2>/dev/null; then echo "not refused: an include through a .txt file"; exit 1; fi
rm "$tree/src/ui/probe.cpp" "$tree/src/ui/probe.txt"
printf '#pragma once\nenum class Mode : int { A };\n' >"$tree/src/program/e.h"
printf 'enum class Mode : int;\n' >"$tree/src/ui/probe.cpp"
if "$check" "$tree" "$tree/build" 2>/dev/null; then echo "not refused: an opaque enum of a higher layer"; exit 1; fi
rm "$tree/src/ui/probe.cpp" "$tree/src/program/e.h"
printf '#include "program/p.h"\n' >"$tree/src/ui/probe.inl"
if "$check" "$tree" "$tree/build" 2>/dev/null; then echo "not refused: an include in a .inl file"; exit 1; fi
rm "$tree/src/ui/probe.inl"
printf '#include "base/b.h"\n' >"$tree/src/stray.cpp"
if "$check" "$tree" "$tree/build" 2>/dev/null; then echo "not refused: a file in no layer"; exit 1; fi
echo "the layer check refuses every probe"
