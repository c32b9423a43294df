#include "ui/file_system_lists.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "base/paths.h"
#include "base/text_utils.h"

namespace zrx::ui {

namespace {

// Mount points in /proc/mounts escape blanks and a few other characters as octal.
std::string UnescapeMountPath(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size()) {
            const std::string octal = text.substr(i + 1, 3);
            if (octal.size() == 3 && std::all_of(octal.begin(), octal.end(), [](char c) { return c >= '0' && c <= '7'; })) {
                out += static_cast<char>(std::stoi(octal, nullptr, 8));
                i += 3;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

bool IsPseudoFileSystem(const std::string& type, const std::string& mountPoint) {
    static const std::set<std::string> kPseudo = {
        "proc",   "sysfs",   "devtmpfs", "devpts",  "cgroup",  "cgroup2", "securityfs", "pstore",    "debugfs",
        "tracefs", "mqueue", "hugetlbfs", "configfs", "fusectl", "bpf",    "autofs",     "binfmt_misc", "nsfs",
        "rpc_pipefs", "efivarfs", "overlay", "squashfs", "ramfs"};
    if (kPseudo.count(type)) return true;
    for (const char* prefix : {"/proc", "/sys", "/dev", "/run", "/snap", "/boot/efi"})
        if (StartsWith(mountPoint, prefix)) return true;
    return false;
}

}  // namespace

std::vector<std::string> MountedVolumes() {
    std::vector<std::string> volumes = {"/"};
    if (const char* home = std::getenv("HOME");
        home != nullptr && *home != '\0' && std::string(home) != "/" &&
        IsDirectory(home))  // file-access: the folders the user browses, listed to show them
        volumes.emplace_back(home);
    std::ifstream mounts("/proc/mounts");  // file-access: the folders the user browses, listed to show them
    std::string line;
    std::vector<std::string> others;
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::string device, mountPoint, type;
        fields >> device >> mountPoint >> type;
        mountPoint = UnescapeMountPath(mountPoint);
        if (mountPoint.empty() || mountPoint == "/" || IsPseudoFileSystem(type, mountPoint)) continue;
        if (std::find(volumes.begin(), volumes.end(), mountPoint) != volumes.end()) continue;
        if (std::find(others.begin(), others.end(), mountPoint) != others.end()) continue;
        others.push_back(mountPoint);
    }
    std::sort(others.begin(), others.end());
    volumes.insert(volumes.end(), others.begin(), others.end());
    return volumes;
}

DriveList::DriveList(std::string name) : ListBox(std::move(name)) {
    SetItems(MountedVolumes());
    SetListIndex(0);
}

std::string DriveList::Drive() const { return ListIndex() >= 0 ? List(ListIndex()) : std::string(); }

void DriveList::SetDriveFor(const std::string& path) {
    int best = -1;
    size_t bestLength = 0;
    for (int i = 0; i < ListCount(); ++i) {
        const std::string& volume = List(i);
        const bool contains = volume == "/" || path == volume || StartsWith(path, volume + "/");
        if (contains && volume.size() >= bestLength) best = i, bestLength = volume.size();
    }
    if (best >= 0) SetListIndex(best);
}

void DriveList::UserChoose(int index) {
    SetListIndex(index);
    if (onChange) onChange();
}

bool DirList::SetPath(const std::string& path) {
    const std::string dir = path.empty() ? std::string() : WithoutTrailingSeparator(path);
    DIR* handle =
        dir.empty()
            ? nullptr
            : ::opendir(dir.c_str());  // file-access: the folders the user browses, listed to show them
    if (handle == nullptr) return false;
    std::vector<std::string> subdirs;
    while (dirent* entry = ::readdir(handle)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (IsDirectory(JoinPath(dir, name)))
            subdirs.push_back(name);  // file-access: the folders the user browses, listed to show them
    }
    ::closedir(handle);
    std::sort(subdirs.begin(), subdirs.end());

    std::vector<std::string> lines;
    m_linePaths.clear();
    // The ancestors, from the root down to the directory itself.
    std::string walked;
    lines.emplace_back("/");
    m_linePaths.emplace_back("/");
    size_t start = 1;
    while (start < dir.size()) {
        const size_t end = dir.find('/', start);
        const std::string part = dir.substr(start, end == std::string::npos ? std::string::npos : end - start);
        walked += "/" + part;
        lines.push_back(part);
        m_linePaths.push_back(walked);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    const int current = static_cast<int>(lines.size()) - 1;
    for (const std::string& sub : subdirs) {
        lines.push_back(sub);
        m_linePaths.push_back(JoinPath(dir, sub));
    }
    m_path = dir;
    SetItems(std::move(lines));
    SetListIndex(current);
    return true;
}

std::string DirList::LinePath(int line) const {
    return line >= 0 && static_cast<size_t>(line) < m_linePaths.size() ? m_linePaths[static_cast<size_t>(line)]
                                                                      : m_path;
}

void DirList::UserOpen(int line) {
    if (SetPath(LinePath(line)) && onChange) onChange();
}

bool FileList::SetPath(const std::string& path) {
    m_path = path;
    Refresh();
    return IsDirectory(path);  // file-access: the folders the user browses, listed to show them
}

void FileList::SetPattern(const std::string& pattern) {
    m_pattern = pattern;
    Refresh();
}

void FileList::Refresh() {
    std::vector<std::string> files;
    std::vector<std::string> patterns;
    std::stringstream split(m_pattern);
    for (std::string p; std::getline(split, p, ';');)
        if (!TrimBlanks(p).empty()) patterns.push_back(TrimBlanks(p));
    if (DIR* handle =
            m_path.empty()
                ? nullptr
                : ::opendir(
                      m_path.c_str())) {  // file-access: the folders the user browses, listed to show them
        while (dirent* entry = ::readdir(handle)) {
            const std::string name = entry->d_name;
            if (name == "." || name == ".." || !IsRegularFile(JoinPath(m_path, name)))
                continue;  // file-access: the folders the user browses, listed to show them
            for (const std::string& p : patterns) {
                // Patterns match without regard to case, as on the systems the suite's folders
                // come from ("Mixed.Part" is a part library).
                if (p == "*.*" || p == "*" || ::fnmatch(p.c_str(), name.c_str(), FNM_PERIOD | FNM_CASEFOLD) == 0) {
                    files.push_back(name);
                    break;
                }
            }
        }
        ::closedir(handle);
    }
    std::sort(files.begin(), files.end());
    SetItems(std::move(files));
}

}  // namespace zrx::ui
