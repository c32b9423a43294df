#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/outcome.h"

namespace zrx {

// A file descriptor, closed with the object.
class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(int fd) : m_fd(fd) {}
    ~FileHandle();
    FileHandle(FileHandle&& other) noexcept;
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    bool IsOpen() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }
    // Closes it now; false when the close reported a failure (a write that did not reach the file).
    bool Close();
    // Gives the descriptor up to the caller, who closes it.
    int Release() { return std::exchange(m_fd, -1); }

private:
    int m_fd = -1;
};

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
    static Result<Directory> Open(const std::string& path);
    // A folder beneath this one: every component of `relative` ('/'-separated) a plain name and a
    // real directory, never a link. `missing` tells whether a component did not exist.
    Result<Directory> Beneath(std::string_view relative, bool* missing = nullptr) const;

    // A second handle on the same folder (sharing this one's lock, if it holds one).
    Directory Duplicate() const;
    // A handle of its own on the same folder, opened anew: a lock on this one is not its lock.
    Directory Reopen() const;

    bool IsOpen() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }
    // Makes a new folder `name` here (`mode` less the umask).
    Outcome MakeFolder(const std::string& name, mode_t mode = 0777) const;
    // The entry `name` here, not followed when it is a link; false when it does not exist.
    bool Look(const std::string& name, struct stat& info) const;
    // A new, empty temporary file here named after `forName` (".<forName>.zrxtmp-XXXXXX"), open,
    // and locked for as long as it is open.
    struct Temporary {
        FileHandle file;
        std::string name;
    };
    Result<Temporary> CreateTemporary(std::string_view forName) const;
    // Makes what was written to this folder's entries (new names, renames) durable.
    bool Sync() const;
    // The folder's own stat (its device, inode, permissions, owner); false when it cannot be had.
    bool Info(struct stat& info) const;
    // The folder's device and inode, which stay what they are for as long as it is open: looked
    // at once. False when they cannot be had.
    bool Identity(dev_t& device, ino_t& inode) const;

    // Opens the entry `name` here for reading: a regular file only, never through a link, and never
    // a FIFO, device or socket, whose open or read could wait forever. `info`, when given, receives
    // the file's stat. Why not names `name`; `missing` tells a name that is not there.
    Result<FileHandle> OpenRegular(const std::string& name, struct stat* info = nullptr,
                                   bool* missing = nullptr) const;
    // The regular file `name` here, read whole; why not when it is missing, not a regular file,
    // larger than `limit` bytes (checked before it is read) or cannot be read.
    Result<std::string> ReadWhole(const std::string& name, size_t limit = SIZE_MAX,
                                  bool* missing = nullptr) const;
    // The entry `name` as this folder spells it: the exact name when it exists, otherwise the
    // entry whose name equals it without regard to case (of several, the first in byte order);
    // nothing when neither is there. Folders are read once and again only when they changed.
    std::optional<std::string> Find(std::string_view name) const;
    // Find, or the name itself when nothing matches (where a new entry would go).
    std::string Spelling(std::string_view name) const;
    // Tells the names Find keeps that this handle has just changed the folder, which was as
    // `before` (its stat) until then: `added` is a new name in it, `removed` a name gone.
    void NoteChange(const struct stat& before, std::string_view added, std::string_view removed = {}) const;
    // The names of the folder's entries, but "." and ".."; false when it cannot be read.
    bool List(std::vector<std::string>& names) const;
    // Removes the entry `name` and, for a folder, everything beneath it; never follows a link.
    // False when something could not be removed.
    bool RemoveTree(const std::string& name) const;
    // A path to `name` in this folder that resolves through this handle for as long as it is open
    // (for a library that others open by a path): "/proc/self/fd/N/name" on Linux.
    std::string PathThrough(const std::string& name) const;
    // Whether this folder is `other` or lies beneath it, as their ".." entries lead now.
    bool Within(const Directory& other) const;
    // The real path of what `name` here leads to, every link followed ("." for the folder itself);
    // "" when it leads nowhere.
    std::string RealPathOf(const std::string& name) const;
    // Puts `content` in place of `name` here whole (permissions `mode`): written to a temporary
    // file beside it, flushed, renamed over it, the rename made durable. A failure names
    // `shownPath`; the old file is left as it was.
    Outcome ReplaceWhole(const std::string& name, std::string_view content, mode_t mode,
                         const std::string& shownPath) const;

    // A handle taken over: an open directory descriptor.
    static Directory Adopt(int fd) { return Directory(fd); }

private:
    explicit Directory(int fd) : m_fd(fd) {}
    int m_fd = -1;
    mutable bool m_identified = false;
    mutable dev_t m_device = 0;
    mutable ino_t m_inode = 0;
};

// Folders opened by their paths once and then held, so that everything beneath them is reached
// through the handle that was opened first, whatever happens to the path meanwhile: the
// installation's folders, resolved at start. A folder that cannot be opened is tried again when
// it is next asked for.
class HeldFolders {
public:
    // The folder at `path`, opened now when it is not held yet.
    Result<std::shared_ptr<const Directory>> Of(const std::string& path);
    // Holds `folder` for `path` from now on, in place of what was held for it.
    void Hold(const std::string& path, std::shared_ptr<const Directory> folder);
    // The folder held for `path`, null when none is (nothing is opened).
    std::shared_ptr<const Directory> Held(const std::string& path) const;
    // Lets go of what is held for `path`: the next ask opens it anew.
    void Release(const std::string& path);

private:
    std::map<std::string, std::shared_ptr<const Directory>> m_folders;
};

// The longest name one folder entry may have.
inline constexpr size_t kLongestEntryName = 255;
// The name of a temporary file for `forName`, ".<forName>.zrxtmp-" + `random`, with `forName`
// shortened where the whole would not fit in one folder entry.
std::string TemporaryName(std::string_view forName, std::string_view random);
// Whether a name is one TemporaryName makes.
bool IsTemporaryName(std::string_view name);

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

// Writes all of `bytes` to `fd` (a write cut short goes on where it stopped); false with errno set
// when it cannot (EIO where the system wrote nothing and said no more).
bool WriteAll(int fd, std::string_view bytes);
// Copies the rest of what `in` reads into `out`; with `digest`, also the SHA-256 of the bytes (64
// lower-case hex digits).
Outcome CopyDescriptor(int in, int out, std::string* digest = nullptr);
// The whole content of the open regular file `fd` (named `name` in messages), read from its start;
// a failure when it is larger than `limit`.
Result<std::string> ReadDescriptor(int fd, const std::string& name, size_t limit = SIZE_MAX);

// The SHA-256 of what a descriptor reads from its current position to the end, as 64 lower-case
// hex digits; "" when it cannot be read.
std::string Sha256OfDescriptor(int fd);

}  // namespace zrx
