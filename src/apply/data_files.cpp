#include "apply/data_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "apply/run_record_hooks.h"
#include "apply/targets.h"
#include "apply/update_run.h"
#include "base/dialogs.h"
#include "base/messages.h"
#include "base/paths.h"
#include "base/text_utils.h"
#include "upgrade_list/list_format.h"

namespace zrx {

namespace {

bool EarlierThan(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

std::string SystemError(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// Copies the rest of `in` into `out`. The copy's blocks are allocated first: a file whose blocks
// are still to be allocated would be written back to the disk at once when it is renamed over an
// older file (the file system's guard for programs that never sync), one file at a time, where
// the caller may rather make all its copies durable together. The bytes are moved by the kernel
// where it can; a plain read and write loop otherwise.
bool CopyBytes(int in, int out, off_t size, std::string& why) {
    if (size > 0) (void)::fallocate(out, 0, 0, size);  // only a hint: the writes below decide
    for (;;) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
        if (n == 0) return true;
        if (n > 0) continue;
        if (errno == EINTR) continue;
        if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP || errno == EBADF) break;
        why = SystemError("cannot write the copy");
        return false;
    }
    static thread_local std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got == 0) return true;
        if (got < 0) {
            if (errno == EINTR) continue;
            why = SystemError("cannot read the source");
            return false;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t n = ::write(out, buffer.data() + done, static_cast<size_t>(got - done));
            if (n < 0 && errno != EINTR) {
                why = SystemError("cannot write the copy");
                return false;
            }
            if (n > 0) done += n;
        }
    }
}

}  // namespace

PreparedFile::~PreparedFile() {
    if (m_committed || m_temp.empty()) return;
    struct stat before {};
    const bool known = ::fstat(m_folder.Fd(), &before) == 0;
    if (::unlinkat(m_folder.Fd(), m_temp.c_str(), 0) == 0 && known) NoteNamesInDir(m_folderPath, before, {}, m_temp);
}

bool PreparedFile::ChangesNothing() const {
    struct stat fresh {};
    if (!m_replaces || ::fstatat(m_folder.Fd(), m_temp.c_str(), &fresh, AT_SYMLINK_NOFOLLOW) != 0 ||
        fresh.st_size != m_replaced.st_size || (fresh.st_mode & 07777) != (m_replaced.st_mode & 07777) ||
        fresh.st_mtim.tv_sec != m_replaced.st_mtim.tv_sec || fresh.st_mtim.tv_nsec != m_replaced.st_mtim.tv_nsec)
        return false;
    const int a = ::openat(m_folder.Fd(), m_temp.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    const int b = ::openat(m_folder.Fd(), m_name.c_str(), O_RDONLY | O_CLOEXEC);
    const bool same = a >= 0 && b >= 0 && SameContent(a, b);
    if (a >= 0) ::close(a);
    if (b >= 0) ::close(b);
    return same;
}

bool PreparedFile::Commit(std::string& why, struct stat* written) {
    struct stat info {}, before {};
    const bool known = ::fstat(m_folder.Fd(), &before) == 0;
    if (::fstatat(m_folder.Fd(), m_temp.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        ::renameat(m_folder.Fd(), m_temp.c_str(), m_folder.Fd(), m_name.c_str()) != 0) {
        why = SystemError("cannot put the copy in place");
        return false;
    }
    m_committed = true;
    if (known) NoteNamesInDir(m_folderPath, before, m_replaces ? std::string_view() : m_name, m_temp);
    if (written) *written = info;
    return true;
}

InstallResult PrepareFile(const std::string& from, const Directory& folder, const std::string& folderPath,
                          const std::string& name, bool acceptOlder, bool durableNow,
                          std::unique_ptr<PreparedFile>& prepared, std::string& why, const LinkCheck& mayFollow) {
    prepared.reset();
    struct stat source {}, entry {};
    if (::stat(from.c_str(), &source) != 0 || !S_ISREG(source.st_mode)) {
        why = "the source is not a readable file";
        return InstallResult::Failed;
    }
    auto file = std::unique_ptr<PreparedFile>(new PreparedFile());
    file->m_path = JoinPath(folderPath, name);
    file->m_name = name;
    if (folder.Look(name, entry)) {
        if (S_ISDIR(entry.st_mode)) {
            why = "a folder of that name is in the way";
            return InstallResult::Refused;
        }
        if (S_ISLNK(entry.st_mode)) {
            // Written through: the file the link leads to gets the new bytes, the link stays.
            const auto resolved = WriteTargetOf(file->m_path, why);
            if (!resolved || ::stat(resolved->c_str(), &entry) != 0) return InstallResult::Refused;
            if (mayFollow && !mayFollow(*resolved)) {
                why = file->m_path + " is a symbolic link that leads outside the installation's folders";
                return InstallResult::Refused;
            }
            const size_t cut = resolved->rfind('/');
            file->m_folderPath = cut == 0 ? "/" : resolved->substr(0, cut);
            file->m_folder = Directory::Open(file->m_folderPath, why);
            if (!file->m_folder.IsOpen()) return InstallResult::Failed;
            file->m_name = resolved->substr(cut + 1);
            file->m_throughLink = true;
        } else if (!S_ISREG(entry.st_mode)) {
            why = file->m_path + " is not a regular file";
            return InstallResult::Refused;
        }
        if (!acceptOlder && EarlierThan(source.st_mtim, entry.st_mtim)) {
            why = "a newer file of that name is already there";
            return InstallResult::SourceOlder;
        }
        file->m_replaced = entry;
        file->m_replaces = true;
    }
    if (!file->m_folder.IsOpen()) {
        file->m_folder = folder.Duplicate();
        file->m_folderPath = folderPath;
    }
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        why = SystemError("cannot read the source");
        return InstallResult::Failed;
    }
    struct stat before {};
    const bool known = ::fstat(file->m_folder.Fd(), &before) == 0;
    const int out = file->m_folder.CreateTemporary(file->m_name, file->m_temp, why);
    if (out < 0) {
        ::close(in);
        return InstallResult::Failed;
    }
    if (known) NoteNamesInDir(file->m_folderPath, before, file->m_temp);
    bool ok = CopyBytes(in, out, source.st_size, why);
    ::close(in);
    const struct timespec times[2] = {source.st_atim, source.st_mtim};
    // A file that replaces another reaches the disk before it takes the old one's place (now, or
    // with the others of its batch), so that no crash can leave the user with neither.
    if (ok && !(::fchmod(out, source.st_mode & 0777) == 0 && ::futimens(out, times) == 0 &&
                (!durableNow || !file->m_replaces || ::fsync(out) == 0))) {
        why = SystemError("cannot finish the copy");
        ok = false;
    }
    if (::close(out) != 0 && ok) {
        why = SystemError("cannot finish the copy");
        ok = false;
    }
    if (!ok) return InstallResult::Failed;
    prepared = std::move(file);
    return InstallResult::Installed;
}

namespace {

// Checks that the source exists, asking Abort, Retry or Ignore while it does not.
std::optional<CopyOutcome> WaitForSource(ui::Dialogs& dialogs, const std::string& source) {
    while (!FileExists(source)) {
        const ui::Answer answer = dialogs.ShowMessage(
            {"Error occurred while attempting to copy file.  Could not locate file: \"" + source + "\"",
             "ZRXLIBUG Setup", ui::Icon::Question, ui::Buttons::AbortRetryIgnore, false});
        if (answer == ui::Answer::Abort) return CopyOutcome::Failed;
        if (answer == ui::Answer::Ignore) return CopyOutcome::Ignored;
    }
    return std::nullopt;
}

// The folder a copy goes into, made first when `makeMissing` (a subcircuit's subdirectory).
Directory OpenDestination(const std::string& destDir, bool makeMissing, std::string& why) {
    Directory folder = Directory::Open(destDir, why);
    if (folder.IsOpen() || !makeMissing) return folder;
    const std::string dir = WithoutTrailingSeparator(destDir);
    const size_t cut = dir.rfind(kSep);
    Directory parent = Directory::Open(cut == std::string::npos ? "." : dir.substr(0, cut == 0 ? 1 : cut), why);
    const std::string name = dir.substr(cut == std::string::npos ? 0 : cut + 1);
    if (!parent.IsOpen() || !parent.MakeFolder(name, why)) return Directory();
    return parent.Beneath(name, why);
}

CopyOutcome Copy(ui::Dialogs& dialogs, const std::string& srcDir, const std::string& destDir,
                 const std::string& srcName, const std::string& destName, bool subcircuitRule, std::string* reason) {
    std::string why;
    const CopyOutcome outcome = [&] {
        if (srcDir.empty() || destDir.empty()) {
            why = "no folder to copy from or to";
            return CopyOutcome::Failed;
        }
        const std::string target = DataFileTargetPath(destDir, destName);
        if (!PathLengthOk(target)) {
            why = "the path is too long";
            return CopyOutcome::Failed;
        }
        const std::string source = ResolveNameInDir(srcDir, srcName);
        if (const auto missing = WaitForSource(dialogs, source)) {
            why = "the file " + source + " was not found";
            return *missing;
        }
        // A subcircuit goes in even when older, and its subdirectory is made when missing.
        const bool subcircuit = subcircuitRule && IsSubcircuitFile(destName);
        const Directory folder = OpenDestination(destDir, subcircuit, why);
        if (!folder.IsOpen()) return CopyOutcome::Failed;
        std::unique_ptr<PreparedFile> file;
        InstallResult result = PrepareFile(source, folder, destDir, FileNameOf(target), false, true, file, why);
        if (result == InstallResult::SourceOlder && subcircuit)
            result = PrepareFile(source, folder, destDir, FileNameOf(target), true, true, file, why);
        return result == InstallResult::Installed && file->Commit(why, nullptr) ? CopyOutcome::Copied
                                                                              : CopyOutcome::Failed;
    }();
    if (reason) *reason = outcome == CopyOutcome::Copied ? std::string() : why;
    return outcome;
}

}  // namespace

bool FileExists(std::string path) {
    if (path.size() >= 2 && path.front() == '"' && path.back() == '"') path = path.substr(1, path.size() - 2);
    if (!path.empty() && path.back() == kSep) path.pop_back();
    if (!IsRegularFile(path)) return false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

bool PathLengthOk(const std::string& path) { return path.size() < PATH_MAX; }

bool StaysInside(const std::string& dir, const std::string& root, RealPaths& realPaths) {
    auto real = [&realPaths](const std::string& path) -> const std::string& { return realPaths.Of(path); };
    const std::string realRoot = real(root);
    if (realRoot.empty()) return true;  // a missing target directory fails the copy itself
    std::string existing = dir;
    std::string rest;
    while (!existing.empty() && real(existing).empty()) {
        const auto cut = existing.rfind('/');
        if (cut == std::string::npos || cut == 0) return false;
        rest = existing.substr(cut) + rest;
        existing = existing.substr(0, cut);
    }
    const std::string resolved = real(existing) + rest;
    return resolved == realRoot || StartsWith(resolved, realRoot == "/" ? realRoot : realRoot + "/");
}

CopyOutcome CopyLibFile(ui::Dialogs& dialogs, const std::string& srcDir, const std::string& destDir,
                        const std::string& srcName, const std::string& destName, std::string* reason) {
    return Copy(dialogs, srcDir, destDir, srcName, destName, true, reason);
}

CopyOutcome InstallFile(ui::Dialogs& dialogs, const std::string& srcDir, const std::string& destDir,
                        const std::string& srcName, const std::string& destName, std::string* reason) {
    return Copy(dialogs, srcDir, destDir, srcName, destName, false, reason);
}

namespace {

// Makes everything written to the file systems of these directories durable. Returns the
// directories whose file system could not (a write that failed on its way to the disk).
std::vector<std::string> SyncFileSystems(const std::set<std::string>& dirs) {
    std::set<dev_t> done;
    std::vector<std::string> failed;
    for (const std::string& dir : dirs) {
        struct stat info {};
        if (::stat(dir.c_str(), &info) != 0 || !done.insert(info.st_dev).second) continue;
        const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0 || ::syncfs(fd) != 0) failed.push_back(dir + ": " + std::strerror(errno));
        if (fd >= 0) ::close(fd);
    }
    return failed;
}

// At most this many prepared files wait for their batch (each holds a folder open).
constexpr size_t kBatchFiles = 200;

// The run's data files, each prepared beside where it goes, told to the run's record, and put in
// place by a rename. The record keeps what each replaces; prepared files are put in place in
// batches, once their record and their bytes have reached the disk together. A file whose target
// another prepared file of the batch goes to waits until that one is in place, so that every file
// sees the installation as the files before it left it.
class FileBatch {
public:
    FileBatch(RunState& run, ui::Dialogs& dialogs) : m_run(run), m_dialogs(dialogs) {}
    ~FileBatch() { Flush(); }

    // Whether a file for `key` (its target folder and name, in upper case) waits in the batch.
    bool Holds(const std::string& key) const { return m_keys.count(key) != 0; }
    void Add(DataFileItem& item, std::unique_ptr<PreparedFile> file, int64_t ticket, std::string key) {
        m_keys.insert(std::move(key));
        m_files.push_back({&item, std::move(file), ticket});
        if (m_files.size() >= kBatchFiles) Flush();
    }
    void Flush() {
        if (m_files.empty()) return;
        std::string why;
        const bool recorded = m_run.runRecord == nullptr || m_run.runRecord->CommitStaged(why);
        if (!recorded) NoteNotRecorded(m_run, m_dialogs, why);
        // The new files' bytes reach the disk before they take the old ones' places.
        std::set<std::string> folders;
        for (const Staged& staged : m_files) folders.insert(staged.item->TargetDir);
        const bool durable = recorded && SyncFileSystems(folders).empty();
        for (Staged& staged : m_files) {
            struct stat written {};
            std::string reason = why;
            const bool done = durable && staged.file->Commit(reason, &written);
            if (m_run.runRecord) m_run.runRecord->AfterFileChange(staged.ticket, done ? &written : nullptr);
            staged.item->Copied = done ? 1 : 0;
            if (done) m_written.insert(staged.item->TargetDir);
            else
                ShowErrorByCode(m_dialogs, 1, staged.item->Name);
        }
        m_files.clear();
        m_keys.clear();
    }
    const std::set<std::string>& Written() const { return m_written; }

private:
    struct Staged {
        DataFileItem* item;
        std::unique_ptr<PreparedFile> file;
        int64_t ticket;
    };
    RunState& m_run;
    ui::Dialogs& m_dialogs;
    std::vector<Staged> m_files;
    std::set<std::string> m_keys;
    std::set<std::string> m_written;
};

// Prepares one selected data file and hands it to the batch; false (the file not copied, and
// said) when it cannot be.
// `upgradeDir`: where the upgrade's files are read from; `listPath`: the upgrade as the user named it.
bool StageDataFile(const Environment& env, const std::string& upgradeDir, const std::string& listPath, RunState& run,
                   ui::Dialogs& dialogs, DataFileItem& item, FileBatch& batch, RealPaths& realPaths) {
    const std::string upgradeFolder = upgradeDir.empty() ? "/" : upgradeDir;
    const bool subcircuit = IsSubcircuitFile(item.Name);
    const std::string destDir = DataFileDestinationDir(item);
    auto refuse = [&dialogs, &item](const std::string& why) {
        dialogs.ShowMessage({GetLocalMessage("Cannot copy file   ", 4435) + item.Name + ": " + why,
                             std::string(kAppTitle), ui::Icon::Warning, ui::Buttons::Ok, false});
        return false;
    };
    const std::string source = ResolveNameInDir(upgradeFolder, item.Name);
    // A link in the upgrade folder must not bring in a file from elsewhere.
    if (FileExists(source) && !StaysInside(source, upgradeFolder, realPaths))
        return refuse(source + " leads outside the upgrade folder " + listPath);
    // A symbolic link planted in a target subdirectory must not carry the file elsewhere.
    if (!StaysInside(destDir, item.TargetDir, realPaths)) return refuse(destDir + " leads outside " + item.TargetDir);
    // A file for the same target waits in the batch: it goes in first.
    const std::string key = ToUpper(JoinPath(subcircuit ? JoinPath(item.TargetDir, item.TargetLib) : item.TargetDir, item.Name));
    if (batch.Holds(key)) batch.Flush();

    std::string why;
    if (item.TargetDir.empty()) return ShowErrorByCode(dialogs, 1, item.Name), false;
    const std::string target = DataFileTargetPath(destDir, item.Name);
    if (!PathLengthOk(target)) return ShowErrorByCode(dialogs, 1, item.Name), false;
    if (const auto missing = WaitForSource(dialogs, source)) {
        if (*missing == CopyOutcome::Failed) ShowErrorByCode(dialogs, 1, item.Name);
        return false;
    }
    // The target folder, reached beneath the installation's directory without following a link; a
    // subcircuit's missing subdirectory is made (and recorded first).
    Directory root = Directory::Open(item.TargetDir, why);
    Directory folder;
    if (root.IsOpen() && subcircuit && !TrimmedBlanks(item.TargetLib).empty()) {
        const std::string sub = FileNameOf(destDir);
        bool missing = false;
        folder = root.Beneath(sub, why, &missing);
        if (!folder.IsOpen() && missing) {
            if (run.runRecord && !run.runRecord->BeforeFolderMade(destDir, why))
                return NoteNotRecorded(run, dialogs, why), false;
            if (root.MakeFolder(sub, why)) folder = root.Beneath(sub, why);
        } else if (!folder.IsOpen()) {
            return refuse(why);
        }
    } else {
        folder = std::move(root);
    }
    if (!folder.IsOpen()) return ShowErrorByCode(dialogs, 1, item.Name), false;
    if (IsInstallationsOwnFile(env, target)) return refuse(target + " is the installation's own file");
    // A link is written through only where it leads into the installation's folders.
    const LinkCheck inside = [&env, &realPaths](const std::string& real) {
        return InsideInstallation(env, real, realPaths);
    };
    std::unique_ptr<PreparedFile> file;
    InstallResult result = PrepareFile(source, folder, destDir, FileNameOf(target), false, false, file, why, inside);
    if (result == InstallResult::SourceOlder && subcircuit)
        result = PrepareFile(source, folder, destDir, FileNameOf(target), true, false, file, why, inside);
    if (result == InstallResult::Refused) return refuse(why);
    if (result != InstallResult::Installed) return ShowErrorByCode(dialogs, 1, item.Name), false;
    if (file->ChangesNothing()) {
        // The installed file is the upgrade's already: nothing to put in place, or to undo.
        item.Copied = 1;
        return true;
    }
    int64_t ticket = 0;
    if (run.runRecord) {
        ticket = run.runRecord->StageFileChange(
            {file->Path(), file->Folder(), file->Name(), file->ThroughLink(), file->Replaced()}, why);
        if (ticket == 0) return NoteNotRecorded(run, dialogs, why), false;
    }
    batch.Add(item, std::move(file), ticket, key);
    return true;
}

}  // namespace

bool CopyFileWhole(const std::string& from, const std::string& to, std::string& why) {
    const auto cut = to.rfind(kSep);
    const std::string dir = cut == std::string::npos ? "." : to.substr(0, cut == 0 ? 1 : cut);
    const Directory folder = Directory::Open(dir, why);
    std::unique_ptr<PreparedFile> file;
    return folder.IsOpen() &&
           PrepareFile(from, folder, dir, to.substr(cut == std::string::npos ? 0 : cut + 1), true, true, file, why) ==
               InstallResult::Installed &&
           file->Commit(why, nullptr);
}

bool InstalledFileIsNewer(const std::string& source, const std::string& installed) {
    struct stat from {}, to {};
    return ::stat(source.c_str(), &from) == 0 && ::stat(installed.c_str(), &to) == 0 && S_ISREG(to.st_mode) &&
           EarlierThan(from.st_mtim, to.st_mtim);
}

void CopyDataFiles(const Environment& env, LoadedUpgrade& upgrade, RunState& run, ui::Dialogs& dialogs,
                   ui::Label& status) {
    std::vector<DataFileItem>& files = upgrade.lists.DataFileItems;
    if (IsPlaceholder(files)) return;
    RealPaths realPaths;
    FileBatch batch(run, dialogs);
    for (DataFileItem& item : files) {
        dialogs.ProcessEvents();
        if (item.Update != 1 || item.Withheld != 0) continue;
        if (!item.Name.empty()) CountRunElement(run, dialogs, status);
        const std::string destDir = DataFileDestinationDir(item);
        if (item.Name.empty()) break;
        status.SetCaption(GetLocalMessage("Copying File  ", 4423) + JoinPath(upgrade.ListPath, item.Name) +
                          "   to " + JoinPath(destDir, item.Name));
        item.Copied = 0;
        StageDataFile(env, upgrade.UpgradeDir, upgrade.ListPath, run, dialogs, item, batch, realPaths);
    }
    batch.Flush();
    const std::vector<std::string> failed = SyncFileSystems(batch.Written());
    if (failed.empty()) return;
    // The old files stay in the run's record: a rollback brings them back.
    std::string text = "The copied files could not all be written to the disk; some may be incomplete. Undo this "
                       "update to bring back the files as they were.";
    for (const std::string& dir : failed) text += "\r\n" + dir;
    dialogs.ShowMessage({text, std::string(kAppTitle), ui::Icon::Warning, ui::Buttons::Ok, false});
}

namespace {

// Whether two open files read alike from where they stand to their ends.
std::optional<bool> ReadAlike(int fa, int fb) {
    static thread_local std::vector<char> bufferA(1 << 16), bufferB(1 << 16);
    for (;;) {
        const ssize_t got = ::read(fa, bufferA.data(), bufferA.size());
        if (got < 0) return std::nullopt;
        ssize_t have = 0;
        while (have < got) {
            const ssize_t n = ::read(fb, bufferB.data() + have, static_cast<size_t>(got - have));
            if (n <= 0) break;
            have += n;
        }
        if (have != got) return false;  // the other file ended early
        if (got == 0) return ::read(fb, bufferB.data(), 1) == 0;  // and it ends here too
        if (std::memcmp(bufferA.data(), bufferB.data(), static_cast<size_t>(got)) != 0) return false;
    }
}

}  // namespace

bool SameContent(int fa, int fb) { return ReadAlike(fa, fb).value_or(false); }

std::optional<bool> SameBytes(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return std::nullopt;
    if (sa.st_size != sb.st_size) return false;
    const int fa = ::open(a.c_str(), O_RDONLY | O_CLOEXEC);
    const int fb = fa < 0 ? -1 : ::open(b.c_str(), O_RDONLY | O_CLOEXEC);
    std::optional<bool> same;
    if (fa >= 0 && fb >= 0) same = ReadAlike(fa, fb);
    if (fa >= 0) ::close(fa);
    if (fb >= 0) ::close(fb);
    return same;
}

}  // namespace zrx
