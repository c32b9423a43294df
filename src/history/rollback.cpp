#include "history/rollback.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <tuple>
#include <unordered_set>

#include "apply/run_guard.h"
#include "apply/targets.h"
#include "base/paths.h"
#include "base/test_point.h"
#include "base/text_file.h"
#include "base/text_utils.h"
#include "history/base_store.h"
#include "history/record_database.h"
#include "history/record_folder.h"
#include "history/run_record.h"
#include "kernel/installation.h"
#include "kernel/library_handles.h"
#include "kernel/zrxkernel.h"

namespace zrx::history {

namespace {

struct Change {
    int64_t id = 0;
    int what = 0;
    Place place;
    std::string name;
    bool created = false, link = false;
    std::string oldDigest, newDigest;
    FileIdentity old, fresh;  // elements: old is their library file's, where the run wrote through a link
    bool hasOld = false, hasNew = false;
};

std::string ShownState(const std::string& state, bool ended) {
    if (state == "running") return ended ? "complete" : "interrupted";
    return state;
}

bool RecordExists(const Environment& env) {
    const auto folder = OpenRecordFolder(env, false);
    struct stat info {};
    // A record folder that cannot be used is said by the open that follows.
    return !folder ? folder.Why().find("there is no record") == std::string::npos
                   : folder->history.Look("history.db", info);
}

// The file a place names for writing: the entry itself, or, where the run wrote through a link,
// the file the link leads to (as a run follows links), but only while that is still the file the
// run left there (`expected` its device and inode): a link somebody pointed elsewhere since is
// never written through.
struct RestoreTarget {
    std::shared_ptr<const Directory> folder;  // holds `name`
    std::string name;
    bool exists = false;
    struct stat info {};  // of the file written (a link followed)
};
// The folder that holds a change's place, opened and found to be one an update may write in, and
// the place's name there. `missingFolder` tells that the folder is gone.
struct WritablePlace {
    std::shared_ptr<const Directory> folder;
    std::string leaf;
};
Result<WritablePlace> OpenWritablePlace(const Environment& env, InstallationAccess& access, const Change& c,
                                        bool* missingFolder) {
    auto opened = OpenPlaceFolder(env, c.place, missingFolder);
    if (!opened) return Failure{opened.Why()};
    auto folder = std::make_shared<const Directory>(std::move(opened->folder));
    if (const Outcome writable = access.MayWriteIn(*folder); !writable)
        return Failure{PathOf(env, c.place) + ": " + writable.Why() + "; left alone"};
    return WritablePlace{std::move(folder), std::move(opened->name)};
}

// The target of a change in its place's folder, `leaf` there, as OpenTarget finds it.
Result<RestoreTarget> TargetIn(const Environment& env, InstallationAccess& access, const Change& c,
                               std::shared_ptr<const Directory> folder, const std::string& leaf) {
    const std::string path = PathOf(env, c.place);
    RestoreTarget target;
    target.folder = folder;
    target.name = leaf;
    struct stat info {};
    target.exists = folder->Look(leaf, info);
    target.info = info;
    if (!target.exists || !S_ISLNK(info.st_mode)) {
        if (target.exists && !S_ISREG(info.st_mode))
            return Failure{path + " is no longer a file; left alone"};
        return target;
    }
    // Only a link the run wrote through is followed; a file the run made was never a link.
    if (!c.link || (c.created && c.what == kFile))
        return Failure{path + " is now a symbolic link, which the update did not write through; left alone"};
    const size_t cut = path.rfind('/');
    const auto followed = access.Resolve(folder, cut == std::string::npos ? "." : path.substr(0, cut), leaf);
    if (!followed || !followed->exists)
        return Failure{(followed ? path + " is a symbolic link that leads nowhere" : followed.Why()) +
                       "; left alone"};
    // An element's library keeps its file through saves; a file the run wrote is the new one.
    const bool element = c.what == kPartElement || c.what == kSymbolElement;
    const FileIdentity& expected = !element && c.hasNew ? c.fresh : c.old;
    const struct stat& reached = followed->info;
    if (static_cast<int64_t>(reached.st_dev) != expected.device ||
        (static_cast<int64_t>(reached.st_ino) != expected.inode &&
         !(c.hasOld && static_cast<int64_t>(reached.st_ino) == c.old.inode)))
        return Failure{
            path + " is a symbolic link that now leads elsewhere than where the update wrote; left alone"};
    target.folder = followed->folder;
    target.name = followed->name;
    target.info = reached;
    return target;
}

// `missingFolder` tells that the folder of the place is gone.
Result<RestoreTarget> OpenTarget(const Environment& env, InstallationAccess& access, const Change& c,
                                 bool* missingFolder) {
    const auto place = OpenWritablePlace(env, access, c, missingFolder);
    if (!place) return Failure{place.Why()};
    return TargetIn(env, access, c, place->folder, place->leaf);
}

// The kept copy of a file, checked against what the record says it was; a failure when it is
// missing or differs.
Result<FileHandle> OpenKept(const Directory& files, const Change& c, const std::string& path) {
    FileHandle kept(
        ::openat(files.Fd(), std::to_string(c.id).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (kept.IsOpen() && ::fstat(kept.Fd(), &info) == 0 && S_ISREG(info.st_mode) &&
        info.st_size == c.old.size && Sha256OfDescriptor(kept.Fd()) == c.oldDigest &&
        ::lseek(kept.Fd(), 0, SEEK_SET) == 0)
        return kept;
    return Failure{"the record's copy of " + path + " is missing or was changed since the update; " + path +
                   " is left alone"};
}

// Puts a kept file back in place of `name` in `folder`, whole, by a rename: the old file itself by
// a second link where the record kept it so, a copy otherwise. Durable once `folder` is synced
// (its file system, for a copy).
Outcome PutBack(const Directory& files, int kept, const Change& c, const Directory& folder,
                const std::string& name) {
    struct stat info {};
    ::fstat(kept, &info);
    const auto isOld = [&c](const struct stat& s) {
        return static_cast<int64_t>(s.st_ino) == c.old.inode && static_cast<int64_t>(s.st_dev) == c.old.device;
    };
    // The old file itself: the kept file, or its second link while that is still as it was. It is
    // locked (as a temporary file is) from before it takes its temporary name until it has its own,
    // so that a sweep of what killed programs left (this installation's or another's that shares
    // the folder) never takes it.
    std::string original;
    if (isOld(info)) {
        original = std::to_string(c.id);
    } else {
        const std::string link = std::to_string(c.id) + ".link";
        const FileHandle fd(::openat(files.Fd(), link.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat linked {};
        if (fd.IsOpen() && ::fstat(fd.Fd(), &linked) == 0 && S_ISREG(linked.st_mode) &&
            IdentityOf(linked) == c.old && Sha256OfDescriptor(fd.Fd()) == c.oldDigest)
            original = link;
    }
    FileHandle originalFile;
    if (!original.empty()) {
        originalFile =
            FileHandle(::openat(files.Fd(), original.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat locked {};
        if (!originalFile.IsOpen() || ::flock(originalFile.Fd(), LOCK_EX | LOCK_NB) != 0 ||
            ::fstat(originalFile.Fd(), &locked) != 0 || !isOld(locked))
            original.clear();
    }
    std::string temp, why;
    bool ok = false;
    FileHandle copy;
    if (!original.empty()) {
        if (auto probe = folder.CreateTemporary(name)) {
            temp = probe->name;
            probe->file.Close();
            ::unlinkat(folder.Fd(), temp.c_str(), 0);
            ok = ::linkat(files.Fd(), original.c_str(), folder.Fd(), temp.c_str(), 0) == 0;
        }
    }
    if (!ok) {
        // The copy stays open, and so locked, until it has its name.
        auto made = folder.CreateTemporary(name);
        if (!made) return Failure{made.Why()};
        copy = std::move(made->file);
        temp = made->name;
        const struct timespec times[2] = {info.st_atim, info.st_mtim};
        const Outcome copied = CopyDescriptor(kept, copy.Fd());
        if (!copied) why = copied.Why();
        ok = copied && ::fchmod(copy.Fd(), info.st_mode & 07777) == 0 && ::futimens(copy.Fd(), times) == 0;
    }
    ok = ok && ::renameat(folder.Fd(), temp.c_str(), folder.Fd(), name.c_str()) == 0;
    if (!ok) {
        if (why.empty()) why = std::strerror(errno);
        if (!temp.empty()) ::unlinkat(folder.Fd(), temp.c_str(), 0);
        return Failure{why};
    }
    if (copy.IsOpen() && !copy.Close()) return Failure{std::strerror(errno)};
    return {};
}

// What became of a change that was undone.
enum class Undone { AsBefore, Restored };

class Restorer {
public:
    Restorer(const Environment& env, InstallationAccess& access, const Directory& runFolder, Directory files,
             bool force)
        : m_env(env), m_access(access), m_runFolder(runFolder), m_files(std::move(files)), m_force(force) {}

    // Deals with one element or file change: put back, or found as it was before the run; a
    // failure when it is left alone (a conflict, or it cannot be restored).
    Result<Undone> Undo(const Change& c) { return c.what == kFile ? File(c) : Element(c); }
    // The real path of the library an element was restored into (where a link there leads), as
    // the kernel names it in failed saves.
    const std::string& RealLibraryPath(const Change& c) {
        const std::string& path = LibraryPath(c);
        const auto it = m_realPaths.find(path);
        return it != m_realPaths.end() ? it->second : path;
    }
    // The libraries written, by path, for matching failed saves.
    const std::string& LibraryPath(const Change& c) {
        auto it = m_paths.find(c.id);
        if (it == m_paths.end()) it = m_paths.emplace(c.id, PathOf(m_env, c.place)).first;
        return it->second;
    }

private:
    Result<Undone> Element(const Change& c) {
        const bool part = c.what == kPartElement;
        const char* kind = part ? ZK_KIND_PART_LIBRARY : ZK_KIND_SYMBOL_LIBRARY;
        const std::string& path = LibraryPath(c);
        const std::string label = c.name + " in " + path;
        // The library's folder is opened and found writable once; the library itself is looked at
        // for every element (removed, or made a link, since the last).
        const PlaceKey key{c.place.root, c.place.relative, part};
        auto found = m_libraryPlaces.find(key);
        if (found == m_libraryPlaces.end()) {
            bool missingFolder = false;
            auto place = OpenWritablePlace(m_env, m_access, c, &missingFolder);
            if (!place) {
                if (missingFolder && c.created) return Undone::AsBefore;
                return Failure{place.Why()};
            }
            found = m_libraryPlaces.emplace(key, LibraryPlace{std::move(*place), false, 0, {}}).first;
        }
        LibraryPlace& known = found->second;
        auto target = TargetIn(m_env, m_access, c, known.place.folder, known.place.leaf);
        if (!target) return Failure{target.Why()};
        if (!target->exists && c.created) return Undone::AsBefore;  // nothing of the run is left
        if (!target->exists && !m_force) return Failure{label + ": the library was removed after the update"};
        std::string why;
        // The kernel's handle of a library in the place itself is kept with the place; one reached
        // through a link is asked for by where the link leads.
        const bool inPlace = target->folder == known.place.folder;
        if (!inPlace || !known.opened) {
            known.handle = m_libraries.Open(*target->folder, target->name, kind, true, &known.why);
            known.opened = inPlace;
        }
        const int32_t library = known.handle;
        why = known.why;
        // Worked out once per library: resolving it walks the whole path.
        if (!m_realPaths.contains(path)) m_realPaths.emplace(path, target->folder->RealPathOf(target->name));
        if (library == 0) return Failure{label + ": " + why};
        const std::string current = StringFromPointer(E_ElementDigest(library, c.name.c_str()));
        if (current.empty() && !StringFromPointer(E_LastError()).empty())
            return Failure{label + ": " + StringFromPointer(E_LastError())};
        const bool asWritten = c.newDigest.empty() || current == c.newDigest;
        if (c.created) {
            if (current.empty()) return Undone::AsBefore;
            if (!asWritten && !m_force) return Failure{label + " was changed after the update"};
            if (E_DeleteElement(library, c.name.c_str()) != 1)
                return Failure{label + ": " + StringFromPointer(E_LastError())};
            return Undone::Restored;
        }
        // The run's own library of old elements, through the run folder's handle that was checked.
        KeptLibrary& keptLibrary = m_kept[part ? 0 : 1];
        if (!keptLibrary.opened) {
            keptLibrary.handle = m_libraries.Open(m_runFolder, part ? "old.PART" : "old.SYMBOL", kind, false,
                                                  &keptLibrary.why);
            keptLibrary.opened = true;
        }
        const int32_t kept = keptLibrary.handle;
        why = keptLibrary.why;
        const std::string keptName = std::to_string(c.id);
        // The kept copy, compared with itself: there and undamaged.
        if (kept == 0)
            return Failure{label + ": the record's copy of its old content cannot be read (" + why +
                           "); left alone"};
        const int keptState = E_CompareElements(kept, keptName.c_str(), kept, keptName.c_str());
        if (keptState != 1)
            return Failure{label +
                           (keptState == -1 ? ": the record holds no copy of its old content"
                                            : ": the record's copy of its old content is damaged") +
                           "; left alone"};
        if (E_CompareElements(kept, keptName.c_str(), library, c.name.c_str()) == 1) return Undone::AsBefore;
        if (!asWritten && !m_force) return Failure{label + " was changed after the update"};
        if (E_CopyElement(kept, keptName.c_str(), library, c.name.c_str()) != 1)
            return Failure{label + ": " + StringFromPointer(E_LastError())};
        return Undone::Restored;
    }

    Result<Undone> File(const Change& c) {
        const std::string path = PathOf(m_env, c.place);
        bool missingFolder = false;
        auto opened = OpenTarget(m_env, m_access, c, &missingFolder);
        if (!opened) {
            if (missingFolder && c.created) return Undone::AsBefore;
            return Failure{missingFolder ? path + " was removed after the update" : opened.Why()};
        }
        RestoreTarget& target = *opened;
        const FileIdentity now = IdentityOf(target.info);
        if (target.exists && c.hasOld && now == c.old) return Undone::AsBefore;  // the old file itself
        const bool asWritten = target.exists && (!c.hasNew || now == c.fresh);
        if (c.created) {
            if (!target.exists) return Undone::AsBefore;
            if (!asWritten && !m_force) return Failure{path + " was changed after the update"};
            if (::unlinkat(target.folder->Fd(), target.name.c_str(), 0) != 0)
                return Failure{path + " cannot be removed: " + std::strerror(errno)};
            m_touched.push_back(std::move(target.folder));
            return Undone::Restored;
        }
        const auto kept = OpenKept(m_files, c, path);
        if (!kept) return Failure{kept.Why()};
        if (!asWritten) {
            // Restored by a copy already, or changed by somebody else.
            const FileHandle current(target.exists ? ::openat(target.folder->Fd(), target.name.c_str(),
                                                              O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)
                                                   : -1);
            if (current.IsOpen() && Sha256OfDescriptor(current.Fd()) == c.oldDigest) return Undone::AsBefore;
            if (!m_force)
                return Failure{path + (target.exists ? " was changed after the update"
                                                     : " was removed after the update")};
        }
        if (const Outcome back = PutBack(m_files, kept->Fd(), c, *target.folder, target.name); !back)
            return Failure{path + " cannot be restored: " + back.Why()};
        m_touched.push_back(std::move(target.folder));
        return Undone::Restored;
    }

public:
    // Makes the files restored since the last call durable: every file system they are on. False
    // when one could not be (then they are not done).
    bool SettleFiles() {
        std::set<dev_t> devices;
        bool ok = true;
        for (const auto& folder : m_touched) {
            struct stat info {};
            if (folder->Info(info) && !devices.insert(info.st_dev).second) continue;
            ok = ::syncfs(folder->Fd()) == 0 && ok;
        }
        m_touched.clear();
        return ok;
    }

private:
    std::vector<std::shared_ptr<const Directory>> m_touched;

    const Environment& m_env;
    InstallationAccess& m_access;
    const Directory& m_runFolder;
    Directory m_files;
    bool m_force;
    LibraryHandles m_libraries;
    // The libraries of element changes by place and kind: their folders, and the kernel's handles.
    using PlaceKey = std::tuple<int, std::string, bool>;
    struct LibraryPlace {
        WritablePlace place;
        bool opened = false;
        int32_t handle = 0;
        std::string why;
    };
    std::map<PlaceKey, LibraryPlace> m_libraryPlaces;
    // The run's own libraries of old elements (parts, symbols).
    struct KeptLibrary {
        bool opened = false;
        int32_t handle = 0;
        std::string why;
    };
    KeptLibrary m_kept[2];
    std::map<int64_t, std::string> m_paths;
    std::map<std::string, std::string> m_realPaths;  // by the library's path
};

// Removes from an index file one line for each of `lines`; lines added by others stay, each with
// the line end it had (CR LF, LF or CR). Returns how many were removed; -1 when the file cannot be
// rewritten.
int RemoveIndexLines(const Directory& folder, const std::string& name,
                     const std::vector<std::string>& lines) {
    const auto read = folder.ReadWhole(name);
    if (!read) return 0;
    const std::string& content = *read;
    std::map<std::string, int, std::less<>> wanted;
    for (const std::string& line : lines) ++wanted[line];
    std::string kept;
    kept.reserve(content.size());
    int removed = 0;
    for (size_t pos = 0; pos < content.size();) {
        size_t end = content.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = content.size();
        size_t next = end;
        if (next < content.size()) next += content.compare(next, 2, "\r\n") == 0 ? 2 : 1;
        const auto it = wanted.find(std::string_view(content).substr(pos, end - pos));
        if (it != wanted.end() && it->second > 0) {
            --it->second;
            ++removed;
        } else {
            kept.append(content, pos, next - pos);
        }
        pos = next;
    }
    if (removed == 0) return 0;
    auto output = TextOutput::OpenAt(folder, name);
    if (!output) return -1;
    output->Write(kept);
    if (!output->Commit()) return -1;
    return removed;
}

// One index file the run rewrote: where nobody has touched it since, it goes back as it was;
// otherwise only the lines the run added are taken out, and lines others added since stay. False
// when it could not be dealt with (named in `conflicts`).
bool RestoreIndex(const Environment& env, InstallationAccess& access, const Change& file,
                  const std::vector<std::string>& lines, const Directory& files, RollbackResult& result) {
    const std::string path = PathOf(env, file.place);
    bool missingFolder = false;
    const auto opened = OpenTarget(env, access, file, &missingFolder);
    if (!opened) {
        if (missingFolder) return true;
        result.conflicts.push_back(opened.Why());
        return false;
    }
    const RestoreTarget& target = *opened;
    if (!target.exists) return true;
    const FileIdentity now = IdentityOf(target.info);
    // A run killed before its new file took the old one's place left the old file as it was.
    if (file.hasOld && now == file.old) return true;
    if (file.hasNew && now == file.fresh) {
        const auto kept = OpenKept(files, file, path);
        if (kept && PutBack(files, kept->Fd(), file, *target.folder, target.name) &&
            ::syncfs(target.folder->Fd()) == 0) {
            result.restored += lines.size();
            return true;
        }
    }
    const int removed = RemoveIndexLines(*target.folder, target.name, lines);
    if (removed < 0) {
        result.conflicts.push_back(path + " cannot be rewritten");
        return false;
    }
    result.restored += static_cast<size_t>(removed);
    return true;
}

std::vector<Change> LoadChanges(RecordDatabase& rec, int64_t run, bool& loaded) {
    std::vector<Change> changes;
    RecordDatabase::Statement query(
        rec,
        "SELECT id, what, root, path, name, created, link, COALESCE(old_digest,''), COALESCE(new_digest,''),"
        " old_device, old_inode, old_size, old_mtime, new_device, new_inode, new_size, new_mtime,"
        " old_inode IS NOT NULL, new_inode IS NOT NULL FROM changes"
        // A run's changes are numbered as it made them, one after the other: read as the range of
        // its numbers, in their order (through the index on the run, each row would be looked up
        // by its number and all of them sorted).
        " WHERE id BETWEEN (SELECT MIN(id) FROM changes WHERE run=?1) AND (SELECT MAX(id) FROM changes WHERE "
        "run=?1)"
        " AND +run=?1 AND done=0 ORDER BY id");
    query.Bind(1, run);
    while (query.Next()) {
        Change c;
        c.id = query.Int(0);
        c.what = static_cast<int>(query.Int(1));
        c.place = {static_cast<int>(query.Int(2)), query.Text(3)};
        c.name = query.Text(4);
        c.created = query.Int(5) != 0;
        c.link = query.Int(6) != 0;
        c.oldDigest = query.Text(7);
        c.newDigest = query.Text(8);
        c.old = {query.Int(9), query.Int(10), query.Int(11), query.Int(12)};
        c.fresh = {query.Int(13), query.Int(14), query.Int(15), query.Int(16)};
        c.hasOld = query.Int(17) != 0;
        c.hasNew = query.Int(18) != 0;
        changes.push_back(std::move(c));
    }
    loaded = !query.Failed();
    return changes;
}

}  // namespace

Result<std::vector<RunSummary>> ListRuns(const Environment& env) {
    std::vector<RunSummary> runs;
    if (!RecordExists(env)) return runs;
    RecordFolder folder;
    auto opened = OpenRecord(env, RecordDatabase::Mode::ReadOnly, folder);
    if (!opened) return Failure{opened.Why()};
    RecordDatabase* db = opened->get();
    // Runs killed before they changed anything are not shown: there is nothing of them to undo.
    RecordDatabase::Statement query(
        *db,
        "SELECT id, started, ended, folder, state,"
        " (SELECT COUNT(*) FROM changes WHERE run=runs.id AND what IN (1, 7)),"
        " (SELECT COUNT(*) FROM changes WHERE run=runs.id AND what=2), COALESCE(verification, ''),"
        " COALESCE(signer, '') FROM runs WHERE EXISTS (SELECT 1 FROM changes WHERE run=runs.id) ORDER BY id DESC");
    while (query.Next())
        runs.push_back({query.Int(0), query.Text(1), query.Text(2), query.Text(3),
                        ShownState(query.Text(4), !query.IsNull(2)), query.Int(5), query.Int(6), query.Text(7),
                        query.Text(8)});
    if (query.Failed()) return Failure{db->Error()};
    return runs;
}

Outcome SetKeep(const Environment& env, int keep) {
    if (keep < 1) return Failure{"at least one run is kept"};
    RecordFolder folder;
    auto db = OpenRecord(env, RecordDatabase::Mode::Create, folder);
    if (!db) return Failure{db.Why()};
    if (!(*db)->SetSetting("keep", std::to_string(keep))) return Failure{(*db)->Error()};
    return {};
}

int KeptRuns(const Environment& env) {
    if (!RecordExists(env)) return 20;
    RecordFolder folder;
    const auto db = OpenRecord(env, RecordDatabase::Mode::ReadOnly, folder);
    return db ? std::atoi((*db)->Setting("keep", "20").c_str()) : 20;
}

namespace {

// One rollback of a recorded run, phase by phase: each phase either leaves the result as it found
// it and lets the next go on, or says in the result's message why nothing (more) is done.
class RunRollback {
public:
    RunRollback(const Environment& env, RecordFolder& folder, RecordDatabase& rec, bool force, RollbackResult& result)
        : m_env(env), m_folder(folder), m_rec(rec), m_force(force), m_result(result), m_access(env) {}

    // The run to roll back: the one asked for, or the newest not rolled back.
    bool FindRun(std::optional<int64_t> wanted) {
        RecordDatabase::Statement query(
            m_rec, wanted ? "SELECT id, state FROM runs WHERE id=?1"
                          : "SELECT id, state FROM runs WHERE state<>'rolled back' AND EXISTS"
                            " (SELECT 1 FROM changes WHERE run=runs.id) ORDER BY id DESC LIMIT 1");
        if (wanted) query.Bind(1, *wanted);
        if (!query.Next()) {
            if (query.Failed()) return Unreadable();
            m_result.message = wanted ? "there is no recorded run " + std::to_string(*wanted)
                                      : "every recorded run has been rolled back";
            return false;
        }
        m_run = query.Int(0);
        if (query.Text(1) == "rolled back") {
            m_result.message = "run " + std::to_string(m_run) + " has been rolled back already";
            return false;
        }
        m_result.run = m_run;
        return true;
    }

    // Runs are undone newest first where they touched the same places: the same elements, files or
    // index files, or anything inside a library or folder the older run made. Each of this run's
    // places is looked up among the later changes by its folder and path.
    bool NoNewerRunStands() {
        RecordDatabase::Statement newer(
            m_rec,
            "SELECT MAX(later) FROM ("
            " SELECT later.run AS later FROM changes mine JOIN changes later"
            "  ON later.root=mine.root AND later.path=mine.path AND later.run>mine.run"
            "  WHERE mine.run=?1 AND ((mine.what IN (1,2,7) AND later.what IN (1,2,7)"
            "   AND (later.name=mine.name OR mine.what=2 OR later.what=2))"
            "   OR (mine.what=8 AND later.what=8) OR mine.what IN (3,4))"
            "  AND later.run IN (SELECT id FROM runs WHERE state<>'rolled back')"
            " UNION ALL"
            " SELECT later.run FROM changes mine JOIN changes later"
            "  ON later.root=mine.root AND later.path>mine.path || '/' AND later.path<mine.path || '0' AND "
            "later.run>mine.run"
            "  WHERE mine.run=?1 AND mine.what IN (3,4)"
            "  AND later.run IN (SELECT id FROM runs WHERE state<>'rolled back'))");
        newer.Bind(1, m_run);
        if (!newer.Next()) return Unreadable();
        if (!newer.IsNull(0)) {
            m_result.message = "run " + std::to_string(newer.Int(0)) +
                               " is newer and changed the same elements, files or index files; roll it back first";
            return false;
        }
        return true;
    }

    // The run's changes still to be undone, found where the run made them or not at all.
    bool LoadChangesToUndo() {
        bool loaded = true;
        m_changes = LoadChanges(m_rec, m_run, loaded);
        if (!loaded) return Unreadable();
        // The installation's folders must be the ones they were (an INI changed since, or folders
        // given relative to wherever the program runs, would lead elsewhere).
        RecordDatabase::Statement query(m_rec, "SELECT roots FROM runs WHERE id=?1");
        query.Bind(1, m_run);
        if (!query.Next()) return Unreadable();
        const std::string then = query.Text(0);
        const std::string now = RealFolders(m_env);
        std::set<int> used;
        for (const Change& c : m_changes) used.insert(c.place.root);
        for (const int root : used) {
            if (root < 0 || root >= kInstallationFolders || LineOf(then, root) != LineOf(now, root) ||
                LineOf(now, root).empty()) {
                m_result.message = "the installation's folders are not the ones run " + std::to_string(m_run) +
                                   " changed (" +
                                   (root >= 0 && root < kInstallationFolders ? InstallationFolder(m_env, root) : "?") +
                                   " was " + LineOf(then, root) + "); nothing was done";
                return false;
            }
        }
        // What no update writes is no change of this run's: left alone, and named.
        std::vector<Change> plausible;
        for (Change& c : m_changes) {
            if (PlausiblePlace(m_env, c.what, c.place)) plausible.push_back(std::move(c));
            else m_result.conflicts.push_back(PathOf(m_env, c.place) + " is no change an update makes; left alone");
        }
        m_changes = std::move(plausible);
        for (const Change& c : m_changes)
            if (c.what == kFile || c.what == kIndexBefore) m_keptFileOf.insert(c.id);
        return true;
    }

    // The run's folder and its kept files: only what nobody else could write.
    bool OpenRunFolder() {
        const std::string runName = "run-" + std::to_string(m_run);
        const std::string runPath = m_folder.historyPath + "/" + runName;
        std::string why = runPath + " is missing";
        // Each entry as CheckPrivate sees it, opened beneath its folder when it passes.
        const auto checked = [&why](const Directory& parent, const std::string& name,
                                    const std::string& path) {
            struct stat info {};
            if (!parent.IsOpen() || !parent.Look(name, info)) return Directory();
            if (const Outcome ok = CheckPrivate(info, path); !ok) {
                why = ok.Why();
                return Directory();
            }
            auto opened = parent.Beneath(name);
            if (!opened) why = opened.Why();
            return opened ? std::move(*opened) : Directory();
        };
        m_runFolder = checked(m_folder.history, runName, runPath);
        if (m_runFolder.IsOpen()) why = runPath + "/files is missing";
        m_files = checked(m_runFolder, "files", runPath + "/files");
        // The old elements are restored as they are kept: only from libraries nobody else could write.
        struct stat info {};
        for (const char* name :
             {"old.PART", "old.PART-wal", "old.PART-shm", "old.SYMBOL", "old.SYMBOL-wal", "old.SYMBOL-shm"})
            if (m_files.IsOpen() && m_runFolder.Look(name, info))
                if (const Outcome ok = CheckPrivate(info, runPath + "/" + name); !ok) {
                    why = ok.Why();
                    m_files = Directory();
                }
        if (!m_files.IsOpen()) {
            m_result.message = "the record's folder of run " + std::to_string(m_run) + " cannot be used: " + why;
            return false;
        }
        TestPoint("rollback: the run's folder is open");
        // The run's own libraries of old elements, left half-written by a run killed as it wrote
        // them, are completed before they are read.
        for (const char* name : {"old.PART", "old.SYMBOL"})
            for (const char* side : {"-journal", "-wal"})
                if (m_runFolder.Look(std::string(name) + side, info)) {
                    SettleLibrary(m_runFolder, name);
                    break;
                }
        m_keptFiles = m_files.Duplicate();
        return true;
    }

    // Kept files that no change still to be undone names: a run stopped (a full disk, a kill)
    // between keeping a file and recording its row left a second name of the file it kept.
    void LetGoOfOrphanedKeptFiles() {
        std::vector<std::string> names;
        m_files.List(names);
        for (const std::string& name : names) {
            const std::string number = name.ends_with(".link") ? name.substr(0, name.size() - 5) : name;
            char* end = nullptr;
            const long long id = std::strtoll(number.c_str(), &end, 10);
            struct stat info {};
            if (number.empty() || *end != '\0' || m_keptFileOf.contains(id)) continue;
            if (m_files.Look(name, info) && S_ISREG(info.st_mode)) ::unlinkat(m_files.Fd(), name.c_str(), 0);
        }
    }

    bool MarkRollingBack() {
        if (RecordDatabase::Statement(m_rec, "UPDATE runs SET state='rolling back' WHERE id=?1").Bind(1, m_run).Run())
            return true;
        m_result.message = "the record cannot be written: " + m_rec.Error();
        return false;
    }

    // Undoes the elements, files and index files, newest first.
    void UndoChanges() {
        Restorer restorer(m_env, m_access, m_runFolder, std::move(m_files), m_force);
        for (const auto& [id, change] : Units()) {
            const Change& c = *change;
            if (c.what == kIndexBefore) {
                Settle(restorer);
                const Index& index = m_indexes[{c.place.root, c.place.relative}];
                std::vector<std::string> lines;
                for (const Change* line : index.lines) lines.push_back(line->name);
                if (!RestoreIndex(m_env, m_access, c, lines, m_keptFiles, m_result)) continue;
                m_done.push_back(c.id);
                for (const Change* line : index.lines) m_done.push_back(line->id);
                continue;
            }
            const auto undone = restorer.Undo(c);
            if (!undone) {
                m_result.conflicts.push_back(undone.Why());
                continue;
            }
            const bool restored = *undone == Undone::Restored;
            m_result.restored += restored ? 1 : 0;
            if (!restored) ++m_result.asBefore;
            if (c.what == kFile && restored) m_restoredFiles.push_back(&c);
            else if (restored) m_restoredElements.push_back(&c);
            else m_done.push_back(c.id);
            // Made durable and marked done in batches: each settle waits for the disk several
            // times, and a rollback stopped before one finds what it restored as it was next time.
            if (m_restoredElements.size() + m_restoredFiles.size() >= 4096) Settle(restorer);
        }
        Settle(restorer);
        // The saves into a library put back as a file were taken back with it: done when it is.
        for (const Change& c : m_changes)
            if (c.what == kFile && m_allDone.contains(c.id))
                for (const Change* saved : m_savedIntoFiles[{c.place.root, c.place.relative}])
                    m_done.push_back(saved->id);
    }

    // Libraries and subdirectories the run made go when they are empty again; one that still
    // holds something (left alone above, or added since) stays, and is looked at again next time.
    void RemoveWhatTheRunMade() {
        E_FlushLibraries();
        struct stat info {};
        for (const Change& c : m_changes) {
            if (c.what != kLibraryMade) continue;
            bool missing = false;
            const auto opened = OpenPlaceFolder(m_env, c.place, &missing);
            if (!opened || !opened->folder.Look(opened->name, info)) {
                if (missing || opened) m_done.push_back(c.id);  // gone already
                continue;
            }
            const Directory& place = opened->folder;
            const std::string& leaf = opened->name;
            if (!S_ISREG(info.st_mode)) continue;
            bool empty = false;
            for (const char* kind : {ZK_KIND_PART_LIBRARY, ZK_KIND_SYMBOL_LIBRARY}) {
                const int32_t library = OpenLibraryIn(place, leaf, kind, -1);
                if (library <= 0) continue;
                empty = E_GetLibDirName(library, 0) == nullptr;
                E_CloseLibrary(library);
            }
            E_FlushLibraries();  // the file is let go before it goes
            if (empty && ::unlinkat(place.Fd(), leaf.c_str(), 0) == 0) m_done.push_back(c.id);
        }
        for (auto c = m_changes.rbegin(); c != m_changes.rend(); ++c) {
            if (c->what != kDirectoryMade) continue;
            bool missing = false;
            const auto opened = OpenPlaceFolder(m_env, c->place, &missing);
            if (!opened) {
                if (missing) m_done.push_back(c->id);
                continue;
            }
            // Only an empty folder goes.
            if (::unlinkat(opened->folder.Fd(), opened->name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT)
                m_done.push_back(c->id);
        }
        MarkDone();
    }

    // What became of each element and file, and the run's state as the rollback leaves it.
    void Finish() {
        for (const Change& c : m_changes) {
            if (c.what != kPartElement && c.what != kSymbolElement && c.what != kFile) continue;
            ChangedPlace place{PathOf(m_env, c.place), c.what == kFile ? std::string() : c.name};
            (m_allDone.contains(c.id) ? m_result.undone : m_result.left).push_back(std::move(place));
        }
        if (!m_recorded)
            m_result.conflicts.push_back(
                "the record of update runs cannot be written (" + m_rec.Error() +
                "): what was undone is not marked so; run the rollback again once it can be");
        const bool complete = m_result.conflicts.empty();
        RecordDatabase::Statement state(m_rec, "UPDATE runs SET state=?2 WHERE id=?1");
        if (!state.Bind(1, m_run).Bind(2, complete ? "rolled back" : "partly rolled back").Run()) {
            m_result.conflicts.push_back(
                "the record of update runs cannot be written (" + m_rec.Error() +
                "): the run is not marked as rolled back; run the rollback again once it can be");
        }
        m_result.outcome =
            m_result.conflicts.empty() ? RollbackResult::Outcome::Restored : RollbackResult::Outcome::Conflicts;
        // Every library at rest: none keeps a write-ahead log beside it.
        E_FlushLibraries();
    }

private:
    // An index file's change: the file as it was before the run, and the lines the run added.
    struct Index {
        const Change* file = nullptr;
        std::vector<const Change*> lines;
    };

    bool Unreadable() {
        m_result.message = "the record of update runs cannot be read: " + m_rec.Error() + "; nothing was done";
        return false;
    }

    // Line `index` of a text (the record's folders are one a line).
    static std::string LineOf(const std::string& text, int index) {
        size_t start = 0;
        for (int i = 0; i < index && start != std::string::npos; ++i) {
            start = text.find('\n', start);
            if (start != std::string::npos) ++start;
        }
        return start == std::string::npos ? std::string() : text.substr(start, text.find('\n', start) - start);
    }

    // What is undone as one, newest first: an element, a file, an index file with its lines. A
    // library the run replaced as a data file takes the run's saves into it back with it, so they
    // are not undone one by one; an index of which nothing was kept has nothing to undo.
    std::vector<std::pair<int64_t, const Change*>> Units() {
        std::set<std::pair<int, std::string>> filePlaces;
        for (const Change& c : m_changes)
            if (c.what == kFile) filePlaces.insert({c.place.root, c.place.relative});
        std::vector<std::pair<int64_t, const Change*>> units;
        for (const Change& c : m_changes) {
            const bool element = c.what == kPartElement || c.what == kSymbolElement;
            if (element && filePlaces.contains({c.place.root, c.place.relative}))
                m_savedIntoFiles[{c.place.root, c.place.relative}].push_back(&c);
            else if (element || c.what == kFile)
                units.emplace_back(c.id, &c);
            if (c.what == kIndexLine) m_indexes[{c.place.root, c.place.relative}].lines.push_back(&c);
            if (c.what == kIndexBefore) m_indexes[{c.place.root, c.place.relative}].file = &c;
        }
        for (const auto& [key, index] : m_indexes)
            if (index.file != nullptr) units.emplace_back(index.file->id, index.file);
            else for (const Change* line : index.lines) m_done.push_back(line->id);
        std::sort(units.begin(), units.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
        return units;
    }

    // Element restores count as done only once the kernel has made them durable, file restores
    // once their file system has: those that failed on the way to the disk stay to be done again.
    void Settle(Restorer& restorer) {
        std::vector<std::pair<std::string, std::string>> failed;
        if (E_FlushLibraries() == 0) {
            for (int32_t i = 0; const char* name = E_FailedSave(i); ++i)
                failed.emplace_back(StringFromPointer(E_FailedSaveLibrary(i)), StringFromPointer(name));
            E_ClearFailedSaves();
        }
        for (const Change* c : m_restoredElements) {
            const std::string& library = restorer.RealLibraryPath(*c);
            if (std::find(failed.begin(), failed.end(), std::make_pair(library, c->name)) == failed.end()) {
                m_done.push_back(c->id);
            } else {
                m_result.conflicts.push_back(c->name + " in " + restorer.LibraryPath(*c) +
                                             " could not be written back (is the disk full?)");
                --m_result.restored;
            }
        }
        m_restoredElements.clear();
        if (restorer.SettleFiles()) {
            for (const Change* c : m_restoredFiles) m_done.push_back(c->id);
        } else {
            for (const Change* c : m_restoredFiles)
                m_result.conflicts.push_back(PathOf(m_env, c->place) + " could not be written back (is the disk full?)");
            m_result.restored -= m_restoredFiles.size();
        }
        m_restoredFiles.clear();
        MarkDone();
    }

    // A change once done is never undone again: marked done in the record, and its kept file goes,
    // so that a file put back by a second link has its one name again.
    void MarkDone() {
        RecordDatabase::Transaction transaction(m_rec);
        RecordDatabase::Statement mark(m_rec, "UPDATE changes SET done=1 WHERE id=?1");
        bool marked = transaction.Active();
        for (const int64_t id : m_done) marked = marked && mark.Bind(1, id).Run();
        if (!marked || !transaction.Commit()) {
            m_recorded = false;
            m_done.clear();
            return;
        }
        m_allDone.insert(m_done.begin(), m_done.end());
        for (const int64_t id : m_done) {
            if (!m_keptFileOf.contains(id)) continue;
            ::unlinkat(m_keptFiles.Fd(), std::to_string(id).c_str(), 0);
            ::unlinkat(m_keptFiles.Fd(), (std::to_string(id) + ".link").c_str(), 0);
        }
        m_done.clear();
    }

    const Environment& m_env;
    RecordFolder& m_folder;
    RecordDatabase& m_rec;
    const bool m_force;
    RollbackResult& m_result;
    InstallationAccess m_access;
    int64_t m_run = 0;
    std::vector<Change> m_changes;
    Directory m_runFolder, m_files, m_keptFiles;
    std::unordered_set<int64_t> m_allDone, m_keptFileOf;
    std::vector<int64_t> m_done;
    bool m_recorded = true;  // every change undone was marked done in the record
    std::map<std::pair<int, std::string>, Index> m_indexes;
    std::map<std::pair<int, std::string>, std::vector<const Change*>> m_savedIntoFiles;
    std::vector<const Change*> m_restoredElements, m_restoredFiles;
};

}  // namespace

RollbackResult Rollback(const Environment& env, std::optional<int64_t> wanted, bool force, bool lockHeld) {
    RollbackResult result;
    std::optional<InstallationLock> lock;
    if (!lockHeld) {
        // Held by every run for as long as it lasts: no rollback runs beside a run that records.
        lock.emplace(env);
        if (!lock->Held()) {
            result.message = lock->Problem();
            return result;
        }
    }
    // What a killed run left half-written goes, as at the start of a run.
    RemoveStaleTemporaries(env);
    SettleLeftLibraries(env);
    if (!RecordExists(env)) {
        result.message = "no update run of this installation has been recorded";
        return result;
    }
    RecordFolder folder;
    auto db = OpenRecord(env, RecordDatabase::Mode::ReadWrite, folder);
    if (!db) {
        result.message = db.Why();
        return result;
    }
    RemoveRecordTemporaries(folder);
    RunRollback rollback(env, folder, **db, force, result);
    if (!rollback.FindRun(wanted) || !rollback.NoNewerRunStands() || !rollback.LoadChangesToUndo() ||
        !rollback.OpenRunFolder())
        return result;
    rollback.LetGoOfOrphanedKeptFiles();
    if (!rollback.MarkRollingBack()) return result;
    rollback.UndoChanges();
    rollback.RemoveWhatTheRunMade();
    rollback.Finish();
    // What only the undone changes installed is no base any more: the bases are as before the run.
    PruneBases(folder, **db);
    return result;
}

}  // namespace zrx::history
