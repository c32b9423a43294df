#include "history/run_record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "apply/run_guard.h"
#include "apply/targets.h"
#include "base/paths.h"
#include "base/text_utils.h"
#include "history/record_database.h"
#include "kernel/installation.h"
#include "kernel/library_handles.h"
#include "kernel/zrxkernel.h"

namespace zrx::history {

namespace {

std::string KeyOf(char what, const Place& place, const std::string& name) {
    std::string key(1, what);
    key += std::to_string(place.root);
    key += '\0';
    key += place.relative;
    key += '\0';
    key += name;
    return key;
}

std::string RunFolderName(int64_t run) { return "run-" + std::to_string(run); }

// Removes a run's rows and its folder.
void DropRun(RecordDatabase& db, int64_t run, const Directory& history) {
    RecordDatabase::Statement(db, "DELETE FROM changes WHERE run=?1").Bind(1, run).Run();
    RecordDatabase::Statement(db, "DELETE FROM runs WHERE id=?1").Bind(1, run).Run();
    history.RemoveTree(RunFolderName(run));
}

}  // namespace

std::string HistoryFolder(const Environment& env) {
    return JoinPath(JoinPath(InstallationDir(env), ".zrxlibug"), "history");
}

RunRecorder::RunRecorder(const Environment& env, RecordFolder folder, std::unique_ptr<RecordDatabase> db,
                         int64_t run, Directory runFolder, Directory files)
    : m_env(env),
      m_folder(std::move(folder)),
      m_db(std::move(db)),
      m_run(run),
      m_runFolder(std::move(runFolder)),
      m_files(std::move(files)) {}

RunRecorder::~RunRecorder() {
    MakeDurable();
    E_SetCommitHook(nullptr, nullptr);
    m_bases = BaseStore();  // its libraries closed before all are flushed
    for (const auto& [path, handle] : m_readHandles) E_CloseLibrary(handle);
    E_CloseLibrary(m_oldParts);
    E_CloseLibrary(m_oldSymbols);
    E_FlushLibraries();
    // Side files the kernel made as the umask said are the owner's alone too.
    for (const char* name : {"old.PART-wal", "old.PART-shm", "old.SYMBOL-wal", "old.SYMBOL-shm"})
        ::fchmodat(m_runFolder.Fd(), name, 0644, 0);
}

Result<std::unique_ptr<RunRecorder>> RunRecorder::Begin(const Environment& env, const Origin& origin) {
    RecordFolder folder;
    auto opened = OpenRecord(env, RecordDatabase::Mode::Create, folder);
    if (!opened) return Failure{opened.Why()};
    std::unique_ptr<RecordDatabase> db = std::move(*opened);
    RemoveRecordTemporaries(folder);
    {
        // Runs killed before they changed anything leave nothing to undo.
        std::vector<int64_t> empty;
        RecordDatabase::Statement query(
            *db, "SELECT id FROM runs WHERE state='running' AND NOT EXISTS (SELECT 1 FROM changes WHERE run=runs.id)");
        while (query.Next()) empty.push_back(query.Int(0));
        for (const int64_t run : empty) DropRun(*db, run, folder.history);
    }
    RecordDatabase::Statement newRun(
        *db, "INSERT INTO runs(started, folder, state, roots, verification, signer)"
             " VALUES(?1, ?2, 'running', ?3, ?4, ?5)");
    if (!newRun.Bind(1, NowUtc())
             .Bind(2, origin.folder)
             .Bind(3, RealFolders(env))
             .Bind(4, origin.verification)
             .Bind(5, origin.signer)
             .Run())
        return Failure{"the record cannot be written: " + db->Error()};
    const int64_t run = db->LastInsertId();
    const std::string name = RunFolderName(run);
    Directory runFolder, files;
    // Nobody but its owner may write in the record, whatever the umask. A folder of that name that
    // no run of this record names (a record lost and made anew, a killed run's) is put aside first.
    struct stat left {};
    if (folder.history.Look(name, left)) {
        std::string aside = "lost-" + name;
        for (int n = 2; folder.history.Look(aside, left); ++n)
            aside = "lost-" + name + "-" + std::to_string(n);
        ::renameat(folder.history.Fd(), name.c_str(), folder.history.Fd(), aside.c_str());
    }
    // The run's folder and its "files", each made and opened beneath the one that holds it.
    const auto make = [](const Directory& parent, const std::string& child) -> Result<Directory> {
        if (const Outcome made = parent.MakeFolder(child, 0755); !made) return Failure{made.Why()};
        return parent.Beneath(child);
    };
    auto made = make(folder.history, name);
    if (made) {
        runFolder = std::move(*made);
        made = make(runFolder, "files");
    }
    if (!made || !folder.history.Sync()) {
        const std::string why = made ? std::strerror(errno) : made.Why();  // before the drop sets errno anew
        DropRun(*db, run, folder.history);
        return Failure{"the record's folder cannot be made: " + why};
    }
    files = std::move(*made);
    auto bases = BaseStore::Open(folder, BaseStore::Use::Keep);
    auto recorder = std::unique_ptr<RunRecorder>(
        new RunRecorder(env, std::move(folder), std::move(db), run, std::move(runFolder), std::move(files)));
    if (bases)
        recorder->m_bases = std::move(*bases);
    else
        recorder->m_basesProblem = bases.Why();
    E_SetCommitHook(&RunRecorder::CommitHook, recorder.get());
    return std::move(recorder);
}

int32_t RunRecorder::CommitHook(void* recorder) { return static_cast<RunRecorder*>(recorder)->MakeDurable() ? 1 : 0; }

bool RunRecorder::MakeDurable() {
    if (!m_failure.empty()) return false;
    // Flushing the old elements' libraries calls the kernel's hook, which calls this again.
    if (m_makingDurable) return true;
    m_makingDurable = true;
    bool ok = true;
    // The old elements first: the rows that name them follow.
    for (const int32_t old : {m_oldParts, m_oldSymbols})
        if (old > 0 && E_FlushLibrary(old) == 0) ok = false;
    m_bases.Flush();  // what the run installed, for later merges: not needed to undo it
    m_makingDurable = false;
    if (!ok) return Fail("the old elements cannot be kept in the record (is the disk full?)");
    if (!WriteWaitingRows()) return false;
    if (m_inTransaction) {
        m_inTransaction = false;
        if (!m_db->Exec("COMMIT")) {
            const std::string error = m_db->Error();
            m_db->Exec("ROLLBACK");
            return Fail("the record cannot be written: " + error);
        }
    }
    return true;
}

bool RunRecorder::Fail(const std::string& why) {
    if (m_failure.empty()) m_failure = why;
    m_waiting.clear();  // rolled back with the rest
    if (m_inTransaction) {
        m_db->Exec("ROLLBACK");
        m_inTransaction = false;
    }
    return false;
}

Outcome RunRecorder::Ready() {
    if (m_failure.empty() && !m_inTransaction) {
        if (m_db->Exec("BEGIN IMMEDIATE")) m_inTransaction = true;
        else Fail("the record cannot be written: " + m_db->Error());
    }
    if (!m_failure.empty()) return Failure{m_failure};
    return {};
}

int64_t RunRecorder::AddChange(int what, const Place& place, const std::string& name, bool created, bool link,
                               const struct stat* library, bool waitForNew) {
    // Numbered here, not by the table: an element's row waits for its new digest, and the rows
    // written meanwhile must not take its number.
    if (m_nextId == 0) {
        RecordDatabase::Statement last(*m_db, "SELECT COALESCE(MAX(id), 0) FROM changes");
        if (!last.Next()) {
            Fail("the record cannot be read: " + m_db->Error());
            return 0;
        }
        m_nextId = last.Int(0) + 1;
    }
    Row row{m_nextId++, what, place, name, created, link, library != nullptr, {}, {}};
    if (library)
        row.device = static_cast<int64_t>(library->st_dev), row.inode = static_cast<int64_t>(library->st_ino);
    // Only inside the record's open transaction, which commits before any save is made durable.
    if (waitForNew && m_inTransaction) {
        m_waiting.push_back(std::move(row));
        return m_waiting.back().id;
    }
    return WriteRow(row, {}) ? row.id : 0;
}

bool RunRecorder::WriteRow(const Row& row, const std::string& newDigest) {
    if (!m_add)
        m_add = std::make_unique<RecordDatabase::Statement>(
            *m_db,
            "INSERT INTO changes(id, run, what, root, path, name, created, link, old_device, old_inode, "
            "new_digest)"
            " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)");
    m_add->Bind(1, row.id)
        .Bind(2, m_run)
        .Bind(3, row.what)
        .Bind(4, row.place.root)
        .Bind(5, row.place.relative)
        .Bind(6, row.name)
        .Bind(7, row.created ? 1 : 0)
        .Bind(8, row.link ? 1 : 0);
    if (row.library) m_add->Bind(9, row.device).Bind(10, row.inode);
    if (!newDigest.empty()) m_add->Bind(11, newDigest);
    if (!m_add->Run()) return Fail("the record cannot be written: " + m_db->Error());
    return true;
}

bool RunRecorder::WriteWaitingRows() {
    bool written = true;
    for (const Row& row : m_waiting) written = written && WriteRow(row, {});
    m_waiting.clear();
    return written;
}

void RunRecorder::SetNew(int64_t id, const std::string& digest, const struct stat* identity) {
    if (!Ready()) return;
    if (!m_setNew)
        m_setNew = std::make_unique<RecordDatabase::Statement>(
            *m_db,
            "UPDATE changes SET new_digest=?2, new_device=?3, new_inode=?4, new_size=?5, new_mtime=?6 WHERE id=?1");
    m_setNew->Bind(1, id);
    if (!digest.empty()) m_setNew->Bind(2, digest);
    if (identity) {
        const FileIdentity now = IdentityOf(*identity);
        m_setNew->Bind(3, now.device).Bind(4, now.inode).Bind(5, now.size).Bind(6, now.modified);
    }
    if (!m_setNew->Run()) Fail("the record cannot be written: " + m_db->Error());
}

bool RunRecorder::SetOld(int64_t id, const std::string& digest, const FileIdentity& old) {
    RecordDatabase::Statement details(*m_db,
                                      "UPDATE changes SET old_digest=?2, old_device=?3, old_inode=?4, old_size=?5,"
                                      " old_mtime=?6 WHERE id=?1");
    if (details.Bind(1, id)
            .Bind(2, digest)
            .Bind(3, old.device)
            .Bind(4, old.inode)
            .Bind(5, old.size)
            .Bind(6, old.modified)
            .Run())
        return true;
    return Fail("the record cannot be written: " + m_db->Error());
}

int32_t RunRecorder::ReadHandle(const Directory& folder, const std::string& name, const std::string& key,
                                bool part) {
    const auto it = m_readHandles.find(key);
    if (it != m_readHandles.end()) return it->second;
    const int32_t handle =
        std::max(0, OpenLibraryIn(folder, name, part ? ZK_KIND_PART_LIBRARY : ZK_KIND_SYMBOL_LIBRARY, 0));
    if (handle > 0) m_readHandles.emplace(key, handle);  // a library made later is opened then
    return handle;
}

int32_t& RunRecorder::OldLibrary(bool part) {
    int32_t& old = part ? m_oldParts : m_oldSymbols;
    if (old == 0) {
        // In the run's own folder, through the handle that was made and checked with it: should
        // the record's folder be swapped meanwhile, the old elements still go where the record is.
        const char* name = part ? "old.PART" : "old.SYMBOL";
        old = std::max(
            0, OpenLibraryIn(m_runFolder, name, part ? ZK_KIND_PART_LIBRARY : ZK_KIND_SYMBOL_LIBRARY, -1));
        // The kernel makes a library (and its side files) as the umask says; nobody but its owner
        // may write this one.
        if (old > 0)
            for (const std::string& file : {std::string(name), std::string(name) + "-wal", std::string(name) + "-shm"})
                ::fchmodat(m_runFolder.Fd(), file.c_str(), 0644, 0);
    }
    return old;
}

Result<RunRecorder::RecordedLibrary*> RunRecorder::LibraryOf(const Target& target, bool* refused) {
    *refused = false;
    auto it = m_libraries.find(target.path);
    if (it != m_libraries.end() && it->second.exists) return &it->second;  // as it stays for the run
    RecordedLibrary library;
    library.folder = target.folder;
    library.name = target.name;
    const auto place = PlaceOf(m_env, target.path);
    if (!place) return Failure{target.path + " lies outside the installation's folders"};
    library.place = *place;
    library.link = target.throughLink;
    // Looked at again until it exists: the run's first save makes a missing library.
    struct stat now {};
    library.exists = target.folder->Look(target.name, now);
    if (library.exists && !S_ISREG(now.st_mode)) {
        *refused = true;
        return Failure{target.path + " is not a library file"};
    }
    library.file = now;
    library.realPath = target.folder->RealPathOf(target.name);
    if (it == m_libraries.end()) return &m_libraries.emplace(target.path, std::move(library)).first->second;
    library.elements = std::move(it->second.elements);
    it->second = std::move(library);
    return &it->second;
}

RunRecorder::SaveVerdict RunRecorder::BeforeElementSave(const ElementSave& save) {
    using enum SaveVerdict::Kind;
    // The record stopped taking changes: the save must not be made.
    const auto notRecorded = [this] { return SaveVerdict{NotRecorded, Ready().Why()}; };
    if (const Outcome ready = Ready(); !ready) return {NotRecorded, ready.Why()};
    bool refused = false;
    const auto found = LibraryOf(save.library, &refused);
    if (!found) return {refused ? LibraryRefused : NotRecorded, found.Why()};
    RecordedLibrary* library = *found;
    library->part = save.partLibrary;
    const int what = save.partLibrary ? kPartElement : kSymbolElement;
    if (!library->exists) {
        // The save makes the library: recorded durably before the kernel creates the file.
        if (m_librariesMade.insert(KeyOf('L', library->place, {})).second &&
            (AddChange(kLibraryMade, library->place, {}, true, false) == 0 || !MakeDurable()))
            return notRecorded();
        if (save.name.empty() || library->elements.count(save.name)) return {};
        const int64_t id = AddChange(what, library->place, save.name, true, false, nullptr, true);
        if (id == 0) return notRecorded();
        library->elements.emplace(save.name, id);
        return {};
    }
    // Its first change in this run keeps what was there before the run.
    if (save.name.empty() || library->elements.count(save.name)) return {};
    const int32_t target =
        ReadHandle(*save.library.folder, save.library.name, save.library.path, save.partLibrary);
    if (target == 0) {
        const std::string why = StringFromPointer(E_LastError());
        return {LibraryRefused, why.empty() ? "it cannot be read" : why};
    }
    const std::string old = StringFromPointer(E_ElementDigest(target, save.name.c_str()));
    if (!old.empty()) {
        // A save of what is there already changes nothing, and is not recorded: should a later row
        // change the element, that row finds it as it was before the run.
        const int32_t source =
            ReadHandle(save.sourceFolder, save.source, "\1" + save.source, save.partLibrary);
        if (source > 0 && E_CompareElements(source, save.sourceName.c_str(), target, save.name.c_str()) == 1)
            return {};
    }
    const int64_t id = AddChange(what, library->place, save.name, old.empty(), library->link,
                                 library->link ? &library->file : nullptr, true);
    if (id == 0) return notRecorded();
    if (!old.empty()) {
        const int32_t kept = OldLibrary(save.partLibrary);
        if (kept == 0 || E_CopyElement(target, save.name.c_str(), kept, std::to_string(id).c_str()) != 1) {
            Fail("the old element " + save.name + " of " + save.library.path +
                 " cannot be kept: " + StringFromPointer(E_LastError()));
            return notRecorded();
        }
    }
    library->elements.emplace(save.name, id);
    return {};
}

bool RunRecorder::AfterElementSave(const ElementSave& save) {
    if (save.name.empty()) return true;
    const int32_t target =
        ReadHandle(*save.library.folder, save.library.name, save.library.path, save.partLibrary);
    const std::string now = target > 0 ? StringFromPointer(E_ElementDigest(target, save.name.c_str())) : "";
    if (const auto library = m_libraries.find(save.library.path);
        library != m_libraries.end() && !now.empty()) {
        const auto it = library->second.elements.find(save.name);
        if (it != library->second.elements.end()) {
            // Its row, when it still waits, is written now with the digest; else it is told it.
            const auto waiting = std::find_if(m_waiting.rbegin(), m_waiting.rend(),
                                              [id = it->second](const Row& row) { return row.id == id; });
            if (waiting != m_waiting.rend()) {
                const Row row = std::move(*waiting);
                m_waiting.erase(std::next(waiting).base());
                if (Ready()) WriteRow(row, now);
            } else {
                SetNew(it->second, now, nullptr);
            }
            // The base of a later merge: what the upgrade offered (a merge's other side), or what
            // was saved.
            if (save.merged) {
                const int32_t source =
                    ReadHandle(save.sourceFolder, save.source, "\1" + save.source, save.partLibrary);
                const std::string offered =
                    source > 0 ? StringFromPointer(E_ElementDigest(source, save.sourceName.c_str())) : "";
                // Noted even where its content cannot be kept: the saved merge stays an edit.
                if (!offered.empty()) {
                    m_bases.KeepElement(source, save.partLibrary, save.sourceName, offered);
                    NoteMerge(it->second, offered);
                }
            } else {
                m_bases.KeepElement(target, save.partLibrary, save.name, now);
                NoteMerge(it->second, {});
            }
        }
    }
    return !now.empty();
}

void RunRecorder::ElementSaveFailed(const ElementSave& save) {
    if (!save.name.empty())
        m_refusedSaves.push_back({save.library.folder->RealPathOf(save.library.name), save.name});
}

Outcome RunRecorder::BeforeFolderMade(const std::string& path) {
    if (const Outcome ready = Ready(); !ready) return ready;
    const auto place = PlaceOf(m_env, path);
    if (!place) return Failure{path + " lies outside the installation's folders"};
    if (AddChange(kDirectoryMade, *place, {}, true, false) == 0 || !MakeDurable()) return Ready();
    return {};
}

Result<std::string> RunRecorder::KeepFile(const Directory& dir, const std::string& name,
                                          const struct stat& info, int64_t id) {
    const std::string kept = std::to_string(id);
    // The old file itself, by a second name, where nothing else can change it: its only other
    // name is about to be given to the new file, and it is this user's.
    if (info.st_nlink == 1 && info.st_uid == ::geteuid() &&
        ::linkat(dir.Fd(), name.c_str(), m_files.Fd(), kept.c_str(), 0) == 0) {
        const int fd = ::openat(m_files.Fd(), kept.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        struct stat linked {};
        if (fd >= 0 && ::fstat(fd, &linked) == 0 && linked.st_ino == info.st_ino && linked.st_dev == info.st_dev) {
            std::string digest = Sha256OfDescriptor(fd);
            ::close(fd);
            if (!digest.empty()) return digest;
        } else if (fd >= 0) {
            ::close(fd);
        }
        ::unlinkat(m_files.Fd(), kept.c_str(), 0);  // something else took its name meanwhile: copied below
    }
    // A regular file only, opened without waiting (a FIFO put in its place meanwhile is none).
    struct stat source {};
    const auto in = dir.OpenRegular(name, &source);
    if (!in) return Failure{in.Why()};
    // A file with other names, or another user's, is copied: its content could change through
    // those names. It is linked as well, so that an undo can give back the very file while it is
    // still what it was.
    ::linkat(dir.Fd(), name.c_str(), m_files.Fd(), (kept + ".link").c_str(), 0);
    auto made = m_files.CreateTemporary(kept);
    if (!made) return Failure{made.Why()};
    FileHandle out = std::move(made->file);
    const std::string temp = made->name;
    std::string digest;
    const Outcome copied = CopyDescriptor(in->Fd(), out.Fd(), &digest);
    const struct timespec times[2] = {source.st_atim, source.st_mtim};
    const bool ok =
        copied && ::fchmod(out.Fd(), source.st_mode & 0777 & ~static_cast<mode_t>(S_IWGRP | S_IWOTH)) == 0 &&
        ::futimens(out.Fd(), times) == 0 && out.Close() &&
        ::renameat(m_files.Fd(), temp.c_str(), m_files.Fd(), kept.c_str()) == 0;
    if (!ok) {
        Failure failure{copied ? std::strerror(errno) : copied.Why()};
        ::unlinkat(m_files.Fd(), temp.c_str(), 0);
        return failure;
    }
    return digest;
}

Result<int64_t> RunRecorder::StageFileChange(const FileChange& change) {
    if (const Outcome ready = Ready(); !ready) return Failure{ready.Why()};
    const auto place = PlaceOf(m_env, change.path);
    if (!place) return Failure{change.path + " lies outside the installation's folders"};
    const std::string key = KeyOf('F', *place, {});
    // The base of a later merge: what the upgrade offers there.
    if (change.offered >= 0) m_bases.KeepFile(change.offered, change.offeredDigest);
    const std::string base = change.merged ? change.offeredDigest : std::string();
    if (const auto it = m_recorded.find(key); it != m_recorded.end()) {
        NoteMerge(it->second, base);
        return it->second;
    }
    const int64_t id = AddChange(kFile, *place, {}, change.replaced == nullptr, change.throughLink);
    if (id == 0) return Failure{Ready().Why()};
    if (change.replaced) {
        const auto digest = KeepFile(change.dir, change.name, *change.replaced, id);
        if (!digest) {
            Fail("the old file " + change.path + " cannot be kept: " + digest.Why());
            return Failure{Ready().Why()};
        }
        if (!SetOld(id, *digest, IdentityOf(*change.replaced))) return Failure{Ready().Why()};
    }
    NoteMerge(id, base);
    m_recorded.emplace(key, id);
    m_stagedKeys.emplace(id, key);
    return id;
}

Outcome RunRecorder::CommitStaged() {
    if (m_stagedKeys.empty()) return Ready();
    // The kept copies reach the disk, then the rows that name them.
    const bool kept = ::syncfs(m_files.Fd()) == 0 && m_files.Sync();
    m_bases.Flush();
    if (!kept) Fail(std::string("the kept files cannot be written to the disk: ") + std::strerror(errno));
    if (!MakeDurable()) return Failure{m_failure};
    return {};
}

void RunRecorder::AfterFileChange(int64_t ticket, const struct stat* written, const std::string& digest) {
    const auto staged = m_stagedKeys.find(ticket);
    if (written != nullptr) {
        // What the run installed there, by its digest: the base a later preview tells edits by.
        SetNew(ticket, digest, written);
    } else if (staged != m_stagedKeys.end()) {
        // Recorded for this change alone, which was not made after all.
        if (Ready())
            RecordDatabase::Statement(*m_db, "DELETE FROM changes WHERE id=?1").Bind(1, ticket).Run();
        ::unlinkat(m_files.Fd(), std::to_string(ticket).c_str(), 0);
        m_recorded.erase(staged->second);
    }
    if (staged != m_stagedKeys.end()) m_stagedKeys.erase(staged);
}

Outcome RunRecorder::BeforeIndexSave(const Target& target, const std::vector<std::string>& lines) {
    const std::string& path = target.path;
    const auto notRecorded = [&path](const Outcome& why) {
        return Failure{"the lines added to " + path + " cannot be recorded: " + why.Why()};
    };
    if (const Outcome ready = Ready(); !ready) return notRecorded(ready);
    const auto place = PlaceOf(m_env, path);
    if (!place) return Failure{path + " lies outside the installation's folders"};
    const int64_t id = AddChange(kIndexBefore, *place, {}, false, target.throughLink);
    bool ok = id != 0;
    if (ok) {
        // The file as it was stays in the run's folder (the rewrite puts a new file in its place).
        struct stat info {};
        const bool isFile = target.folder->Look(target.name, info) && S_ISREG(info.st_mode);
        const Result<std::string> digest =
            isFile ? KeepFile(*target.folder, target.name, info, id)
                   : Result<std::string>(Failure{target.name + " is no longer a file"});
        ok = digest && SetOld(id, *digest, IdentityOf(info)) && ::syncfs(m_files.Fd()) == 0;
        if (!ok && m_failure.empty())
            Fail("the old " + path + " cannot be kept: " + (digest ? std::strerror(errno) : digest.Why()));
    }
    for (const std::string& line : lines) {
        if (!ok) break;
        ok = AddChange(kIndexLine, *place, line, false, false) != 0;
    }
    if (ok && MakeDurable()) return {};
    return notRecorded(Ready());
}

bool RunRecorder::BeforeIndexReplace(const std::string& path, const struct stat& written) {
    const auto place = PlaceOf(m_env, path);
    if (!place || !Ready()) return false;
    const FileIdentity now = IdentityOf(written);
    RecordDatabase::Statement update(*m_db,
                                     "UPDATE changes SET new_device=?4, new_inode=?5, new_size=?6, new_mtime=?7"
                                     " WHERE run=?1 AND what IN (6, 8) AND root=?2 AND path=?3");
    return update.Bind(1, m_run)
               .Bind(2, place->root)
               .Bind(3, place->relative)
               .Bind(4, now.device)
               .Bind(5, now.inode)
               .Bind(6, now.size)
               .Bind(7, now.modified)
               .Run() &&
           MakeDurable();
}

bool RunRecorder::DropSavesThatChangedNothing(const std::vector<FailedSave>& failed) {
    bool written = true;
    RecordDatabase::Statement drop(*m_db, "DELETE FROM changes WHERE id=?1");
    // A save that was refused, or did not become durable, changed nothing where the element is as
    // it was.
    std::vector<FailedSave> unsaved = failed;
    unsaved.insert(unsaved.end(), m_refusedSaves.begin(), m_refusedSaves.end());
    for (const FailedSave& save : unsaved)
        for (const auto& [path, library] : m_libraries) {
            const auto element = library.elements.find(save.name);
            if (element == library.elements.end() || library.realPath != save.library || !library.folder)
                continue;
            const int64_t id = element->second;
            const int32_t target = ReadHandle(*library.folder, library.name, path, library.part);
            const std::string now = target > 0 ? StringFromPointer(E_ElementDigest(target, save.name.c_str())) : "";
            const int32_t kept = library.part ? m_oldParts : m_oldSymbols;
            const std::string old =
                kept > 0 ? StringFromPointer(E_ElementDigest(kept, std::to_string(id).c_str())) : "";
            if (now == old) written = drop.Bind(1, id).Run() && written;
        }
    return written;
}

std::optional<RunRecorder::ChangePlaces> RunRecorder::ChangedPlaces(const char* condition) {
    ChangePlaces places;
    RecordDatabase::Statement query(
        *m_db, (std::string("SELECT id, root, path FROM changes WHERE run=?1 AND ") + condition).c_str());
    query.Bind(1, m_run);
    while (query.Next()) places.push_back({query.Int(0), {static_cast<int>(query.Int(1)), query.Text(2)}});
    if (query.Failed()) return std::nullopt;
    return places;
}

bool RunRecorder::DropIndexFilesNotReplaced() {
    // Index files the run was to rewrite and did not (the new file never took the old one's place).
    const auto notReplaced = ChangedPlaces("what=8 AND new_inode IS NULL");
    bool written = notReplaced.has_value();
    for (const auto& [id, place] : notReplaced.value_or(ChangePlaces{})) {
        written = RecordDatabase::Statement(*m_db, "DELETE FROM changes WHERE id=?1").Bind(1, id).Run() && written;
        written = RecordDatabase::Statement(*m_db, "DELETE FROM changes WHERE run=?1 AND what=5 AND root=?2 AND path=?3")
                      .Bind(1, m_run)
                      .Bind(2, place.root)
                      .Bind(3, place.relative)
                      .Run() &&
                  written;
        ::unlinkat(m_files.Fd(), std::to_string(id).c_str(), 0);
    }
    return written;
}

bool RunRecorder::DropWhatWasNotMade() {
    // Libraries and folders the run was to make and did not.
    const auto made = ChangedPlaces("what IN (3, 4)");
    bool written = made.has_value();
    for (const auto& [id, place] : made.value_or(ChangePlaces{})) {
        const auto opened = OpenPlaceFolder(m_env, place);
        struct stat info {};
        if (!opened || !opened->folder.Look(opened->name, info))
            written = RecordDatabase::Statement(*m_db, "DELETE FROM changes WHERE id=?1").Bind(1, id).Run() && written;
    }
    return written;
}

bool RunRecorder::FoldSavesIntoReplacedFiles() {
    // A library the run replaced as a data file and then saved elements into: the run's own saves
    // are part of what it left there, so the file's new identity is taken once the library is at
    // rest again (a rollback puts the whole file back).
    for (auto& [path, handle] : m_readHandles) E_CloseLibrary(handle);
    m_readHandles.clear();
    E_FlushLibraries();
    const auto replaced = ChangedPlaces("what=2");
    for (const auto& [id, place] : replaced.value_or(ChangePlaces{}))
        for (const auto& [path, library] : m_libraries) {
            if (library.place.root != place.root || library.place.relative != place.relative || !library.folder ||
                library.elements.empty())
                continue;
            struct stat now {};
            if (library.folder->Look(library.name, now) && S_ISREG(now.st_mode)) SetNew(id, {}, &now);
        }
    return replaced.has_value();
}

void RunRecorder::NoteMerge(int64_t id, const std::string& offered) {
    if (offered.empty() && !m_merged.contains(id)) return;
    if (!Ready()) return;
    // Prepared once: a merging run notes every element it saves.
    std::unique_ptr<RecordDatabase::Statement>& statement = offered.empty() ? m_dropMerge : m_noteMerge;
    if (!statement)
        statement = std::make_unique<RecordDatabase::Statement>(
            *m_db, offered.empty() ? "DELETE FROM merges WHERE change=?1"
                                   : "INSERT OR REPLACE INTO merges VALUES(?1, ?2)");
    statement->Bind(1, id);
    if (!offered.empty()) statement->Bind(2, offered);
    const bool noted = statement->Run();
    if (!noted) Fail("the record cannot be written: " + m_db->Error());
    if (offered.empty())
        m_merged.erase(id);
    else
        m_merged.insert(id);
}

bool RunRecorder::MakeRoom() {
    // Only a run recorded whole that changed something makes room: the oldest runs beyond the
    // number kept go now.
    const int64_t keep = std::max<int64_t>(1, std::atoll(m_db->Setting("keep", "20").c_str()));
    std::vector<int64_t> old;
    RecordDatabase::Statement query(*m_db, "SELECT id FROM runs ORDER BY id DESC LIMIT -1 OFFSET ?1");
    query.Bind(1, keep);
    while (query.Next()) old.push_back(query.Int(0));
    query.Reset();
    for (const int64_t run : old) DropRun(*m_db, run, m_folder.history);
    return !old.empty();
}

int64_t RunRecorder::Finish(const std::vector<FailedSave>& failed) {
    MakeDurable();
    if (!Ready()) return m_run;  // what was recorded stays: the run can be undone as far as it went
    // Every statement of the finish must succeed.
    bool written = DropSavesThatChangedNothing(failed);
    written = DropIndexFilesNotReplaced() && written;
    written = DropWhatWasNotMade() && written;
    written = FoldSavesIntoReplacedFiles() && written;
    RecordDatabase::Statement count(*m_db, "SELECT COUNT(*) FROM changes WHERE run=?1");
    count.Bind(1, m_run);
    const bool counted = count.Next();
    const bool anything = counted && count.Int(0) > 0;
    written = counted && written;
    count.Reset();
    // Only a run still running is ended: a run another program rolled back meanwhile (it could
    // only do so by getting round the lock) stays as that program left it.
    if (anything) {
        written = RecordDatabase::Statement(*m_db,
                                            "UPDATE runs SET state='complete', ended=?2 WHERE id=?1 AND state='running'")
                      .Bind(1, m_run)
                      .Bind(2, NowUtc())
                      .Run() &&
                  written;
    } else {
        written = RecordDatabase::Statement(*m_db, "DELETE FROM runs WHERE id=?1 AND state='running'")
                      .Bind(1, m_run)
                      .Run() &&
                  written;
    }
    const bool ours = m_db->ChangedRows() == 1;
    if (!written) {
        // The record stays as the run left it: its rows are what the run may have changed.
        Fail("the end of the run cannot be recorded: " + m_db->Error());
        return m_run;
    }
    if (!ours) {
        Fail("another program changed this run's record while it ran; it is left as that program left it");
        return m_run;
    }
    if (!MakeDurable()) return m_run;
    if (!anything) {
        E_CloseLibrary(m_oldParts), E_CloseLibrary(m_oldSymbols);
        m_oldParts = m_oldSymbols = 0;
        E_FlushLibraries();
        m_folder.history.RemoveTree(RunFolderName(m_run));
        return 0;
    }
    // What only the dropped runs installed is no base any more.
    if (MakeRoom())
        if (const auto wanted = WantedBases(*m_db)) {
            m_bases.Prune(*wanted);
            m_bases.Flush();
        }
    return m_run;
}

}  // namespace zrx::history
