#!/usr/bin/env bash
# The function-length check refuses a long function that does not say why, and takes one that does,
# whatever braces its strings, comments and lambdas hold.
set -euo pipefail
check=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/src/apply" "$tree/app"
body() { for i in $(seq 1 "$1"); do printf '    x += %d;  // {\n' "$i"; done; }
{ printf 'int Short() {\n    auto f = [] { return "}"; };\n'; body 70; printf '    return 0;\n}\n'; } >"$tree/src/apply/a.cpp"
"$check" "$tree" || { echo "a function of 72 lines was refused"; exit 1; }
{ printf 'int Long() {\n'; body 81; printf '}\n'; } >"$tree/src/apply/b.cpp"
if "$check" "$tree" 2>/dev/null; then echo "not refused: a function of 81 lines"; exit 1; fi
{ printf '// Long: a table of steps, read best in one piece.\nint Long() {\n'; body 81; printf '}\n'; } >"$tree/src/apply/b.cpp"
"$check" "$tree" || { echo "a long function that says why was refused"; exit 1; }
echo "the function-length check refuses every probe"
