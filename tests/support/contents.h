#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "kernel/library_exchange.h"
#include "support/temp_dir.h"

namespace zrx::test {

// What an installation holds: every library as its elements (the file's bytes may differ where
// its elements do not), every other file by its bytes and modification time, every folder, every
// link by where it points. The program's own files (lock, identity, undo record) are left out.
inline std::map<std::string, std::string> Contents(const std::string& root) {
    namespace fs = std::filesystem;
    std::map<std::string, std::string> contents;
    // The names first: reading a library may fold its write-ahead log back into it (the log is part
    // of the library, and not listed on its own).
    std::vector<fs::path> paths;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string name = entry.path().filename().string();
        if (name.ends_with("-wal") || name.ends_with("-shm") || name.ends_with("-journal")) continue;
        paths.push_back(entry.path());
    }
    for (const fs::path& path : paths) {
        const std::string relative =
            path.lexically_relative(root).string();  // the link itself, not where it leads
        if (relative.starts_with(".zrxlibug")) continue;
        std::error_code ec;
        if (fs::is_symlink(path, ec)) {  // a link as a link: where it points, not what it reaches
            contents[relative] = "link to " + fs::read_symlink(path, ec).string();
            continue;
        }
        if (fs::is_directory(path, ec)) {
            contents[relative] = "folder";
            continue;
        }
        const auto library = ExportLibrary(path.string());
        contents[relative] =
            library ? *library
                    : Fingerprint(path.string()) + " " +
                          std::to_string(fs::last_write_time(path, ec).time_since_epoch().count());
    }
    return contents;
}

}  // namespace zrx::test
