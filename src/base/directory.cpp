#include "base/directory.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

namespace zrx {

Directory::~Directory() {
    if (m_fd >= 0) ::close(m_fd);
}

Directory::Directory(Directory&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

Directory& Directory::operator=(Directory&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

Directory Directory::Open(const std::string& path, std::string& why) {
    const int fd = ::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) why = path + ": " + std::strerror(errno);
    return Directory(fd);
}

Directory Directory::Beneath(std::string_view relative, std::string& why, bool* missing) const {
    if (missing) *missing = false;
    if (m_fd < 0) {
        why = "no folder to start from";
        return Directory();
    }
    const std::vector<std::string> components = PlainComponents(relative);
    if (components.empty() && !relative.empty()) {
        why = std::string(relative) + " is not a plain path beneath its folder";
        return Directory();
    }
    int fd = ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
    std::string walked;
    for (const std::string& component : components) {
        if (fd < 0) break;
        walked += (walked.empty() ? "" : "/") + component;
        const int next = ::openat(fd, component.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int error = errno;
        ::close(fd);
        fd = next;
        if (fd < 0) {
            if (error == ENOENT && missing) *missing = true;
            why = walked + (error == ELOOP || error == ENOTDIR ? " is not a folder (a link, or a file)"
                                                               : std::string(": ") + std::strerror(error));
        }
    }
    return Directory(fd);
}

Directory Directory::Duplicate() const {
    return Directory(m_fd < 0 ? -1 : ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0));
}

bool Directory::MakeFolder(const std::string& name, std::string& why, mode_t mode) const {
    if (!IsPlainComponent(name)) {
        why = name + " is not a plain name";
        return false;
    }
    if (::mkdirat(m_fd, name.c_str(), mode) == 0) return true;
    why = name + ": " + std::strerror(errno);
    return false;
}

bool Directory::Look(const std::string& name, struct stat& info) const {
    return ::fstatat(m_fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

int Directory::CreateTemporary(std::string_view forName, std::string& tempName, std::string& why) const {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char random[6];
        if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) continue;
        tempName.assign(".").append(forName).append(".zrxtmp-");
        for (unsigned char c : random) tempName += kLetters[c % (sizeof kLetters - 1)];
        const int fd =
            ::openat(m_fd, tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) return fd;
        if (errno != EEXIST) break;
    }
    why = std::string("cannot write in the folder: ") + std::strerror(errno);
    return -1;
}

bool Directory::Sync() const {
    return m_fd >= 0 && ::fsync(m_fd) == 0;
}

bool Directory::ReplaceWhole(const std::string& name, std::string_view content, mode_t mode,
                             const std::string& shownPath, std::string& why) const {
    std::string temp;
    const int out = CreateTemporary(name, temp, why);
    if (out < 0) return false;
    bool ok = true;
    for (size_t written = 0; ok && written < content.size();) {
        const ssize_t put = ::write(out, content.data() + written, content.size() - written);
        if (put < 0 && errno == EINTR) continue;
        ok = put > 0;
        if (ok) written += static_cast<size_t>(put);
    }
    ok = ok && ::fchmod(out, mode) == 0 && ::fsync(out) == 0;
    ok = ::close(out) == 0 && ok;
    ok = ok && ::renameat(m_fd, temp.c_str(), m_fd, name.c_str()) == 0;
    if (!ok) {
        why = shownPath + " cannot be written: " + std::strerror(errno);
        ::unlinkat(m_fd, temp.c_str(), 0);
        return false;
    }
    Sync();
    return true;
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

bool CopyDescriptor(int in, int out, std::string* digest, std::string& why) {
    DigestContext context;
    if (digest &&
        (context.context == nullptr || EVP_DigestInit_ex(context.context, EVP_sha256(), nullptr) != 1)) {
        why = "no digest";
        return false;
    }
    static thread_local std::vector<unsigned char> buffer(1 << 16);
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            why = std::string("cannot read: ") + std::strerror(errno);
            return false;
        }
        if (got == 0) break;
        if (digest) EVP_DigestUpdate(context.context, buffer.data(), static_cast<size_t>(got));
        for (ssize_t done = 0; done < got;) {
            const ssize_t n = ::write(out, buffer.data() + done, static_cast<size_t>(got - done));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                why = std::string("cannot write: ") + std::strerror(errno);
                return false;
            }
            done += n;
        }
    }
    if (digest) {
        unsigned char bytes[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        if (EVP_DigestFinal_ex(context.context, bytes, &length) != 1) {
            why = "no digest";
            return false;
        }
        *digest = Hex(bytes, length);
    }
    return true;
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

std::string Sha256OfText(std::string_view text) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(text.data(), text.size(), out, &length, EVP_sha256(), nullptr) != 1) return {};
    return Hex(out, length);
}

}  // namespace zrx
