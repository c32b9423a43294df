#include "apply/data_files.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <limits>
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
#include "history/installed_base.h"
#include "preview/element_merge.h"
#include "upgrade_list/list_format.h"
#include "upgrade_list/list_reader.h"

namespace zrx {

namespace {

std::string SystemError(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// Copies the rest of `in` into `out`. The copy's blocks are allocated first: a file whose blocks
// are still to be allocated would be written back to the disk at once when it is renamed over an
// older file (the file system's guard for programs that never sync), one file at a time, where
// the caller may rather make all its copies durable together. The bytes are moved by the kernel
// where it can; a plain read and write loop otherwise.
// At most `limit` bytes are copied.
Outcome CopyBytes(int in, int out, off_t size, off_t limit = std::numeric_limits<off_t>::max()) {
    if (size > 0)
        (void)::fallocate(out, 0, 0, std::min(size, limit));  // only a hint: the writes below decide
    off_t left = limit;
    for (;;) {
        const ssize_t n = left == 0
                              ? 0
                              : ::copy_file_range(in, nullptr, out, nullptr,
                                                  static_cast<size_t>(std::min<off_t>(left, 1 << 30)), 0);
        if (n == 0) return {};
        if (n > 0) {
            left -= n;
            continue;
        }
        if (errno == EINTR) continue;
        if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP || errno == EBADF) break;
        return Failure{SystemError("cannot write the copy")};
    }
    static thread_local std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t got =
            left == 0 ? 0
                      : ::read(in, buffer.data(),
                               static_cast<size_t>(std::min<off_t>(left, static_cast<off_t>(buffer.size()))));
        if (got == 0) return {};
        if (got < 0) {
            if (errno == EINTR) continue;
            return Failure{SystemError("cannot read the source")};
        }
        if (!WriteAll(out, {buffer.data(), static_cast<size_t>(got)})) return Failure{SystemError("cannot write the copy")};
        left -= got;
    }
}

// The SHA-256 of a file read from its start; "" when it cannot be read.
std::string DigestFromStart(int fd) {
    return ::lseek(fd, 0, SEEK_SET) == 0 ? Sha256OfDescriptor(fd) : std::string();
}

}  // namespace

bool IsOlder(const struct timespec& source, const struct timespec& installed) {
    if (source.tv_nsec == 0 || installed.tv_nsec == 0) return source.tv_sec < installed.tv_sec;
    return source.tv_sec < installed.tv_sec ||
           (source.tv_sec == installed.tv_sec && source.tv_nsec < installed.tv_nsec);
}

Result<SourceFile> OpenSource(const Directory& folder, const std::string& name, bool* missing) {
    SourceFile source;
    auto file = folder.OpenRegular(name, &source.info, missing);
    if (!file) return Failure{file.Why()};
    source.file = std::move(*file);
    return source;
}

Result<SourceFile> OpenUpgradeFile(const Directory& folder, const CheckedInPlace* inPlace,
                                   const std::string& name, bool* missing) {
    // The checked data files first: the private copy finds its names whatever their case, and a
    // data file named like the list or a library in another case is a file of its own.
    if (inPlace != nullptr && inPlace->folder) {
        const std::string spelt = inPlace->folder->Spelling(name);
        if (const auto checked = inPlace->files.find(spelt); checked != inPlace->files.end()) {
            auto source = OpenSource(*inPlace->folder, spelt, missing);
            if (!source) return source;
            source->checked = checked->second.digest;
            source->checkedSize = checked->second.size;
            return source;
        }
    }
    return OpenSource(folder, folder.Spelling(name), missing);
}

std::string ChangedSinceChecked() {
    return "it was changed in the upgrade folder after it was checked";
}

Outcome PinChecked(SourceFile& source) {
    if (source.checked.empty()) return {};
    FileHandle copy(::memfd_create("checked", MFD_CLOEXEC));
    if (!copy.IsOpen()) return Failure{SystemError("no room to check it")};
    if (::lseek(source.file.Fd(), 0, SEEK_SET) != 0) return Failure{SystemError("it cannot be read")};
    // No further than one byte past what the check read: one grown since is refused by its digest
    // without filling the memory first.
    if (const Outcome copied = CopyBytes(source.file.Fd(), copy.Fd(), 0, source.checkedSize + 1); !copied)
        return Failure{"it cannot be checked: " + copied.Why()};
    if (::lseek(copy.Fd(), 0, SEEK_SET) != 0 || Sha256OfDescriptor(copy.Fd()) != source.checked)
        return Failure{ChangedSinceChecked()};
    struct stat info {};
    if (::fstat(copy.Fd(), &info) != 0 || ::lseek(copy.Fd(), 0, SEEK_SET) != 0)
        return Failure{SystemError("it cannot be checked")};
    source.file = std::move(copy);
    source.info.st_size = info.st_size;
    source.checked.clear();
    return {};
}

PreparedFile::~PreparedFile() {
    if (m_committed || m_temp.empty()) return;
    struct stat before {};
    const bool known = m_folder->Info(before);
    if (::unlinkat(m_folder->Fd(), m_temp.c_str(), 0) == 0 && known) m_folder->NoteChange(before, {}, m_temp);
}

bool PreparedFile::ChangesNothing() const {
    struct stat fresh {};
    if (!m_replaces || ::fstat(m_out.Fd(), &fresh) != 0 || fresh.st_size != m_replaced.st_size ||
        (fresh.st_mode & 07777) != (m_replaced.st_mode & 07777) ||
        fresh.st_mtim.tv_sec != m_replaced.st_mtim.tv_sec ||
        fresh.st_mtim.tv_nsec != m_replaced.st_mtim.tv_nsec)
        return false;
    const FileHandle a(
        ::openat(m_folder->Fd(), m_temp.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    const auto b = m_folder->OpenRegular(m_name);
    return a.IsOpen() && b && SameContent(a.Fd(), b->Fd());
}

std::string PreparedFile::Digest() const {
    return DigestFromStart(m_out.Fd());
}

Outcome PreparedFile::Commit(struct stat* written) {
    struct stat info {}, before {};
    const bool known = m_folder->Info(before);
    if (::fstat(m_out.Fd(), &info) != 0 ||
        ::renameat(m_folder->Fd(), m_temp.c_str(), m_folder->Fd(), m_name.c_str()) != 0)
        return Failure{SystemError("cannot put the copy in place")};
    m_committed = true;
    m_out.Close();
    if (known) m_folder->NoteChange(before, m_replaces ? std::string_view() : m_name, m_temp);
    if (written) *written = info;
    return {};
}

Result<std::unique_ptr<PreparedFile>> PrepareFile(SourceFile& source, const Target& target, bool acceptOlder,
                                                  bool durableNow, bool* older) {
    if (older) *older = false;
    if (target.exists && !acceptOlder && IsOlder(source.info.st_mtim, target.info.st_mtim)) {
        if (older) *older = true;
        return Failure{"a newer file of that name is already there"};
    }
    auto file = std::unique_ptr<PreparedFile>(new PreparedFile());
    file->m_folder = target.folder;
    file->m_path = target.path;
    file->m_name = target.name;
    file->m_throughLink = target.throughLink;
    if (target.exists) {
        file->m_replaced = target.info;
        file->m_replaces = true;
    }
    struct stat before {};
    const bool known = file->m_folder->Info(before);
    auto temporary = file->m_folder->CreateTemporary(file->m_name);
    if (!temporary) return Failure{temporary.Why()};
    file->m_out = std::move(temporary->file);
    file->m_temp = std::move(temporary->name);
    if (known) file->m_folder->NoteChange(before, file->m_temp);
    const int out = file->m_out.Fd();
    if (::lseek(source.file.Fd(), 0, SEEK_SET) != 0) return Failure{SystemError("cannot read the source")};
    // A file checked in place is copied no further than one byte past what the check read: one
    // grown since is refused by its digest without filling the disk first.
    const off_t limit = source.checked.empty() ? std::numeric_limits<off_t>::max() : source.checkedSize + 1;
    if (Outcome copied = CopyBytes(source.file.Fd(), out, source.info.st_size, limit); !copied)
        return Failure{copied.Why()};
    const struct timespec times[2] = {source.info.st_atim, source.info.st_mtim};
    // A file that replaces another reaches the disk before it takes the old one's place (now, or
    // with the others of its batch), so that no crash can leave the user with neither.
    if (!(::fchmod(out, source.info.st_mode & 0777) == 0 && ::futimens(out, times) == 0 &&
          (!durableNow || !file->m_replaces || ::fsync(out) == 0)))
        return Failure{SystemError("cannot finish the copy")};
    return file;
}

namespace {

// Opens the source `name` of `folder` (at `folderPath`), asking Abort, Retry or Ignore while it is
// not there; why not when it cannot be had (`ignored`: the user chose Ignore).
Result<SourceFile> WaitForSource(ui::Dialogs& dialogs, const Directory& folder, const CheckedInPlace* inPlace,
                                 const std::string& folderPath, const std::string& name, bool& ignored) {
    ignored = false;
    for (;;) {
        bool missing = false;
        auto source = OpenUpgradeFile(folder, inPlace, name, &missing);
        if (source) return source;
        // There, but no file that can be copied: said with the folder it is in.
        if (!missing) return Failure{JoinPath(folderPath, source.Why())};
        const std::string path = JoinPath(folderPath, name);
        const ui::Answer answer = dialogs.ShowMessage(
            {"Error occurred while attempting to copy file.  Could not locate file: \"" + path + "\"",
             "ZRXLIBUG Setup", ui::Icon::Question, ui::Buttons::AbortRetryIgnore, false});
        if (answer == ui::Answer::Abort) return Failure{"the file " + path + " was not found"};
        if (answer == ui::Answer::Ignore) {
            ignored = true;
            return Failure{"the file " + path + " was not found, and the answer was to pass it over"};
        }
    }
}

// The target `name` of a folder the copy goes into, where the folder is no installation's (the
// builder's destination, a test's): a link there is replaced by the file, never written through.
Result<Target> PlainTarget(const std::shared_ptr<const Directory>& folder, const std::string& folderPath,
                           const std::string& name) {
    Target target;
    target.folder = folder;
    target.name = folder->Spelling(name);
    target.path = JoinPath(folderPath, target.name);
    struct stat entry {};
    if (!folder->Look(target.name, entry)) return target;
    if (S_ISLNK(entry.st_mode)) return target;  // the rename puts the file in place of the link
    if (S_ISDIR(entry.st_mode)) return Failure{"a folder of that name is in the way"};
    if (!S_ISREG(entry.st_mode)) return Failure{target.path + " is not a regular file"};
    target.exists = true;
    target.info = entry;
    return target;
}

}  // namespace

bool PathLengthOk(const std::string& path) { return path.size() < PATH_MAX; }

CopyResult InstallFile(ui::Dialogs& dialogs, const Directory& source, const std::string& srcDir,
                       const Directory& dest, const std::string& destDir, const std::string& srcName,
                       const std::string& destName) {
    if (srcDir.empty() || destDir.empty()) return {CopyOutcome::Failed, "no folder to copy from or to"};
    if (!PathLengthOk(JoinPath(destDir, destName))) return {CopyOutcome::Failed, "the path is too long"};
    bool ignored = false;
    auto file = WaitForSource(dialogs, source, nullptr, srcDir, srcName, ignored);
    if (!file) return {ignored ? CopyOutcome::Ignored : CopyOutcome::Failed, file.Why()};
    const auto folder = std::make_shared<const Directory>(dest.Duplicate());
    const auto target = PlainTarget(folder, destDir, destName);
    if (!target) return {CopyOutcome::Failed, target.Why()};
    auto prepared = PrepareFile(*file, *target, false, true);
    if (!prepared) return {CopyOutcome::Failed, prepared.Why()};
    if (const Outcome committed = (*prepared)->Commit(nullptr); !committed)
        return {CopyOutcome::Failed, committed.Why()};
    return {CopyOutcome::Copied, {}};
}

namespace {

// Makes everything written to the file systems of these folders durable. Returns the folders
// whose file system could not (a write that failed on its way to the disk).
std::vector<std::string> SyncFileSystems(
    const std::map<std::string, std::shared_ptr<const Directory>>& folders) {
    std::set<dev_t> done;
    std::vector<std::string> failed;
    for (const auto& [path, folder] : folders) {
        struct stat info {};
        if (!folder->Info(info) || !done.insert(info.st_dev).second) continue;
        if (::syncfs(folder->Fd()) != 0) failed.push_back(path + ": " + std::strerror(errno));
    }
    return failed;
}

// At most this many prepared files wait for their batch (each holds its temporary file open).
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
    void Add(DataFileItem& item, std::unique_ptr<PreparedFile> file, std::shared_ptr<const Directory> folder,
             int64_t ticket, std::string key, std::string digest) {
        m_keys.insert(std::move(key));
        m_folders.emplace(item.TargetDir, std::move(folder));
        m_files.push_back({&item, std::move(file), ticket, std::move(digest)});
        if (m_files.size() >= kBatchFiles) Flush();
    }
    void Flush() {
        if (m_files.empty()) return;
        const Outcome recorded = m_run.runRecord ? m_run.runRecord->CommitStaged() : Outcome();
        if (!recorded) NoteNotRecorded(m_run, m_dialogs, recorded.Why());
        // The new files' bytes reach the disk before they take the old ones' places.
        const bool durable = recorded && SyncFileSystems(m_folders).empty();
        for (Staged& staged : m_files) {
            struct stat written {};
            const Outcome done =
                !recorded ? Outcome(Failure{"it could not be recorded for undo: " + recorded.Why()})
                : durable ? staged.file->Commit(&written)
                          : Outcome(Failure{ErrorTextForCode(1, staged.item->Name).text});
            if (m_run.runRecord)
                m_run.runRecord->AfterFileChange(staged.ticket, done ? &written : nullptr, staged.digest);
            staged.item->Copied = done ? 1 : 0;
            if (done) {
                m_written.insert(*m_folders.find(staged.item->TargetDir));
            } else {
                ShowErrorByCode(m_dialogs, 1, staged.item->Name);
                staged.item->Why = done.Why();
            }
        }
        m_files.clear();
        m_keys.clear();
        m_folders.clear();
    }
    const std::map<std::string, std::shared_ptr<const Directory>>& Written() const { return m_written; }

private:
    struct Staged {
        DataFileItem* item;
        std::unique_ptr<PreparedFile> file;
        int64_t ticket;
        std::string digest;  // of the bytes it puts in place
    };
    RunState& m_run;
    ui::Dialogs& m_dialogs;
    std::vector<Staged> m_files;
    std::set<std::string> m_keys;
    // The folders the batch's files go to (where a link leads: the folder that holds its file), by
    // the path of their target directory.
    std::map<std::string, std::shared_ptr<const Directory>> m_folders, m_written;
};

// What a run that merges (RunState::MergeEdited) puts in place of a data file edited here since the
// last upgrade: the upgrade's where it was not edited or no base is known (as without a merge);
// nothing where the upgrade offers what the last upgrade installed (`leave`: what is installed is
// the merge); otherwise the merge by lines (`merged`, an unnamed file of its bytes, with the
// upgrade's permissions and the time of the merge) and the upgrade's digest (`offered`). A
// conflict, or a base no longer kept, fails: the file is not copied.
struct EditedFile {
    bool leave = false;
    bool conflicted = false;  // nothing is copied
    std::optional<SourceFile> merged;
    std::string offered;
};
Result<EditedFile> MergeEditedFile(RunState& run, const Target& target, SourceFile& source) {
    if (!run.MergeEdited || run.bases == nullptr || !target.exists) return EditedFile{};
    const std::string* base = run.bases->Of(target.path, {});
    if (base == nullptr) return EditedFile{};
    const auto installed = target.folder->OpenRegular(target.name);
    if (!installed) return EditedFile{};  // the copy says why it cannot be made
    const std::string now = Sha256OfDescriptor(installed->Fd());
    // The upgrade's bytes are read more than once from here: once, checked, into memory.
    if (const Outcome pinned = PinChecked(source); !pinned) return Failure{pinned.Why()};
    EditedFile edit;
    edit.offered = ::lseek(source.file.Fd(), 0, SEEK_SET) == 0 ? Sha256OfDescriptor(source.file.Fd()) : "";
    switch (preview::StepOf(*base, now, edit.offered)) {
        case preview::MergeStep::None:
            return EditedFile{};
        case preview::MergeStep::Keep:
            edit.leave = true;
            return edit;
        case preview::MergeStep::Merge:
            break;
    }
    auto merged = preview::MergeFileWithBase(*run.bases, *base, installed->Fd(), source.file.Fd());
    if (!merged) return Failure{merged.Why()};
    if (merged->conflicted) {
        edit.conflicted = true;
        return edit;
    }
    SourceFile file{FileHandle(::memfd_create("merged", MFD_CLOEXEC)), source.info, {}};
    if (!file.file.IsOpen() || !WriteAll(file.file.Fd(), merged->text))
        return Failure{SystemError("the merge cannot be written")};
    file.info.st_size = static_cast<off_t>(merged->text.size());
    ::clock_gettime(CLOCK_REALTIME, &file.info.st_mtim);
    edit.merged = std::move(file);
    return edit;
}

// Long: the steps of one file's copy, each of which may stop it with what it says
// Prepares one selected data file and hands it to the batch; a failure (the file not copied, and
// said in a box) when it cannot be. `upgradeFolder`: where the upgrade's files are read from
// (`inPlace`: the data files checked where they lie).
Outcome StageDataFile(const Directory& upgradeFolder, const CheckedInPlace* inPlace,
                      const std::string& listPath, InstallationAccess& access, RunState& run,
                      ui::Dialogs& dialogs, DataFileItem& item, FileBatch& batch) {
    const bool subcircuit = IsSubcircuitFile(item.Name);
    const std::string destDir = DataFileDestinationDir(item);
    auto refuse = [&dialogs, &item](const std::string& why) -> Outcome {
        const std::string text = GetLocalMessage("Cannot copy file   ", 4435) + item.Name + ": " + why;
        ShowWarning(dialogs, text);
        return Failure{text};
    };
    // The box says only that it cannot be copied; the run's report keeps the reason, where known.
    auto fail = [&dialogs, &item](const std::string& reason = {}) -> Outcome {
        ShowErrorByCode(dialogs, 1, item.Name);
        return Failure{ErrorTextForCode(1, item.Name).text + (reason.empty() ? "" : ": " + reason)};
    };
    auto unrecorded = [&run, &dialogs](const std::string& why) -> Outcome {
        NoteNotRecorded(run, dialogs, why);
        return Failure{"it could not be recorded for undo: " + why};
    };
    // A file for the same target waits in the batch: it goes in first.
    const std::string key = ToUpper(JoinPath(subcircuit ? JoinPath(item.TargetDir, item.TargetLib) : item.TargetDir, item.Name));
    if (batch.Holds(key)) batch.Flush();

    if (item.TargetDir.empty()) return fail();
    if (!PathLengthOk(JoinPath(destDir, item.Name))) return fail();
    // Read from the upgrade folder itself: a link there would bring in a file from elsewhere.
    bool ignored = false;
    auto source = WaitForSource(dialogs, upgradeFolder, inPlace, listPath, item.Name, ignored);
    if (!source) {
        if (ignored) return Failure{"it was not found, and the answer was to pass it over"};
        if (source.Why().find(" was not found") == std::string::npos) return refuse(source.Why());
        return fail();
    }
    // The target folder, reached beneath the installation's held directory without following a
    // link; a subcircuit's missing subdirectory is made (and recorded first).
    Result<std::shared_ptr<const Directory>> folder = Failure{};
    if (subcircuit && !TrimmedBlanks(item.TargetLib).empty()) {
        const std::string sub = FileNameOf(destDir);
        bool absent = false;
        folder = access.Subfolder(item.TargetDir, sub, &absent);
        if (!folder && absent) {
            const auto parent = access.Folder(item.TargetDir);
            if (!parent) return fail();
            if (const Outcome may = access.MayWriteIn(**parent); !may)
                return refuse(item.TargetDir + ": " + may.Why());
            if (run.runRecord) {
                if (const Outcome told = run.runRecord->BeforeFolderMade(destDir); !told)
                    return unrecorded(told.Why());
            }
            if ((*parent)->MakeFolder(sub)) folder = access.Subfolder(item.TargetDir, sub);
        } else if (!folder) {
            return refuse(folder.Why());
        }
    } else {
        folder = access.Folder(item.TargetDir);
    }
    if (!folder) return fail(folder.Why());
    // A link is written through only where it leads to a file in the installation's data folders.
    const auto target = access.Resolve(*folder, destDir, item.Name);
    if (!target) return refuse(target.Why());
    // Edited here, where the run merges: the merge goes in, whatever the files' times.
    auto edited = MergeEditedFile(run, *target, *source);
    if (!edited) return refuse(edited.Why());
    if (edited->conflicted) {
        item.Conflicts = GetLocalMessage("the same lines", 20089);
        return refuse(preview::ConflictReason({}));
    }
    if (edited->leave) {
        item.Copied = 1;
        item.Merged = true;
        return {};
    }
    SourceFile& copied = edited->merged ? *edited->merged : *source;
    // A subcircuit goes in even when older than the installed file.
    bool older = false;
    auto file = PrepareFile(copied, *target, edited->merged.has_value(), false, &older);
    if (!file && older && subcircuit) file = PrepareFile(copied, *target, true, false);
    if (!file) return fail(file.Why());
    // What the run installs, read back from the copy itself: the record keeps it (a preview tells
    // edits by it), and a data file checked in place must still be what the check read.
    std::string digest;
    if (run.runRecord || !copied.checked.empty()) digest = (*file)->Digest();
    if (!copied.checked.empty() && digest != copied.checked) return refuse(ChangedSinceChecked());
    if ((*file)->ChangesNothing()) {
        // The installed file is the upgrade's already: nothing to put in place, or to undo.
        item.Copied = 1;
        return {};
    }
    int64_t ticket = 0;
    if (run.runRecord) {
        const PreparedFile& prepared = **file;
        // What the upgrade offers is kept as the base of a later merge: the copy, or beside a
        // merge the upgrade's file.
        const bool merged = edited->merged.has_value();
        const auto staged = run.runRecord->StageFileChange(
            {prepared.Path(), prepared.Folder(), prepared.Name(), prepared.ThroughLink(), prepared.Replaced(),
             merged ? source->file.Fd() : prepared.Fd(), merged ? edited->offered : digest, merged});
        if (!staged) return unrecorded(staged.Why());
        ticket = *staged;
    }
    item.Merged = edited->merged.has_value();
    batch.Add(item, std::move(*file), target->folder, ticket, key, std::move(digest));
    return {};
}

}  // namespace

void CopyDataFiles(const Environment& env, LoadedUpgrade& upgrade, RunState& run, ui::Dialogs& dialogs,
                   ui::StatusLine& status) {
    std::vector<DataFileItem>& files = upgrade.lists.DataFileItems;
    if (IsPlaceholder(files)) return;
    const auto upgradeFolder = UpgradeFolder(upgrade);
    InstallationAccess access(env);
    FileBatch batch(run, dialogs);
    for (DataFileItem& item : files) {
        dialogs.ProcessEvents();
        if (item.Update != 1 || item.Withheld != 0) continue;
        if (!item.Name.empty()) CountRunElement(run, dialogs, status);
        const std::string destDir = DataFileDestinationDir(item);
        if (item.Name.empty()) break;
        status.Say(GetLocalMessage("Copying File  ", 4423) + JoinPath(upgrade.ListPath, item.Name) +
                          "   to " + JoinPath(destDir, item.Name));
        item.Copied = 0;
        if (!upgradeFolder) {
            ShowErrorByCode(dialogs, 1, item.Name);
            item.Why = ErrorTextForCode(1, item.Name).text;
            continue;
        }
        if (const Outcome staged = StageDataFile(**upgradeFolder, upgrade.InPlace.get(), upgrade.ListPath,
                                                 access, run, dialogs, item, batch);
            !staged)
            item.Why = staged.Why();
    }
    batch.Flush();
    const std::vector<std::string> failed = SyncFileSystems(batch.Written());
    if (failed.empty()) return;
    // The old files stay in the run's record: a rollback brings them back.
    std::string text = "The copied files could not all be written to the disk; some may be incomplete. Undo this "
                       "update to bring back the files as they were.";
    for (const std::string& dir : failed) text += "\r\n" + dir;
    ShowWarning(dialogs, text);
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

std::optional<bool> SameBytes(int fa, int fb) {
    struct stat sa {}, sb {};
    if (::fstat(fa, &sa) != 0 || ::fstat(fb, &sb) != 0) return std::nullopt;
    if (sa.st_size != sb.st_size) return false;
    if (::lseek(fa, 0, SEEK_SET) != 0 || ::lseek(fb, 0, SEEK_SET) != 0) return std::nullopt;
    return ReadAlike(fa, fb);
}

}  // namespace zrx
