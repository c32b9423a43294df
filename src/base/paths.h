#pragma once

#include <sys/stat.h>

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace zrx {
namespace ui {
class Dialogs;
}

// The native path separator of the platform.
#ifdef _WIN32
inline constexpr char kSep = '\\';
#else
inline constexpr char kSep = '/';
#endif

// dir + separator + name; a directory that already ends in the separator gets no second one.
std::string JoinPath(std::string_view dir, std::string_view name);

// Trims the path and makes it end in the separator; an empty path becomes the separator alone.
void AddTrailingSlash(std::string& path);

// Removes one trailing separator, unless the path is the root itself.
std::string WithoutTrailingSeparator(std::string_view path);

// The text after the last separator (a drive colon counts too where drives exist).
std::string FileNameOf(std::string_view path);

// Finds `name` in `dir`: the exact name when it exists, otherwise an entry whose name equals it
// without regard to case (folders made on systems whose file names ignore case; of several, the
// first in byte order). Returns the full path of what was found, or the exact path when nothing
// matches.
std::string ResolveNameInDir(std::string_view dir, std::string_view name);

// The real path of a file or folder (every link followed), or "" when it does not resolve.
std::string RealPath(const std::string& path);
// Real paths, each worked out once: a task with few folders and many files asks for the same ones
// again and again. A path that does not resolve stands for itself when `orItself`.
class RealPaths {
public:
    const std::string& Of(const std::string& path, bool orItself = false);

private:
    std::unordered_map<std::string, std::string> m_real;
};

bool IsDirectory(const std::string& path);
// The system's folder for temporary files: TMPDIR, else /tmp.
std::string SystemTemporaryFolder();
bool IsRegularFile(const std::string& path);

// Tests whether a directory can be used (entered and listed) without changing the process's
// current directory. Returns 0 when it can; otherwise shows the warning box
// "Path: <path> not available", titled with the system's description of the failure, and
// returns 1. On a file system whose names are case-sensitive the caller's path keeps its case;
// where drives exist it is upper-cased and a bare drive or drive root is accepted untested.
int CheckPathAvailable(std::string& path, ui::Dialogs& dialogs);

}  // namespace zrx
