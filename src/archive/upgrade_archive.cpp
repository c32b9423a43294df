#include "archive/upgrade_archive.h"

#include <archive.h>
#include <archive_entry.h>
#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <set>
#include <unordered_map>
#include <utility>

#include "base/directory.h"
#include "base/text_utils.h"

namespace zrx::archive {

namespace {

// A name longer than this, or nested deeper, is refused before anything is made for it: an
// upgrade folder is flat, and a path of thousands of folders would only cost time to make and
// remove.
constexpr size_t kLongestName = 4096;
constexpr size_t kLongestPart = 255;  // what a folder on Linux takes
constexpr size_t kDeepestName = 16;
// A refused name is shown up to this many bytes.
constexpr size_t kShownName = 200;

// The length of the UTF-8 sequence at the start of `text` when it is a valid one for a printable
// character (not a C1 control, nor a mark that reorders the text around it), otherwise 0.
size_t PrintableSequence(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    size_t length = 0;
    uint32_t code = 0;
    if (lead >= 0xc2 && lead <= 0xdf) length = 2, code = lead & 0x1f;
    else if (lead >= 0xe0 && lead <= 0xef) length = 3, code = lead & 0x0f;
    else if (lead >= 0xf0 && lead <= 0xf4) length = 4, code = lead & 0x07;
    if (length == 0 || text.size() < length) return 0;
    for (size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[i]);
        if ((next & 0xc0) != 0x80) return 0;
        code = (code << 6) | (next & 0x3f);
    }
    const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    const bool invalid = code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff) || code < 0xa0;
    return overlong || invalid || IsReorderingMark(code) ? 0 : length;
}

// What keeps a name from being one an upgrade archive holds, as the rest of a sentence that begins
// "has a name that": a name is text a list can name and a message can show as it is, UTF-8, and
// without the marks that reorder the text around it (a name that reads backwards).
std::optional<std::string> NameTextProblem(std::string_view component) {
    if (!IsValidUtf8(component)) return "is not UTF-8 text; an upgrade archive names its files in UTF-8";
    for (size_t i = 0; i < component.size();) {
        const auto lead = static_cast<unsigned char>(component[i]);
        const size_t length = lead < 0x80 ? 1 : lead < 0xe0 ? 2 : lead < 0xf0 ? 3 : 4;
        if (lead >= 0x80 && PrintableSequence(component.substr(i)) == 0)
            return "holds a character that reorders the text around it, or a control character";
        i += length;
    }
    return std::nullopt;
}

// An entry's name as a message can show it: control characters and bytes that are not UTF-8 are
// escaped, so that a name cannot break the message's line or drive the terminal.
std::string Printable(std::string_view name) {
    static const char kHex[] = "0123456789abcdef";
    std::string shown;
    size_t i = 0;
    while (i < name.size() && shown.size() < kShownName) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c >= 0x20 && c < 0x7f) {
            shown += static_cast<char>(c);
            ++i;
            continue;
        }
        if (c >= 0x80) {
            if (const size_t length = PrintableSequence(name.substr(i))) {
                shown.append(name.substr(i, length));
                i += length;
                continue;
            }
        }
        switch (c) {
            case '\n': shown += "\\n"; break;
            case '\r': shown += "\\r"; break;
            case '\t': shown += "\\t"; break;
            case 0x1b: shown += "\\e"; break;
            default: shown.append("\\x").append(1, kHex[c >> 4]).append(1, kHex[c & 15]);
        }
        ++i;
    }
    if (i < name.size()) shown += "...";
    return shown;
}

std::string Quoted(std::string_view name) { return "\"" + Printable(name) + "\""; }

// libarchive's account of its last failure, printable: it may quote what it read.
std::string ErrorOf(struct archive* a, const char* otherwise) {
    const char* error = archive_error_string(a);
    return error ? Printable(error) : otherwise;
}

// A descriptor closed with the object.
struct Descriptor {
    int fd = -1;
    explicit Descriptor(int value) : fd(value) {}
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
};

// Names in archives are UTF-8 (pax, zip's flagged names) or bytes as they were; libarchive converts
// them to the character set of the current locale, which for a program that never chose one is
// ASCII, so that every name beyond ASCII fails to convert. For as long as this object lives the
// thread uses UTF-8, so that names reach us as they were written; the process's locale is not
// touched.
class Utf8Names {
public:
    Utf8Names() : m_locale(::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0))) {
        if (m_locale != static_cast<locale_t>(0)) m_previous = ::uselocale(m_locale);
    }
    ~Utf8Names() {
        if (m_locale == static_cast<locale_t>(0)) return;
        ::uselocale(m_previous);
        ::freelocale(m_locale);
    }
    Utf8Names(const Utf8Names&) = delete;
    Utf8Names& operator=(const Utf8Names&) = delete;

private:
    locale_t m_locale;
    locale_t m_previous = static_cast<locale_t>(0);
};

struct ReadArchiveFree {
    void operator()(struct archive* a) const { archive_read_free(a); }
};
struct WriteArchiveFree {
    void operator()(struct archive* a) const { archive_write_free(a); }
};
struct EntryFree {
    void operator()(archive_entry* e) const { archive_entry_free(e); }
};

// Calls `visit` with the name of every entry of an open folder but "." and "..". False when the
// folder cannot be read.
template <typename Visit>
bool ForEachEntry(int folder, Visit visit) {
    const int fd = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) return false;
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return false;
    }
    ::rewinddir(dir);  // the copy shares its position with `folder`
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

bool IsEmptyFolder(int folder) {
    bool empty = true;
    return ForEachEntry(folder, [&](const std::string&) { return empty = false; }) && empty;
}

// Removes everything beneath an open folder, never following a link. `depth` bounds the descent to
// the depth this file makes.
bool RemoveContents(int folder, size_t depth = 0) {
    bool removed = true;
    const bool read = ForEachEntry(folder, [&](const std::string& name) {
        struct stat info {};
        if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return removed = false, true;
        if (S_ISDIR(info.st_mode)) {
            const Descriptor inner(::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (inner.fd < 0 || depth > kDeepestName || !RemoveContents(inner.fd, depth + 1)) removed = false;
        }
        if (::unlinkat(folder, name.c_str(), S_ISDIR(info.st_mode) ? AT_REMOVEDIR : 0) != 0) removed = false;
        return true;
    });
    return read && removed;
}

// The mode a file or folder gets: the owner may always read and write it (and enter a folder);
// from the archive only read and execute bits are taken, never write for others nor set-id or
// sticky bits.
mode_t ModeFor(bool folder, mode_t archived) { return (folder ? 0700 : 0600) | (archived & 0555); }

struct Refusal {
    std::string entry, why;
};

// One pass over an archive. The first pass (`make` false) only reads the headers and checks every
// entry, their number and their declared sizes, so that most hostile archives are refused before
// anything is written; the second checks each entry again as it makes it beneath the destination,
// and counts the bytes it writes.
class Unpacker {
public:
    Unpacker(const Directory& root, const Limits& limits, const NameCheck& check, uint64_t archiveSize, bool make)
        : m_root(root), m_limits(limits), m_check(check), m_make(make) {
        m_allowed = limits.totalBytes;
        if (limits.ratio != 0 && archiveSize <= limits.totalBytes / limits.ratio) {
            m_allowed = archiveSize * limits.ratio;
            m_byRatio = true;
        }
    }

    std::optional<Refusal> Run(struct archive* a);
    // The one folder that holds every entry, or "" when there is none.
    std::string TopFolder() const { return m_oneTop ? m_top : std::string(); }

private:
    enum class Kind { ImpliedFolder, Folder, File };

    std::optional<Refusal> Entry(struct archive* a, archive_entry* entry);
    // What an entry is: a plain file or folder of a size the archive may still hold, or refused.
    std::optional<Refusal> CheckKind(archive_entry* entry, const std::string& name, bool folder) const;
    // Makes an entry beneath the folder unpacked into: the folders on its way, then it.
    std::optional<Refusal> Make(struct archive* a, archive_entry* entry, const std::string& name,
                                const std::vector<std::string>& components, const std::vector<bool>& made,
                                bool folder);
    std::optional<Refusal> CheckName(std::string_view name, bool folder, std::vector<std::string>& components) const;
    std::optional<Refusal> Record(const std::string& name, const std::vector<std::string>& components, bool folder,
                                  std::vector<bool>& made);
    std::optional<Refusal> WriteData(struct archive* a, const std::string& name, int fd);
    std::optional<Refusal> SetFolderTimes() const;
    Refusal Refuse(std::string_view name, const std::string& reason) const {
        return {Printable(name), "the entry " + Quoted(name) + " " + reason};
    }
    // Why making an entry failed, from errno. A name that is taken already was not taken by an earlier
    // entry as it is spelt (those are in the table), but the folder holds it: it ignores letter case.
    Refusal CannotMake(std::string_view name) const {
        const int error = errno;
        return Refuse(name, error == EEXIST ? "meets an earlier entry whose name this folder does not tell apart from "
                                              "its own (letters that differ only in case)"
                                            : std::string("cannot be unpacked: ") + std::strerror(error));
    }
    std::string Bound() const {
        return m_byRatio ? "the archive may unpack to at most " + std::to_string(m_limits.ratio) +
                               " times its own size (" + std::to_string(m_allowed) + " bytes)"
                         : "the archive may unpack to at most " + std::to_string(m_allowed) + " bytes in all";
    }

    const Directory& m_root;
    const Limits& m_limits;
    const NameCheck& m_check;
    const bool m_make;
    uint64_t m_allowed = 0;
    bool m_byRatio = false;
    uint64_t m_entries = 0;
    uint64_t m_written = 0;  // declared in the first pass, written in the second
    std::unordered_map<std::string, Kind> m_names;
    std::unordered_map<std::string, std::string> m_spellings;  // the names seen, by their upper case
    std::vector<std::pair<std::string, struct timespec>> m_folderTimes;
    std::string m_top;
    bool m_oneTop = true;
    std::vector<char> m_buffer = std::vector<char>(1 << 16);
};

std::optional<Refusal> Unpacker::Run(struct archive* a) {
    for (;;) {
        archive_entry* entry = nullptr;
        const int status = archive_read_next_header(a, &entry);
        if (status == ARCHIVE_EOF) break;
        if (status != ARCHIVE_OK) {
            return Refusal{{}, m_entries == 0 && status == ARCHIVE_FATAL
                                   ? "the file is not a zip or tar archive that can be read (" +
                                         ErrorOf(a, "unknown format") + ")"
                                   : "the archive is damaged after " + std::to_string(m_entries) + " entries (" +
                                         ErrorOf(a, "unreadable header") + ")"};
        }
        if (++m_entries > m_limits.entries)
            return Refusal{{}, "the archive holds more than " + std::to_string(m_limits.entries) +
                                   " entries, more than an upgrade may hold"};
        if (auto refusal = Entry(a, entry)) return refusal;
    }
    if (m_entries == 0) return Refusal{{}, "the archive holds no files or folders"};
    return m_make ? SetFolderTimes() : std::nullopt;
}

std::optional<Refusal> Unpacker::Entry(struct archive* a, archive_entry* entry) {
    const char* raw = archive_entry_pathname(entry);
    if (raw == nullptr || *raw == '\0') return Refusal{{}, "an entry of the archive has no name"};
    const std::string name = raw;
    const bool folder = archive_entry_filetype(entry) == AE_IFDIR;
    std::vector<std::string> components;
    if (auto refusal = CheckKind(entry, name, folder)) return refusal;
    if (auto refusal = CheckName(name, folder, components)) return refusal;
    // "./" itself, as tar writes it for the folder it was given: the folder we unpack into.
    if (components.empty()) return std::nullopt;
    if (archive_entry_is_encrypted(entry))
        return Refuse(name, "is encrypted; an upgrade is unpacked only from an archive without a password");
    if (!folder && archive_entry_size_is_set(entry)) {
        const int64_t declared = archive_entry_size(entry);
        if (declared < 0) return Refuse(name, "declares a negative size; the archive is damaged");
        const auto size = static_cast<uint64_t>(declared);
        if (size > m_limits.fileBytes)
            return Refuse(name, "declares " + std::to_string(size) + " bytes, more than the " +
                                    std::to_string(m_limits.fileBytes) + " bytes one file may hold");
        if (size > m_allowed - m_written)
            return Refuse(name, "declares " + std::to_string(size) + " bytes, more than the archive may still " +
                                    "unpack to: " + Bound());
    }
    std::vector<bool> made;
    if (auto refusal = Record(name, components, folder, made)) return refusal;
    // Folders named only on the way count too: one entry can name many.
    if (m_names.size() > m_limits.entries)
        return Refusal{{}, "the archive names more than " + std::to_string(m_limits.entries) +
                               " files and folders, more than an upgrade may hold"};
    if (!m_make) {
        if (!folder && archive_entry_size_is_set(entry)) m_written += static_cast<uint64_t>(archive_entry_size(entry));
        return std::nullopt;
    }
    if (components.size() > 1 || folder) {
        if (m_top.empty()) m_top = components.front();
        else if (m_top != components.front()) m_oneTop = false;
    } else {
        m_oneTop = false;
    }
    return Make(a, entry, name, components, made, folder);
}

std::optional<Refusal> Unpacker::CheckKind(archive_entry* entry, const std::string& name, bool folder) const {
    const mode_t type = archive_entry_filetype(entry);
    if (archive_entry_hardlink(entry) != nullptr)
        return Refuse(name, "is a hard link; an upgrade is unpacked only from plain files and folders");
    if (type == AE_IFLNK || archive_entry_symlink(entry) != nullptr)
        return Refuse(name, "is a symbolic link; an upgrade is unpacked only from plain files and folders");
    if (type != AE_IFREG && !folder) {
        const char* kind = type == AE_IFCHR    ? "a character device"
                           : type == AE_IFBLK  ? "a block device"
                           : type == AE_IFIFO  ? "a FIFO (named pipe)"
                           : type == AE_IFSOCK ? "a socket"
                                               : "of an unknown kind";
        return Refuse(name, std::string("is ") + kind + "; an upgrade is unpacked only from plain files and folders");
    }
    return std::nullopt;
}

std::optional<Refusal> Unpacker::Make(struct archive* a, archive_entry* entry, const std::string& name,
                                      const std::vector<std::string>& components, const std::vector<bool>& made,
                                      bool folder) {
    // The folders on the way: those this entry names first are made here, all are opened without
    // following a link.
    Directory parent = m_root.Duplicate();
    for (size_t i = 0; i + 1 < components.size(); ++i) {
        if (made[i] && ::mkdirat(parent.Fd(), components[i].c_str(), 0700) != 0)
            return CannotMake(name);
        auto next = parent.Beneath(components[i]);
        if (!next) return Refuse(name, "cannot be unpacked: " + next.Why());
        parent = std::move(*next);
    }
    const std::string& last = components.back();
    const mode_t mode = ModeFor(folder, archive_entry_perm(entry));
    if (folder) {
        if (made.back() && ::mkdirat(parent.Fd(), last.c_str(), 0700) != 0)
            return CannotMake(name);
        const auto opened = parent.Beneath(last);
        if (!opened || ::fchmod(opened->Fd(), mode) != 0)
            return Refuse(
                name, "cannot be unpacked: " + (opened ? std::string(std::strerror(errno)) : opened.Why()));
        // Set once everything is in it: making the entries inside changes a folder's time.
        if (archive_entry_mtime_is_set(entry)) {
            std::string key;
            for (const std::string& component : components) key += (key.empty() ? "" : "/") + component;
            m_folderTimes.emplace_back(key, timespec{archive_entry_mtime(entry), archive_entry_mtime_nsec(entry)});
        }
        return std::nullopt;
    }
    const Descriptor file(
        ::openat(parent.Fd(), last.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (file.fd < 0)
        return CannotMake(name);
    if (auto refusal = WriteData(a, name, file.fd)) return refusal;
    if (::fchmod(file.fd, mode) != 0) return Refuse(name, std::string("cannot be unpacked: ") + std::strerror(errno));
    if (archive_entry_mtime_is_set(entry)) {
        const struct timespec times[2] = {{0, UTIME_OMIT},
                                          {archive_entry_mtime(entry), archive_entry_mtime_nsec(entry)}};
        if (::futimens(file.fd, times) != 0)
            return Refuse(name, std::string("cannot keep its date: ") + std::strerror(errno));
    }
    return std::nullopt;
}

std::optional<Refusal> Unpacker::CheckName(std::string_view name, bool folder,
                                           std::vector<std::string>& components) const {
    if (name.size() > kLongestName)
        return Refuse(name, "has a name longer than " + std::to_string(kLongestName) + " bytes");
    if (name.front() == '/')
        return Refuse(name, "has an absolute name; every entry must lie beneath the upgrade folder");
    std::string_view rest = name;
    // Names as tar writes them for a folder given as ".": "./a", and "./" for the folder itself.
    while (rest.starts_with("./")) rest.remove_prefix(2);
    if (rest.empty() || rest == ".") {
        if (folder) return std::nullopt;
        return Refuse(name, "has no name of its own; every entry must be a plain name");
    }
    if (folder && rest.size() > 1 && rest.back() == '/') rest.remove_suffix(1);
    for (;;) {
        const size_t slash = rest.find('/');
        const std::string_view component = rest.substr(0, slash);
        if (component == "..")
            return Refuse(name, "goes up a folder (\"..\") and could land outside the upgrade folder");
        if (component.empty() || component == ".")
            return Refuse(name, "has an empty or \".\" part in its name; every part must be a plain name");
        if (component.size() > kLongestPart)
            return Refuse(name, "has a part longer than " + std::to_string(kLongestPart) + " bytes in its name");
        components.emplace_back(component);
        if (slash == std::string_view::npos) break;
        rest.remove_prefix(slash + 1);
    }
    if (components.size() > kDeepestName)
        return Refuse(name, "is nested more than " + std::to_string(kDeepestName) + " folders deep");
    if (m_check) {
        for (const std::string& component : components) {
            const auto reason = m_check(component);
            if (reason && components.size() == 1)
                return Refuse(name, "has a name that cannot be used in an upgrade (" + *reason + ")");
            if (reason)
                return Refuse(name, "has a part, " + Quoted(component) +
                                        ", that cannot be used as a name in an upgrade (" + *reason + ")");
        }
    }
    for (const std::string& component : components)
        if (const auto problem = NameTextProblem(component)) return Refuse(name, "has a name that " + *problem);
    return std::nullopt;
}

std::optional<Refusal> Unpacker::Record(const std::string& name, const std::vector<std::string>& components,
                                        bool folder, std::vector<bool>& made) {
    // Checked whole before anything is recorded, so that a refused entry leaves no trace in the table.
    std::string key;
    std::vector<std::string> keys;
    for (size_t i = 0; i < components.size(); ++i) {
        key += (i == 0 ? "" : "/") + components[i];
        keys.push_back(key);
        // Two names that differ only in letter case are one file where names ignore case, and the
        // run looks names up without regard to case: which one it took would depend on the folder.
        const auto spelt = m_spellings.find(ToUpper(key));
        if (spelt != m_spellings.end() && spelt->second != key)
            return Refuse(name, "differs from the earlier entry " + Quoted(spelt->second) +
                                    " only in letter case; an upgrade may not hold both");
        const auto found = m_names.find(key);
        made.push_back(found == m_names.end());
        if (found == m_names.end()) continue;
        const bool last = i + 1 == components.size();
        if (!last && found->second == Kind::File)
            return Refuse(name, "uses " + Quoted(key) + " as a folder, but an earlier entry is a file of that name");
        if (last && !(folder && found->second == Kind::ImpliedFolder))
            return Refuse(name, found->second == Kind::File || folder
                                    ? "has the same name as an earlier entry"
                                    : "is a file, but earlier entries use its name as a folder");
    }
    for (size_t i = 0; i < keys.size(); ++i) {
        if (i + 1 < keys.size()) m_names.try_emplace(keys[i], Kind::ImpliedFolder);
        else m_names[keys[i]] = folder ? Kind::Folder : Kind::File;
        m_spellings.try_emplace(ToUpper(keys[i]), keys[i]);
    }
    return std::nullopt;
}

std::optional<Refusal> Unpacker::WriteData(struct archive* a, const std::string& name, int fd) {
    uint64_t fileBytes = 0;
    for (;;) {
        const la_ssize_t got = archive_read_data(a, m_buffer.data(), m_buffer.size());
        if (got == 0) return std::nullopt;
        if (got < 0) {
            return Refuse(name, "cannot be read: the archive is damaged, or packed in a way this program cannot "
                                "read (" + ErrorOf(a, "unknown error") + ")");
        }
        const auto size = static_cast<uint64_t>(got);
        if (size > m_limits.fileBytes - fileBytes)
            return Refuse(name, "unpacks to more than the " + std::to_string(m_limits.fileBytes) +
                                    " bytes one file may hold");
        if (size > m_allowed - m_written) return Refuse(name, "unpacks to more than the archive may: " + Bound());
        fileBytes += size;
        m_written += size;
        if (!WriteAll(fd, {m_buffer.data(), size}))
            return Refuse(name, std::string("cannot be written: ") + std::strerror(errno));
    }
}

std::optional<Refusal> Unpacker::SetFolderTimes() const {
    for (const auto& [key, time] : m_folderTimes) {
        const auto folder = m_root.Beneath(key);
        const struct timespec times[2] = {{0, UTIME_OMIT}, time};
        if (!folder || ::futimens(folder->Fd(), times) != 0)
            return Refuse(
                key, "cannot keep its date: " + (folder ? std::string(std::strerror(errno)) : folder.Why()));
    }
    return std::nullopt;
}

// A reader of the formats an upgrade travels in, each read by libarchive itself, never by a
// program it would start; null with why.
std::unique_ptr<struct archive, ReadArchiveFree> OpenReader(int fd, std::string& why) {
    std::unique_ptr<struct archive, ReadArchiveFree> reader(archive_read_new());
    // A zip is read from its central directory, as unzip reads it: one whose end is missing or
    // damaged is refused, not read as far as its local headers go.
    if (!reader || archive_read_support_format_zip_seekable(reader.get()) != ARCHIVE_OK ||
        archive_read_support_format_tar(reader.get()) != ARCHIVE_OK ||
        archive_read_support_filter_none(reader.get()) != ARCHIVE_OK ||
        archive_read_support_filter_gzip(reader.get()) != ARCHIVE_OK ||
        archive_read_support_filter_xz(reader.get()) != ARCHIVE_OK) {
        why = "this program cannot read zip and tar archives: its libarchive lacks zip, tar, gzip or xz";
        return nullptr;
    }
    if (archive_read_open_fd(reader.get(), fd, 1 << 16) != ARCHIVE_OK) {
        why = "the file is not a zip or tar archive that can be read (" + ErrorOf(reader.get(), "unknown format") + ")";
        return nullptr;
    }
    return reader;
}

}  // namespace

bool IsArchiveName(std::string_view path) {
    for (std::string_view suffix : {".zip", ".tar", ".tar.gz", ".tgz", ".tar.xz", ".txz"})
        if (EndsWithIgnoreCase(path, suffix)) return true;
    return false;
}

Unpacked Unpack(const std::string& archivePath, const std::string& into, const Limits& limits, const NameCheck& check) {
    const auto root = Directory::Open(into);  // file-access: the caller's folder to unpack into, opened once
    if (!root) return Unpacked{false, {}, {}, "the folder to unpack into cannot be opened: " + root.Why()};
    return Unpack(archivePath, *root, into, limits, check);
}

std::string TopFolderOf(const Unpacked& unpacked, const std::string& into) {
    const std::string base = into.ends_with('/') ? into : into + "/";
    return unpacked.folder.starts_with(base) ? unpacked.folder.substr(base.size()) : std::string();
}

Unpacked Unpack(const std::string& archivePath, const Directory& root, const std::string& into,
                const Limits& limits, const NameCheck& check) {
    const auto refused = [](std::string entry, std::string why) {
        return Unpacked{false, {}, std::move(entry), std::move(why)};
    };
    std::string why;
    // A refusal empties the folder again, so it must hold nothing of anyone else's.
    if (!IsEmptyFolder(root.Fd())) return refused({}, "the folder to unpack into, " + into + ", is not empty");

    // The archive the user names, opened once: what is checked and unpacked is what this reads.
    const Descriptor file(
        ::open(archivePath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY |
                                        O_NONBLOCK));  // file-access: the archive the user names, opened once
    struct stat info {};
    if (file.fd < 0 || ::fstat(file.fd, &info) != 0)
        return refused({}, "the archive " + archivePath + " cannot be opened: " + std::strerror(errno));
    if (!S_ISREG(info.st_mode)) return refused({}, "the archive " + archivePath + " is not a file");

    const Utf8Names utf8;
    Unpacker checker(root, limits, check, static_cast<uint64_t>(info.st_size), false);
    Unpacker unpacker(root, limits, check, static_cast<uint64_t>(info.st_size), true);
    for (Unpacker* pass : {&checker, &unpacker}) {
        if (::lseek(file.fd, 0, SEEK_SET) != 0)
            return refused({}, "the archive " + archivePath + " cannot be read: " + std::strerror(errno));
        const auto reader = OpenReader(file.fd, why);
        if (!reader) return refused({}, why);
        const auto refusal = pass->Run(reader.get());
        if (!refusal) continue;
        if (pass == &unpacker && !RemoveContents(root.Fd()))
            return refused(refusal->entry, refusal->why + "; what was unpacked could not all be removed from " + into);
        return refused(refusal->entry, refusal->why);
    }
    const std::string top = unpacker.TopFolder();
    std::string folder = into;
    if (!top.empty()) folder += (folder.ends_with('/') ? "" : "/") + top;
    return Unpacked{true, folder, {}, {}};
}

Outcome WriteZip(const Directory& source, const std::vector<std::string>& names, const std::string& zipPath) {
    const size_t slash = zipPath.rfind('/');
    const std::string targetPath = slash == std::string::npos ? "." : slash == 0 ? "/" : zipPath.substr(0, slash);
    const std::string base = slash == std::string::npos ? zipPath : zipPath.substr(slash + 1);
    if (!IsPlainComponent(base)) return Failure{zipPath + " is not a file name"};
    const auto opened =
        Directory::Open(targetPath);  // file-access: the folder of the zip file the user names
    if (!opened) return Failure{opened.Why()};
    const Directory& target = *opened;
    auto temporary = target.CreateTemporary(base);
    if (!temporary) return Failure{temporary.Why()};
    const std::string temp = temporary->name;
    const int out = temporary->file.Release();

    const auto written = [&]() -> std::optional<std::string> {
        const Utf8Names utf8;
        const std::unique_ptr<struct archive, WriteArchiveFree> writer(archive_write_new());
        if (!writer || archive_write_set_format_zip(writer.get()) != ARCHIVE_OK ||
            archive_write_set_options(writer.get(), "zip:compression=deflate") != ARCHIVE_OK ||
            archive_write_open_fd(writer.get(), out) != ARCHIVE_OK)
            return "cannot start the zip: " + (writer ? ErrorOf(writer.get(), "unknown error") : "no libarchive");
        const auto failed = [&](const std::string& name) {
            return name + " cannot be written into the zip: " + ErrorOf(writer.get(), std::strerror(errno));
        };
        std::set<std::string> seen;
        std::vector<char> buffer(1 << 16);
        for (const std::string& name : names) {
            if (!IsPlainComponent(name)) return name + " is not a plain file name";
            // Refused before it is written, as a load of the zip would refuse it.
            if (const auto problem = NameTextProblem(name))
                return Printable(name) + " cannot be named in an upgrade archive: its name " + *problem;
            if (!seen.insert(name).second) return name + " is named twice";
            const Descriptor in(::openat(source.Fd(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
            struct stat info {};
            if (in.fd < 0 || ::fstat(in.fd, &info) != 0) return name + ": " + std::strerror(errno);
            if (!S_ISREG(info.st_mode)) return name + " is not a regular file";
            const std::unique_ptr<archive_entry, EntryFree> entry(archive_entry_new());
            archive_entry_copy_pathname(entry.get(), name.c_str());
            archive_entry_set_filetype(entry.get(), AE_IFREG);
            archive_entry_set_perm(entry.get(), info.st_mode & 0777);
            archive_entry_set_size(entry.get(), info.st_size);
            archive_entry_set_mtime(entry.get(), info.st_mtim.tv_sec, info.st_mtim.tv_nsec);
            if (archive_write_header(writer.get(), entry.get()) != ARCHIVE_OK) return failed(name);
            int64_t copied = 0;
            for (;;) {
                const ssize_t got = ::read(in.fd, buffer.data(), buffer.size());
                if (got < 0 && errno == EINTR) continue;
                if (got < 0) return name + " cannot be read: " + std::strerror(errno);
                if (got == 0) break;
                if (copied + got > info.st_size) break;
                if (archive_write_data(writer.get(), buffer.data(), static_cast<size_t>(got)) != got)
                    return failed(name);
                copied += got;
            }
            // The size is in the entry's header already: a file that changed meanwhile is not packed as it is now.
            if (copied != info.st_size) return name + " changed while it was packed";
            if (archive_write_finish_entry(writer.get()) != ARCHIVE_OK) return failed(name);
        }
        if (archive_write_close(writer.get()) != ARCHIVE_OK) return failed(zipPath);
        return std::nullopt;
    }();

    std::string failure;
    if (written) failure = *written;
    else if (::fchmod(out, 0644) != 0 || ::fsync(out) != 0)
        failure = zipPath + " cannot be written: " + std::strerror(errno);
    // Renamed while it is still open: the temporary file stays locked until it has its name.
    if (failure.empty() && ::renameat(target.Fd(), temp.c_str(), target.Fd(), base.c_str()) != 0)
        failure = zipPath + " cannot be replaced: " + std::strerror(errno);
    if (!failure.empty()) ::unlinkat(target.Fd(), temp.c_str(), 0);
    if (::close(out) != 0 && failure.empty())
        failure = zipPath + " cannot be written: " + std::strerror(errno);
    if (!failure.empty()) return Failure{failure};
    target.Sync();
    return {};
}

}  // namespace zrx::archive
