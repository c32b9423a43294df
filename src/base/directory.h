#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zrx {

// An open directory, closed with the object. Paths beneath it are reached one component at a time
// through directory handles, so that a link, "..", or a folder swapped for a link between a look
// and a write can never lead a write (or a removal) anywhere else.
class Directory {
public:
    Directory() = default;
    ~Directory();
    Directory(Directory&& other) noexcept;
    Directory& operator=(Directory&& other) noexcept;
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;

    // A folder as configured (the installation's directories): links on the way are followed.
    static Directory Open(const std::string& path, std::string& why);
    // A folder beneath this one: every component of `relative` ('/'-separated) a plain name and a
    // real directory, never a link. `missing` tells whether a component did not exist.
    Directory Beneath(std::string_view relative, std::string& why, bool* missing = nullptr) const;

    // A second handle on the same folder.
    Directory Duplicate() const;

    bool IsOpen() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }
    // Makes a new folder `name` here (`mode` less the umask); false with why.
    bool MakeFolder(const std::string& name, std::string& why, mode_t mode = 0777) const;
    // The entry `name` here, not followed when it is a link; false when it does not exist.
    bool Look(const std::string& name, struct stat& info) const;
    // Creates a new, empty temporary file here named after `forName` (".<forName>.zrxtmp-XXXXXX"),
    // its name in `tempName`; the descriptor, or -1 with why.
    int CreateTemporary(std::string_view forName, std::string& tempName, std::string& why) const;
    // Makes what was written to this folder's entries (new names, renames) durable.
    bool Sync() const;
    // Puts `content` in place of `name` here whole (permissions `mode`): written to a temporary
    // file beside it, flushed, renamed over it, the rename made durable. False with why (naming
    // `shownPath`), the old file left as it was.
    bool ReplaceWhole(const std::string& name, std::string_view content, mode_t mode, const std::string& shownPath,
                      std::string& why) const;

private:
    explicit Directory(int fd) : m_fd(fd) {}
    int m_fd = -1;
};

// Whether a name can stand for one component of a path: not empty, not "." or "..", no separator
// and no NUL.
bool IsPlainComponent(std::string_view name);
// The components of a '/'-separated relative path; empty when one of them is not plain.
std::vector<std::string> PlainComponents(std::string_view relative);

// The identity of a file as far as a later look can tell it from another: device, inode, size and
// modification time.
struct FileIdentity {
    int64_t device = 0, inode = 0, size = 0, modified = 0;  // modified: nanoseconds since the epoch
    bool operator==(const FileIdentity&) const = default;
};
FileIdentity IdentityOf(const struct stat& info);

// Copies the rest of what `in` reads into `out`; with `digest`, also the SHA-256 of the bytes (64
// lower-case hex digits). False with why.
bool CopyDescriptor(int in, int out, std::string* digest, std::string& why);

// The SHA-256 of what a descriptor reads from its current position to the end, as 64 lower-case
// hex digits; "" when it cannot be read.
std::string Sha256OfDescriptor(int fd);
// The same of a text.
std::string Sha256OfText(std::string_view text);

}  // namespace zrx
