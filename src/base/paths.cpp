#include "base/paths.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "base/dialogs.h"
#include "base/directory.h"
#include "base/messages.h"
#include "base/text_utils.h"

namespace zrx {

std::string JoinPath(std::string_view dir, std::string_view name) {
    std::string path(dir);
    if (path.empty() || path.back() != kSep) path += kSep;
    path += name;
    return path;
}

void AddTrailingSlash(std::string& path) {
    path = TrimBlanks(path);
    if (path.empty() || path.back() != kSep) path += kSep;
}

std::string WithoutTrailingSeparator(std::string_view path) {
    if (path.size() > 1 && path.back() == kSep) path.remove_suffix(1);
    return std::string(path);
}

std::string FileNameOf(std::string_view path) {
#ifdef _WIN32
    const auto cut = path.find_last_of("\\:");
#else
    const auto cut = path.find_last_of(kSep);
#endif
    return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

std::string RealPath(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    std::string result = real ? real : "";
    std::free(real);
    return result;
}

const std::string& RealPaths::Of(const std::string& path, bool orItself) {
    auto it = m_real.find(path);
    if (it == m_real.end()) it = m_real.emplace(path, RealPath(path)).first;
    return it->second.empty() && orItself ? path : it->second;
}

std::string SystemTemporaryFolder() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

bool IsDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsRegularFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string ResolveNameInDir(std::string_view dir, std::string_view name) {
    std::string exact = JoinPath(dir, name);
    struct stat info {};
    if (::lstat(exact.c_str(), &info) == 0) return exact;
    const auto folder = Directory::Open(std::string(dir.empty() ? "." : dir));
    const auto found = folder ? folder->Find(name) : std::nullopt;
    return found ? JoinPath(dir, *found) : exact;
}

int CheckPathAvailable(std::string& path, ui::Dialogs& dialogs) {
#ifdef _WIN32
    path = ToUpper(path);
    const auto isDrive = [](char c) { return c > 64 && c < 90; };
    if (path.size() == 2 && path[1] == ':' && isDrive(path[0])) return 0;
    if (path.size() == 3 && path[1] == ':' && path[2] == '\\' && isDrive(path[0])) return 0;
#endif
    int error = 0;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        error = errno;
    } else if (!S_ISDIR(info.st_mode)) {
        error = ENOTDIR;
    } else if (::access(path.c_str(), X_OK) != 0) {
        error = errno;
    }
    if (error == 0) return 0;
    dialogs.ShowMessage({"Path: " + path + " not available", std::strerror(error), ui::Icon::Warning,
                         ui::Buttons::Ok, false});
    return 1;
}

}  // namespace zrx
