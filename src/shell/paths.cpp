#include "shell/paths.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "shell/messages.h"
#include "shell/text_utils.h"
#include "ui/dialogs.h"

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
    const std::string dirPath(dir.empty() ? "." : dir);
    DIR* handle = ::opendir(dirPath.c_str());
    if (handle == nullptr) return exact;
    // Of several spellings that match, the first in byte order, so that every run picks the same.
    std::string found;
    while (dirent* entry = ::readdir(handle)) {
        if (EqualsIgnoreCase(entry->d_name, name) && (found.empty() || entry->d_name < found)) found = entry->d_name;
    }
    ::closedir(handle);
    return found.empty() ? exact : JoinPath(dir, found);
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
    dialogs.ShowMessage(
        {"Path: " + path + " not available", std::strerror(error), ui::Icon::Warning, ui::Buttons::Ok, false});
    return 1;
}

}  // namespace zrx
