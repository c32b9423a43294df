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

#include "apply/targets.h"
#include "apply/update_run.h"
#include "shell/app.h"
#include "shell/messages.h"
#include "shell/paths.h"
#include "shell/text_utils.h"
#include "ui/dialogs.h"

namespace zrx {

namespace {

enum class InstallResult { Installed, SourceOlder, NoDirectory, Failed };

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

// Copies the bytes of `from` into a temporary file beside `to`, gives it the source's
// modification time, and renames it over `to`. `why` says what went wrong. With `syncNow`, a file
// that replaces another reaches the disk before it takes the old one's place; without, the caller
// makes the copies durable together (where the old files are kept elsewhere meanwhile).
InstallResult Install(const std::string& from, const std::string& destDir, const std::string& to, bool acceptOlder,
                      std::string& why, bool syncNow = true) {
    struct stat source {}, target {};
    if (::stat(from.c_str(), &source) != 0 || !S_ISREG(source.st_mode)) {
        why = "the source is not a readable file";
        return InstallResult::Failed;
    }
    if (!IsDirectory(destDir)) {
        why = "the folder " + destDir + " does not exist";
        return InstallResult::NoDirectory;
    }
    const bool replacing = ::lstat(to.c_str(), &target) == 0;
    if (replacing) {
        if (S_ISDIR(target.st_mode)) {
            why = "a folder of that name is in the way";
            return InstallResult::Failed;
        }
        if (S_ISREG(target.st_mode) && !acceptOlder && EarlierThan(source.st_mtim, target.st_mtim)) {
            why = "a newer file of that name is already there";
            return InstallResult::SourceOlder;
        }
    }
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        why = SystemError("cannot read the source");
        return InstallResult::Failed;
    }
    // A new name in the folder itself is told to the name lookup (see NoteNewNameInDir).
    struct stat folderBefore {};
    const bool newName = !replacing && JoinPath(destDir, FileNameOf(to)) == to &&
                         ::stat(destDir.c_str(), &folderBefore) == 0;
    std::string temp = JoinPath(destDir, std::string(".").append(FileNameOf(to)).append(".zrxtmp-XXXXXX"));
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    const int out = ::mkstemp(name.data());
    if (out < 0) {
        why = SystemError("cannot write in the folder");
        ::close(in);
        return InstallResult::Failed;
    }
    temp.assign(name.data());
    bool ok = CopyBytes(in, out, source.st_size, why);
    ::close(in);
    const struct timespec times[2] = {source.st_atim, source.st_mtim};
    // A file that replaces another reaches the disk before it takes the old one's place, so that
    // no crash can leave the user with neither; a new file replaces nothing.
    if (ok && !(::fchmod(out, source.st_mode & 0777) == 0 && ::futimens(out, times) == 0 &&
                (!replacing || !syncNow || ::fsync(out) == 0))) {
        why = SystemError("cannot finish the copy");
        ok = false;
    }
    if (::close(out) != 0 && ok) {
        why = SystemError("cannot finish the copy");
        ok = false;
    }
    if (ok && ::rename(temp.c_str(), to.c_str()) != 0) {
        why = SystemError("cannot put the copy in place");
        ok = false;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        return InstallResult::Failed;
    }
    if (newName) NoteNewNameInDir(destDir, FileNameOf(to), folderBefore);
    return InstallResult::Installed;
}

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

CopyOutcome Copy(ui::Dialogs& dialogs, const std::string& srcDir, const std::string& destDir,
                 const std::string& srcName, const std::string& destName, bool subcircuitRule, std::string* reason,
                 bool syncNow = true) {
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
        const InstallResult first = Install(source, destDir, target, false, why, syncNow);
        if (first == InstallResult::Installed) return CopyOutcome::Copied;
        if (!subcircuitRule || !IsSubcircuitFile(destName)) return CopyOutcome::Failed;
        // A subcircuit goes in even when older, and its subdirectory is made when missing.
        std::error_code error;
        std::filesystem::create_directory(WithoutTrailingSeparator(destDir), error);
        return Install(source, destDir, target, true, why, syncNow) == InstallResult::Installed ? CopyOutcome::Copied
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

namespace {

// The real path of a file or directory, or "" when it cannot be resolved.
std::string RealPath(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    std::string result = real ? real : "";
    std::free(real);
    return result;
}

}  // namespace

bool StaysInside(const std::string& dir, const std::string& root, std::map<std::string, std::string>& realPaths) {
    auto real = [&realPaths](const std::string& path) -> const std::string& {
        auto it = realPaths.find(path);
        if (it == realPaths.end()) it = realPaths.emplace(path, RealPath(path)).first;
        return it->second;
    };
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

namespace {

// The run's copy when its old files are kept by the run's record: the copies are made durable
// together at the end of the step instead of one by one.
CopyOutcome CopyRecordedFile(ui::Dialogs& dialogs, const std::string& srcDir, const std::string& destDir,
                             const std::string& name) {
    return Copy(dialogs, srcDir, destDir, name, name, true, nullptr, false);
}

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

}  // namespace

CopyOutcome InstallFile(ui::Dialogs& dialogs, const std::string& srcDir, const std::string& destDir,
                        const std::string& srcName, const std::string& destName, std::string* reason) {
    return Copy(dialogs, srcDir, destDir, srcName, destName, false, reason);
}

bool CopyFileWhole(const std::string& from, const std::string& to, std::string& why) {
    const auto cut = to.rfind(kSep);
    const std::string dir = cut == std::string::npos ? "." : to.substr(0, cut == 0 ? 1 : cut);
    return Install(from, dir, to, true, why) == InstallResult::Installed;
}

bool InstalledFileIsNewer(const std::string& source, const std::string& installed) {
    struct stat from {}, to {};
    return ::stat(source.c_str(), &from) == 0 && ::lstat(installed.c_str(), &to) == 0 && S_ISREG(to.st_mode) &&
           EarlierThan(from.st_mtim, to.st_mtim);
}

void CopyDataFiles(App& app) {
    std::vector<DataFileItem>& files = app.lists.DataFileItems;
    if (IsPlaceholder(files)) return;
    std::map<std::string, std::string> realPaths;
    // Where the run's record keeps the old files, a file that replaces another need not reach
    // the disk before it takes the old one's place: all copies reach it together at the end.
    const bool recorded = app.runRecord != nullptr;
    std::set<std::string> written;
    for (DataFileItem& item : files) {
        app.dialogs.ProcessEvents();
        if (item.Update != 1 || item.Withheld != 0) continue;
        if (!item.Name.empty()) CountRunElement(app);
        const std::string destDir = DataFileDestinationDir(item);
        if (item.Name.empty()) break;
        app.main.F_Status.SetCaption(GetLocalMessage("Copying File  ", 4423) + JoinPath(app.ListPath, item.Name) +
                                     "   to " + JoinPath(destDir, item.Name));
        const std::string source = ResolveNameInDir(app.ListPath.empty() ? "/" : app.ListPath, item.Name);
        if (FileExists(source) && !StaysInside(source, app.ListPath.empty() ? "/" : app.ListPath, realPaths)) {
            // A link in the upgrade folder must not bring in a file from elsewhere.
            app.dialogs.ShowMessage({GetLocalMessage("Cannot copy file   ", 4435) + item.Name + ": " + source +
                                         " leads outside the upgrade folder " + app.ListPath,
                                     std::string(kAppTitle), ui::Icon::Warning, ui::Buttons::Ok, false});
            item.Copied = 0;
            continue;
        }
        if (!StaysInside(destDir, item.TargetDir, realPaths)) {
            // A symbolic link planted in a target subdirectory must not carry the file elsewhere.
            app.dialogs.ShowMessage({GetLocalMessage("Cannot copy file   ", 4435) + item.Name + ": " + destDir +
                                         " leads outside " + item.TargetDir,
                                     std::string(kAppTitle), ui::Icon::Warning, ui::Buttons::Ok, false});
            item.Copied = 0;
            continue;
        }
        const std::string upgradeFolder = app.ListPath.empty() ? "/" : app.ListPath;
        const CopyOutcome outcome = recorded ? CopyRecordedFile(app.dialogs, upgradeFolder, destDir, item.Name)
                                             : CopyLibFile(app.dialogs, upgradeFolder, destDir, item.Name, item.Name);
        switch (outcome) {
            case CopyOutcome::Copied:
                item.Copied = 1;
                written.insert(destDir);
                break;
            case CopyOutcome::Ignored: item.Copied = 0; break;
            case CopyOutcome::Failed:
                ShowErrorByCode(app.dialogs, 1, item.Name);
                item.Copied = 0;
                break;
        }
    }
    if (!recorded) return;
    const std::vector<std::string> failed = SyncFileSystems(written);
    if (failed.empty()) return;
    // The old files stay in the run's record: a rollback brings them back.
    std::string text = "The copied files could not all be written to the disk; some may be incomplete. Undo this "
                       "update to bring back the files as they were.";
    for (const std::string& dir : failed) text += "\r\n" + dir;
    app.dialogs.ShowMessage({text, std::string(kAppTitle), ui::Icon::Warning, ui::Buttons::Ok, false});
}

std::optional<bool> SameBytes(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return std::nullopt;
    if (sa.st_size != sb.st_size) return false;
    const int fa = ::open(a.c_str(), O_RDONLY | O_CLOEXEC);
    const int fb = fa < 0 ? -1 : ::open(b.c_str(), O_RDONLY | O_CLOEXEC);
    std::optional<bool> same;
    if (fa >= 0 && fb >= 0) {
        static thread_local std::vector<char> bufferA(1 << 16), bufferB(1 << 16);
        same = true;
        for (;;) {
            const ssize_t got = ::read(fa, bufferA.data(), bufferA.size());
            if (got < 0) {
                same.reset();
                break;
            }
            if (got == 0) break;
            ssize_t have = 0;
            while (have < got) {
                const ssize_t n = ::read(fb, bufferB.data() + have, static_cast<size_t>(got - have));
                if (n <= 0) break;
                have += n;
            }
            if (have != got) {
                same = false;  // the other file ended early: it changed while it was read
                break;
            }
            if (std::memcmp(bufferA.data(), bufferB.data(), static_cast<size_t>(got)) != 0) {
                same = false;
                break;
            }
        }
    }
    if (fa >= 0) ::close(fa);
    if (fb >= 0) ::close(fb);
    return same;
}

}  // namespace zrx
