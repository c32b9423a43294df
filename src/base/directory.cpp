#include "base/directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/file.h>
#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <utility>

#include "base/text_utils.h"

namespace zrx {

FileHandle::~FileHandle() {
    if (m_fd >= 0) ::close(m_fd);
}

FileHandle::FileHandle(FileHandle&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

bool FileHandle::Close() {
    if (m_fd < 0) return true;
    return ::close(std::exchange(m_fd, -1)) == 0;
}

Directory::~Directory() {
    if (m_fd >= 0) ::close(m_fd);
}

Directory::Directory(Directory&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)),
      m_identified(std::exchange(other.m_identified, false)),
      m_device(other.m_device),
      m_inode(other.m_inode) {}

Directory& Directory::operator=(Directory&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
        m_identified = std::exchange(other.m_identified, false);
        m_device = other.m_device;
        m_inode = other.m_inode;
    }
    return *this;
}

Result<Directory> Directory::Open(const std::string& path) {
    const int fd = ::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return Failure{path + ": " + std::strerror(errno)};
    return Directory(fd);
}

Result<Directory> Directory::Beneath(std::string_view relative, bool* missing) const {
    if (missing) *missing = false;
    if (m_fd < 0) return Failure{"no folder to start from"};
    const std::vector<std::string> components = PlainComponents(relative);
    if (components.empty() && !relative.empty())
        return Failure{std::string(relative) + " is not a plain path beneath its folder"};
    int fd = ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) return Failure{std::string("no handle: ") + std::strerror(errno)};
    std::string walked;
    for (const std::string& component : components) {
        walked += (walked.empty() ? "" : "/") + component;
        const int next = ::openat(fd, component.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int error = errno;
        ::close(fd);
        fd = next;
        if (fd < 0) {
            if (error == ENOENT && missing) *missing = true;
            return Failure{walked + (error == ELOOP || error == ENOTDIR
                                         ? " is not a folder (a link, or a file)"
                                         : std::string(": ") + std::strerror(error))};
        }
    }
    return Directory(fd);
}

Directory Directory::Duplicate() const {
    return Directory(m_fd < 0 ? -1 : ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0));
}

Directory Directory::Reopen() const {
    return Directory(m_fd < 0 ? -1 : ::openat(m_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

Outcome Directory::MakeFolder(const std::string& name, mode_t mode) const {
    if (!IsPlainComponent(name)) return Failure{name + " is not a plain name"};
    if (::mkdirat(m_fd, name.c_str(), mode) == 0) return {};
    return Failure{name + ": " + std::strerror(errno)};
}

bool Directory::Look(const std::string& name, struct stat& info) const {
    return ::fstatat(m_fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

Result<Directory::Temporary> Directory::CreateTemporary(std::string_view forName) const {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char random[6];
        if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) continue;
        std::string letters;
        for (unsigned char c : random) letters += kLetters[c % (sizeof kLetters - 1)];
        std::string name = TemporaryName(forName, letters);
        FileHandle file(
            ::openat(m_fd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!file.IsOpen()) {
            if (errno != EEXIST) break;
            continue;
        }
        // Locked for as long as the descriptor is open, so that a sweep of what killed programs
        // left (RemoveLeftTemporaries) never takes a file that a running one still writes. A sweep
        // that came between the making and the lock took the name: another one is made then.
        struct stat opened {
        }, named{};
        if (::flock(file.Fd(), LOCK_EX | LOCK_NB) == 0 && ::fstat(file.Fd(), &opened) == 0 &&
            ::fstatat(m_fd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            opened.st_ino == named.st_ino && opened.st_dev == named.st_dev)
            return Temporary{std::move(file), std::move(name)};
    }
    return Failure{std::string("cannot write in the folder: ") + std::strerror(errno)};
}

bool Directory::Sync() const {
    return m_fd >= 0 && ::fsync(m_fd) == 0;
}

Outcome Directory::ReplaceWhole(const std::string& name, std::string_view content, mode_t mode,
                                const std::string& shownPath) const {
    auto temporary = CreateTemporary(name);
    if (!temporary) return Failure{temporary.Why()};
    FileHandle& out = temporary->file;
    const std::string& temp = temporary->name;
    bool ok = WriteAll(out.Fd(), content);
    ok = ok && ::fchmod(out.Fd(), mode) == 0 && ::fsync(out.Fd()) == 0;
    ok = ok && ::renameat(m_fd, temp.c_str(), m_fd, name.c_str()) == 0;
    if (!ok) {
        const int error = errno;
        ::unlinkat(m_fd, temp.c_str(), 0);
        return Failure{shownPath + " cannot be written: " + std::strerror(error)};
    }
    out.Close();
    Sync();
    return {};
}

bool Directory::Info(struct stat& info) const {
    return m_fd >= 0 && ::fstat(m_fd, &info) == 0;
}

bool Directory::Identity(dev_t& device, ino_t& inode) const {
    struct stat info {};
    if (!m_identified && Info(info)) {
        m_device = info.st_dev;
        m_inode = info.st_ino;
        m_identified = true;
    }
    device = m_device;
    inode = m_inode;
    return m_identified;
}

Result<FileHandle> Directory::OpenRegular(const std::string& name, struct stat* info, bool* missing) const {
    if (missing) *missing = false;
    if (!IsPlainComponent(name)) return Failure{name + " is not a plain file name"};
    // Without waiting: the open of a FIFO with no writer would otherwise wait for one.
    FileHandle file(::openat(m_fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file.IsOpen()) {
        const int error = errno;
        if (error == ENOENT && missing) *missing = true;
        return Failure{name + (error == ELOOP    ? " is a symbolic link, not a file"
                               : error == ENOENT ? " is missing"
                                                 : std::string(" cannot be read: ") + std::strerror(error))};
    }
    struct stat seen {};
    if (::fstat(file.Fd(), &seen) != 0 || !S_ISREG(seen.st_mode))
        return Failure{name +
                       (S_ISDIR(seen.st_mode) ? " is a folder, not a file" : " is not a regular file")};
    // Reads from here on wait as reads of a file do.
    const int flags = ::fcntl(file.Fd(), F_GETFL);
    if (flags >= 0) ::fcntl(file.Fd(), F_SETFL, flags & ~O_NONBLOCK);
    if (info) *info = seen;
    return file;
}

Result<std::string> Directory::ReadWhole(const std::string& name, size_t limit, bool* missing) const {
    struct stat info {};
    const auto file = OpenRegular(name, &info, missing);
    if (!file) return Failure{file.Why()};
    return ReadDescriptor(file->Fd(), name, limit);
}

Result<std::string> ReadDescriptor(int fd, const std::string& name, size_t limit) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || ::lseek(fd, 0, SEEK_SET) != 0)
        return Failure{name + " cannot be read: " + std::strerror(errno)};
    if (static_cast<uint64_t>(info.st_size) > limit)
        return Failure{name + " is larger than it can be (" + std::to_string(info.st_size) + " bytes)"};
    std::string content(static_cast<size_t>(info.st_size) + 1, '\0');
    size_t got = 0;
    for (;;) {
        if (got == content.size()) {
            if (content.size() > limit)
                return Failure{name + " grew beyond what it can be while it was read"};
            content.resize(std::min(2 * content.size(), limit + 1));
        }
        const ssize_t n = ::read(fd, content.data() + got, content.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Failure{name + " cannot be read: " + std::strerror(errno)};
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    content.resize(got);
    return content;
}

namespace {

// The entries of a folder by their upper-case names (of several spellings, the first in byte
// order, so that every run picks the same), and the folder as it was when they were read. A name
// that is not there exactly is looked up in them while the folder is unchanged (the same folder,
// modified at the same time), so that a step that copies many new files into one folder does not
// read the whole folder again for every file. Kept by the folder's device and inode, so that a
// folder reached by a handle or by a path is read once.
struct FolderNames {
    struct timespec modified {};
    // By the name in upper case: the first such name in byte order, and how many there are.
    struct Names {
        std::string first;
        size_t count = 0;
    };
    std::unordered_map<std::string, Names> byUpperName;
};

struct FolderKey {
    dev_t device;
    ino_t inode;
    bool operator==(const FolderKey&) const = default;
};
struct FolderKeyHash {
    size_t operator()(const FolderKey& key) const {
        return std::hash<uint64_t>()(static_cast<uint64_t>(key.device) * 1000003u ^
                                     static_cast<uint64_t>(key.inode));
    }
};

constexpr size_t kFoldersKept = 16;

std::unordered_map<FolderKey, FolderNames, FolderKeyHash>& KeptFolders() {
    static std::unordered_map<FolderKey, FolderNames, FolderKeyHash> folders;
    return folders;
}

bool SameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
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

// Calls `visit` with the name of every entry of an open folder but "." and "..". False when the
// folder cannot be read.
template <typename Visit>
bool ForEachEntry(int folder, Visit visit) {
    const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return false;
    }
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != ".." && !visit(std::string(name))) break;
        errno = 0;
    }
    const bool read = errno == 0;
    ::closedir(dir);
    return read;
}

// The names of an open folder, read again when the folder changed since; null when it cannot be
// read. The folder is looked at before it is read: a change while it is read shows at the next look.
const FolderNames* NamesOf(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISDIR(info.st_mode)) return nullptr;
    auto& kept = KeptFolders();
    const FolderKey key{info.st_dev, info.st_ino};
    auto it = kept.find(key);
    if (it != kept.end() && SameTime(it->second.modified, info.st_mtim)) return &it->second;
    FolderNames names;
    names.modified = info.st_mtim;
    if (!ForEachEntry(fd, [&names](std::string name) { return AddName(names, std::move(name)), true; }))
        return nullptr;
    if (it == kept.end() && kept.size() >= kFoldersKept) kept.clear();
    return &(kept[key] = std::move(names));
}

}  // namespace

std::optional<std::string> Directory::Find(std::string_view name) const {
    if (m_fd < 0 || !IsPlainComponent(name)) return std::nullopt;
    struct stat info {};
    const std::string exact(name);
    if (::fstatat(m_fd, exact.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) return exact;
    const FolderNames* names = NamesOf(m_fd);
    if (names == nullptr) return std::nullopt;
    const auto found = names->byUpperName.find(ToUpper(name));
    if (found == names->byUpperName.end()) return std::nullopt;
    return found->second.first;
}

std::string Directory::Spelling(std::string_view name) const {
    auto found = Find(name);
    return found ? std::move(*found) : std::string(name);
}

void Directory::NoteChange(const struct stat& before, std::string_view added,
                           std::string_view removed) const {
    auto& kept = KeptFolders();
    const auto it = kept.find(FolderKey{before.st_dev, before.st_ino});
    if (it == kept.end() || !SameTime(it->second.modified, before.st_mtim))
        return;  // read again when next asked
    struct stat info {};
    if (!Info(info) || info.st_dev != before.st_dev || info.st_ino != before.st_ino ||
        (!removed.empty() && !RemoveName(it->second, removed))) {
        kept.erase(it);
        return;
    }
    if (!added.empty()) AddName(it->second, std::string(added));
    it->second.modified = info.st_mtim;
}

bool Directory::List(std::vector<std::string>& names) const {
    names.clear();
    return m_fd >= 0 &&
           ForEachEntry(m_fd, [&names](std::string name) { return names.push_back(std::move(name)), true; });
}

namespace {

// Removes everything beneath an open folder, never following a link; `depth` bounds the descent.
bool RemoveContents(int folder, int depth) {
    bool removed = true;
    std::vector<std::string> names;
    if (!ForEachEntry(folder, [&names](std::string name) { return names.push_back(std::move(name)), true; }))
        return false;
    for (const std::string& name : names) {
        struct stat info {};
        if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            removed = removed && errno == ENOENT;
            continue;
        }
        if (S_ISDIR(info.st_mode)) {
            const FileHandle inner(
                ::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!inner.IsOpen() || depth > 64 || !RemoveContents(inner.Fd(), depth + 1)) removed = false;
        }
        if (::unlinkat(folder, name.c_str(), S_ISDIR(info.st_mode) ? AT_REMOVEDIR : 0) != 0 &&
            errno != ENOENT)
            removed = false;
    }
    return removed;
}

}  // namespace

bool Directory::RemoveTree(const std::string& name) const {
    if (m_fd < 0 || !IsPlainComponent(name)) return false;
    struct stat info {};
    if (::fstatat(m_fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
    if (S_ISDIR(info.st_mode)) {
        const FileHandle inner(::openat(m_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!inner.IsOpen() || !RemoveContents(inner.Fd(), 0)) return false;
    }
    return ::unlinkat(m_fd, name.c_str(), S_ISDIR(info.st_mode) ? AT_REMOVEDIR : 0) == 0 || errno == ENOENT;
}

std::string Directory::PathThrough(const std::string& name) const {
    return "/proc/self/fd/" + std::to_string(m_fd) + "/" + name;
}

bool Directory::Within(const Directory& other) const {
    struct stat target {
    }, at{};
    if (!other.Info(target) || !Info(at)) return false;
    FileHandle walk(::openat(m_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (int depth = 0; walk.IsOpen() && depth < 4096; ++depth) {
        if (::fstat(walk.Fd(), &at) != 0) return false;
        if (at.st_dev == target.st_dev && at.st_ino == target.st_ino) return true;
        FileHandle parent(::openat(walk.Fd(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct stat up {};
        if (!parent.IsOpen() || ::fstat(parent.Fd(), &up) != 0) return false;
        if (up.st_dev == at.st_dev && up.st_ino == at.st_ino) return false;  // the root
        walk = std::move(parent);
    }
    return false;
}

std::string Directory::RealPathOf(const std::string& name) const {
    if (m_fd < 0) return {};
    char* real = ::realpath(PathThrough(name).c_str(), nullptr);
    std::string result = real ? real : "";
    std::free(real);
    return result;
}

Result<std::shared_ptr<const Directory>> HeldFolders::Of(const std::string& path) {
    const auto it = m_folders.find(path);
    if (it != m_folders.end()) return it->second;
    auto opened = Directory::Open(path);
    if (!opened) return Failure{opened.Why()};
    std::shared_ptr<const Directory> folder = std::make_shared<Directory>(std::move(*opened));
    return m_folders.emplace(path, std::move(folder)).first->second;
}

void HeldFolders::Hold(const std::string& path, std::shared_ptr<const Directory> folder) {
    m_folders[path] = std::move(folder);
}

std::shared_ptr<const Directory> HeldFolders::Held(const std::string& path) const {
    const auto it = m_folders.find(path);
    return it == m_folders.end() ? nullptr : it->second;
}

void HeldFolders::Release(const std::string& path) { m_folders.erase(path); }

std::string TemporaryName(std::string_view forName, std::string_view random) {
    constexpr std::string_view kMark = ".zrxtmp-";
    const size_t room = kLongestEntryName - 1 - kMark.size() - random.size();
    if (forName.size() > room) {
        forName = forName.substr(0, room);
        // Not in the middle of a character's bytes.
        while (!forName.empty() && (static_cast<unsigned char>(forName.back()) & 0xc0) == 0x80)
            forName.remove_suffix(1);
        if (!forName.empty() && static_cast<unsigned char>(forName.back()) >= 0xc0) forName.remove_suffix(1);
    }
    std::string name = ".";
    name.append(forName).append(kMark).append(random);
    return name;
}

bool IsTemporaryName(std::string_view name) {
    constexpr std::string_view kMark = ".zrxtmp-";
    const size_t mark = name.rfind(kMark);
    if (!name.starts_with('.') || mark == std::string_view::npos || mark == 0 ||
        name.size() != mark + kMark.size() + 6)
        return false;
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(mark + kMark.size()), name.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

bool IsPlainComponent(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

std::vector<std::string> PlainComponents(std::string_view relative) {
    std::vector<std::string> components;
    while (!relative.empty()) {
        const size_t slash = relative.find('/');
        const std::string_view component = relative.substr(0, slash);
        if (!IsPlainComponent(component)) return {};
        components.emplace_back(component);
        if (slash == std::string_view::npos) break;
        relative.remove_prefix(slash + 1);
        if (relative.empty()) return {};  // a trailing separator
    }
    return components;
}

FileIdentity IdentityOf(const struct stat& info) {
    return {static_cast<int64_t>(info.st_dev), static_cast<int64_t>(info.st_ino),
            static_cast<int64_t>(info.st_size),
            static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

namespace {

struct DigestContext {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    ~DigestContext() { EVP_MD_CTX_free(context); }
};

std::string Hex(const unsigned char* bytes, unsigned int length) {
    static const char kHex[] = "0123456789abcdef";
    std::string text(2 * static_cast<size_t>(length), '0');
    for (unsigned int i = 0; i < length; ++i) {
        text[2 * i] = kHex[bytes[i] >> 4];
        text[2 * i + 1] = kHex[bytes[i] & 15];
    }
    return text;
}

}  // namespace

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

Outcome CopyDescriptor(int in, int out, std::string* digest) {
    DigestContext context;
    if (digest &&
        (context.context == nullptr || EVP_DigestInit_ex(context.context, EVP_sha256(), nullptr) != 1)) {
        return Failure{"no digest"};
    }
    static thread_local std::vector<unsigned char> buffer(1 << 16);
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return Failure{std::string("cannot read: ") + std::strerror(errno)};
        if (got == 0) break;
        if (digest) EVP_DigestUpdate(context.context, buffer.data(), static_cast<size_t>(got));
        if (!WriteAll(out, {reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(got)}))
            return Failure{std::string("cannot write: ") + std::strerror(errno)};
    }
    if (digest) {
        unsigned char bytes[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        if (EVP_DigestFinal_ex(context.context, bytes, &length) != 1) return Failure{"no digest"};
        *digest = Hex(bytes, length);
    }
    return {};
}

std::string Sha256OfDescriptor(int fd) {
    DigestContext digest;
    if (digest.context == nullptr || EVP_DigestInit_ex(digest.context, EVP_sha256(), nullptr) != 1) return {};
    static thread_local std::vector<unsigned char> buffer(1 << 16);
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return {};
        if (got == 0) break;
        if (EVP_DigestUpdate(digest.context, buffer.data(), static_cast<size_t>(got)) != 1) return {};
    }
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(digest.context, out, &length) != 1) return {};
    return Hex(out, length);
}

}  // namespace zrx
