#include "base/paths.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "base/dialogs.h"
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

std::optional<std::string> WriteTargetOf(const std::string& path, std::string& why) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    const std::string resolved = RealPath(path);
    if (resolved.empty() || ::stat(resolved.c_str(), &info) != 0) {
        why = path + " is a symbolic link that leads nowhere";
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        why = path + " is a symbolic link to something other than a file";
        return std::nullopt;
    }
    return resolved;
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

bool IsDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsRegularFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

namespace {

// The entries of a folder by their upper-case names (of several spellings, the first in byte
// order, so that every run picks the same), and the folder as it was when they were read. A name
// that is not there exactly is looked up in them while the folder is unchanged (the same folder,
// modified at the same time), so that a step that copies many new files into one folder does
// not read the whole folder again for every file.
struct FolderNames {
    dev_t device = 0;
    ino_t inode = 0;
    struct timespec modified {};
    // By the name in upper case: the first such name in byte order, and how many there are.
    struct Names {
        std::string first;
        size_t count = 0;
    };
    std::unordered_map<std::string, Names> byUpperName;
};

constexpr size_t kFoldersKept = 16;

std::unordered_map<std::string, FolderNames>& KeptFolders() {
    static std::unordered_map<std::string, FolderNames> folders;
    return folders;
}

bool Describes(const FolderNames& names, const struct stat& info) {
    return names.device == info.st_dev && names.inode == info.st_ino &&
           names.modified.tv_sec == info.st_mtim.tv_sec && names.modified.tv_nsec == info.st_mtim.tv_nsec;
}

void Remember(FolderNames& names, const struct stat& info) {
    names.device = info.st_dev;
    names.inode = info.st_ino;
    names.modified = info.st_mtim;
}

void AddName(FolderNames& names, std::string name) {
    auto [slot, added] = names.byUpperName.try_emplace(ToUpper(name), FolderNames::Names{name, 0});
    ++slot->second.count;
    if (!added && name < slot->second.first) slot->second.first = std::move(name);
}

// False when the reading can no longer say which name comes first (that one went, others stay).
bool RemoveName(FolderNames& names, std::string_view name) {
    const auto slot = names.byUpperName.find(ToUpper(name));
    if (slot == names.byUpperName.end()) return true;
    if (--slot->second.count == 0) {
        names.byUpperName.erase(slot);
        return true;
    }
    return slot->second.first != name;
}

// The names of a folder, read again when the folder changed since; null when it cannot be read.
// The folder is looked at before it is read: a change while it is read shows at the next look.
const FolderNames* NamesOf(const std::string& dir) {
    struct stat info {};
    if (::stat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return nullptr;
    auto& kept = KeptFolders();
    auto it = kept.find(dir);
    if (it != kept.end() && Describes(it->second, info)) return &it->second;
    DIR* handle = ::opendir(dir.c_str());
    if (handle == nullptr) return nullptr;
    if (it == kept.end()) {
        if (kept.size() >= kFoldersKept) kept.clear();
        it = kept.emplace(dir, FolderNames{}).first;
    }
    FolderNames& names = it->second;
    names.byUpperName.clear();
    Remember(names, info);
    while (const dirent* entry = ::readdir(handle)) AddName(names, entry->d_name);
    ::closedir(handle);
    return &names;
}

}  // namespace

std::string ResolveNameInDir(std::string_view dir, std::string_view name) {
    std::string exact = JoinPath(dir, name);
    struct stat info {};
    if (::lstat(exact.c_str(), &info) == 0) return exact;
    const FolderNames* names = NamesOf(std::string(dir.empty() ? "." : dir));
    if (names == nullptr) return exact;
    const auto found = names->byUpperName.find(ToUpper(name));
    return found == names->byUpperName.end() ? exact : JoinPath(dir, found->second.first);
}

void NoteNamesInDir(std::string_view dir, const struct stat& before, std::string_view added,
                    std::string_view removed) {
    auto& kept = KeptFolders();
    const auto it = kept.find(std::string(dir.empty() ? "." : dir));
    if (it == kept.end() || !Describes(it->second, before)) return;  // read again when next asked
    struct stat info {};
    if (::stat(it->first.c_str(), &info) != 0 || info.st_dev != before.st_dev ||
        info.st_ino != before.st_ino || (!removed.empty() && !RemoveName(it->second, removed))) {
        kept.erase(it);
        return;
    }
    if (!added.empty()) AddName(it->second, std::string(added));
    Remember(it->second, info);
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
