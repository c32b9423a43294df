#!/usr/bin/env bash
# The file-access check refuses a call by a path outside src/base however it is spelled, takes one
# that says why, and takes the base layer's own.
set -euo pipefail
check=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree"/src/{base,apply}
printf 'int f(const char* p) { struct stat s; return ::stat(p, &s); }\n' >"$tree/src/base/b.cpp"
printf 'int g(int fd) { return ::openat(fd, "x", 0); }\nInstallationAccess access(env);\n' >"$tree/src/apply/a.cpp"
"$check" "$tree" || { echo "a tree that reaches files through handles was refused"; exit 1; }
for call in '::stat(path, &info)' 'open(path.c_str(), O_RDONLY)' 'std::filesystem::remove_all(path)' \
            'fs::exists(path)' 'std::ifstream in(path)' 'ReadWholeFile(path, text)' 'Directory::Open(path, why)' \
            'return unlink(path)' 'rename(\n    from, to)' 'E_OpenLibrary(path.c_str(), kind, 0)' \
            '::fstatat(AT_FDCWD, path, &info, 0)' 'sqlite3_open_v2(path, &db, flags, nullptr)' \
            'archive_read_open_filename(a, path, 10240)' 'mkfifo(path, 0600)' 'open64(path, 0)' \
            'openat(-100, path, 0)' 'int n = 1\x27000; ::stat(path, &info)' 'auto r = R"(")"; ::stat(path, &info)' \
            'Say("// file-access: a reason in a string"); ::stat(path, &info)'; do
    printf "void h() {\n    %b;\n}\n" "$call" >"$tree/src/apply/probe.cpp"
    if "$check" "$tree" 2>/dev/null; then echo "not refused: $call"; exit 1; fi
done
printf 'void h() { ::stat(path, &info); }  // file-access: a path the user names on the command line\n' \
    >"$tree/src/apply/probe.cpp"
"$check" "$tree" || { echo "a call that says why was refused"; exit 1; }
printf 'void h() {\n    ::stat(\n        path,  // file-access: a path the user names on the command line\n        &info);\n}\n' \
    >"$tree/src/apply/probe.cpp"
"$check" "$tree" || { echo "a call split over lines that says why on one of them was refused"; exit 1; }
printf 'void h() {\n    int a = 0;  // file-access: a path the user names on the command line\n    ::stat(path, &info);\n}\n' \
    >"$tree/src/apply/probe.cpp"
if "$check" "$tree" 2>/dev/null; then echo "not refused: a reason on the statement before"; exit 1; fi
printf 'void h() { ::stat(path, &info); }  // file-access:\n' >"$tree/src/apply/probe.cpp"
if "$check" "$tree" 2>/dev/null; then echo "not refused: an exemption without a reason"; exit 1; fi
echo "the file-access check refuses every probe"
