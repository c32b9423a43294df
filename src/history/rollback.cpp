#include "history/rollback.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "apply/data_files.h"
#include "apply/run_guard.h"
#include "history/record_database.h"
#include "history/run_record.h"
#include "kernel/library_handles.h"
#include "kernel/zrxkernel.h"
#include "shell/app.h"
#include "shell/paths.h"
#include "shell/text_file.h"
#include "shell/text_utils.h"

namespace zrx::history {

namespace fs = std::filesystem;

namespace {

struct Change {
    int64_t id;
    int what;
    std::string path;
    std::string name;
    bool created;
    std::string digest;
    int64_t oldInode, oldSize, oldMtime, newInode, newSize, newMtime;
};

std::string ShownState(const std::string& state, bool ended) {
    if (state == "running") return ended ? "complete" : "interrupted";
    return state;
}

// Puts the kept copy of a file back under its name, whole: by a second link where the record could
// link it (the old file itself, with its time), else by a copy; either way by a rename. On failure
// the file is as it was and `why` says why where more is known than that.
bool PutBack(const std::string& kept, const std::string& path, std::string& why) {
    // Named as the run names its temporaries, so that a rollback killed here leaves nothing behind
    // once the next run or rollback starts.
    const size_t slash = path.rfind('/');
    const std::string temp = path.substr(0, slash + 1) + "." + path.substr(slash + 1) + ".zrxtmp-restore";
    ::unlink(temp.c_str());
    if (::link(kept.c_str(), temp.c_str()) != 0) return CopyFileWhole(kept, path, why);
    if (::rename(temp.c_str(), path.c_str()) == 0) return true;
    ::unlink(temp.c_str());
    return false;
}

class Restorer {
public:
    Restorer(const std::string& runFolder, bool force) : m_folder(runFolder), m_force(force) {}

    // Deals with one change; false when it is left alone (a conflict, or it cannot be restored),
    // with the reason in `why`.
    bool Undo(const Change& c, std::string& why, bool& restored) {
        restored = false;
        switch (c.what) {
            case kPartElement:
            case kSymbolElement:
                return Element(c, why, restored);
            case kFile:
                return File(c, why, restored);
            default:
                return true;  // index lines, libraries and directories are dealt with apart
        }
    }

private:
    int32_t Library(const std::string& path, bool part, bool write) {
        return m_libraries.Open(path, part ? ZK_KIND_PART_LIBRARY : ZK_KIND_SYMBOL_LIBRARY, write);
    }

    bool Element(const Change& c, std::string& why, bool& restored) {
        const bool part = c.what == kPartElement;
        const std::string keptName = std::to_string(c.id);
        struct stat info {};
        const bool libraryThere = ::lstat(c.path.c_str(), &info) == 0;
        if (!libraryThere && c.created) return true;  // nothing of the run is left
        if (!libraryThere && !m_force)
            return why = c.name + " in " + c.path + ": the library was removed after the update", false;
        const int32_t target = Library(c.path, part, true);
        if (target == 0)
            return why = c.name + " in " + c.path + ": " + StringFromPointer(E_LastError()), false;
        const std::string current = StringFromPointer(E_ElementDigest(target, c.name.c_str()));
        if (c.created) {
            if (current.empty()) return true;
            if (current != c.digest && !m_force)
                return why = c.name + " in " + c.path + " was changed after the update", false;
            if (E_DeleteElement(target, c.name.c_str()) != 1)
                return why = c.name + " in " + c.path + ": " + StringFromPointer(E_LastError()), false;
            restored = true;
            return true;
        }
        const int32_t kept = Library(m_folder + (part ? "/old.PART" : "/old.SYMBOL"), part, false);
        if (kept == 0) return why = c.name + ": its old content is not in the record any more", false;
        if (current != c.digest) {
            if (!current.empty() && E_CompareElements(kept, keptName.c_str(), target, c.name.c_str()) == 1)
                return true;
            if (!m_force) return why = c.name + " in " + c.path + " was changed after the update", false;
        }
        if (E_CopyElement(kept, keptName.c_str(), target, c.name.c_str()) != 1)
            return why = c.name + " in " + c.path + ": " + StringFromPointer(E_LastError()), false;
        restored = true;
        return true;
    }

    bool File(const Change& c, std::string& why, bool& restored) {
        struct stat now {};
        const bool there = ::lstat(c.path.c_str(), &now) == 0;
        const bool asWritten = there && now.st_size == c.newSize && Nanoseconds(now.st_mtim) == c.newMtime;
        if (c.created) {
            if (!there) return true;
            if (!asWritten && !m_force) return why = c.path + " was changed after the update", false;
            if (::unlink(c.path.c_str()) != 0) return why = c.path + " cannot be removed", false;
            restored = true;
            return true;
        }
        const std::string kept = m_folder + "/files/" + std::to_string(c.id);
        if (there && static_cast<int64_t>(now.st_ino) == c.oldInode) return true;  // the old file itself
        if (!asWritten && !m_force) {
            if (there && S_ISREG(now.st_mode) && SameBytes(kept, c.path).value_or(false))
                return true;  // restored by a copy
            return why = c.path + (there ? " was changed after the update" : " was removed after the update"),
                   false;
        }
        why.clear();
        if (!PutBack(kept, c.path, why))
            return why = c.path + " cannot be restored" + (why.empty() ? "" : ": " + why), false;
        restored = true;
        return true;
    }

    std::string m_folder;
    bool m_force;
    LibraryHandles m_libraries;
};

// Removes from an index file one line for each of `lines`; lines added by others stay. Returns
// how many were removed; -1 when the file cannot be rewritten.
int RemoveIndexLines(const std::string& path, const std::vector<std::string>& lines, bool removeWhenEmpty) {
    auto input = TextInput::Open(path);
    if (!input) return 0;
    std::vector<std::string> kept;
    std::map<std::string, int> wanted;
    for (const std::string& line : lines) ++wanted[line];
    int removed = 0;
    std::string line;
    bool nonEmpty = false;
    while (input->ReadLine(line)) {
        const auto it = wanted.find(line);
        if (it != wanted.end() && it->second > 0) {
            --it->second;
            ++removed;
            continue;
        }
        nonEmpty = nonEmpty || !TrimmedBlanks(line).empty();
        kept.push_back(line);
    }
    input.reset();
    if (removeWhenEmpty && !nonEmpty) return ::unlink(path.c_str()) == 0 ? removed : -1;
    if (removed == 0) return 0;
    auto output = TextOutput::Open(path);
    if (!output) return -1;
    for (const std::string& text : kept) output->WriteLine(text);
    return output->Commit() ? removed : -1;
}

}  // namespace

bool ListRuns(const Environment& env, std::vector<RunSummary>& runs, std::string& error) {
    runs.clear();
    const std::string folder = HistoryFolder(env);
    std::error_code ec;
    if (!fs::exists(folder + "/history.db", ec)) return true;
    auto db = RecordDatabase::Open(folder, false, error);
    if (!db) return false;
    RecordDatabase::Statement query(
        *db,
        "SELECT id, started, ended, folder, state,"
        " (SELECT COUNT(*) FROM changes WHERE run=runs.id AND what IN (1, 7)),"
        " (SELECT COUNT(*) FROM changes WHERE run=runs.id AND what=2) FROM runs ORDER BY id DESC");
    while (query.Next())
        runs.push_back({query.Int(0), query.Text(1), query.Text(2), query.Text(3),
                        ShownState(query.Text(4), !query.IsNull(2)), query.Int(5), query.Int(6)});
    if (query.Failed()) {
        error = db->Error();
        return false;
    }
    return true;
}

bool SetKeep(const Environment& env, int keep, std::string& error) {
    if (keep < 1) {
        error = "at least one run is kept";
        return false;
    }
    auto db = RecordDatabase::Open(HistoryFolder(env), true, error);
    if (!db) return false;
    if (db->SetSetting("keep", std::to_string(keep))) return true;
    error = db->Error();
    return false;
}

int KeptRuns(const Environment& env) {
    std::string error;
    std::error_code ec;
    if (!fs::exists(HistoryFolder(env) + "/history.db", ec)) return 20;
    auto db = RecordDatabase::Open(HistoryFolder(env), false, error);
    return db ? std::atoi(db->Setting("keep", "20").c_str()) : 20;
}

RollbackResult Rollback(const Environment& env, std::optional<int64_t> wanted, bool force, bool lockHeld) {
    RollbackResult result;
    std::optional<InstallationLock> lock;
    if (!lockHeld) {
        lock.emplace(InstallationDir(env));
        if (!lock->Held()) {
            result.message =
                "an upgrade of this installation is in progress in another program; nothing was changed";
            return result;
        }
    }
    // What a killed run left half-written goes, as at the start of a run.
    RemoveStaleTemporaries(env);
    const std::string historyFolder = HistoryFolder(env);
    std::error_code ec;
    if (!fs::exists(historyFolder + "/history.db", ec)) {
        result.message = "no update run of this installation has been recorded";
        return result;
    }
    auto db = RecordDatabase::Open(historyFolder, false, result.message);
    if (!db) return result;
    RecordDatabase& rec = *db;
    RemoveStaleTemporaries(historyFolder);

    int64_t run = 0;
    {
        RecordDatabase::Statement query(
            rec, wanted ? "SELECT id, state FROM runs WHERE id=?1"
                        : "SELECT id, state FROM runs WHERE state<>'rolled back' ORDER BY id DESC LIMIT 1");
        if (wanted) query.Bind(1, *wanted);
        if (!query.Next()) {
            result.message = wanted ? "there is no recorded run " + std::to_string(*wanted)
                                    : "every recorded run has been rolled back";
            return result;
        }
        run = query.Int(0);
        if (query.Text(1) == "rolled back") {
            result.message = "run " + std::to_string(run) + " has been rolled back already";
            return result;
        }
    }
    result.run = run;
    {
        // Runs are undone newest first where they touched the same elements or files.
        RecordDatabase::Statement newer(
            rec,
            "SELECT MAX(later.run) FROM changes later JOIN changes mine ON later.place=mine.place"
            " AND COALESCE(later.name,'')=COALESCE(mine.name,'')"
            " WHERE mine.run=?1 AND later.run>?1 AND mine.what IN (1,2,7) AND later.what IN (1,2,7)"
            " AND later.run IN (SELECT id FROM runs WHERE state<>'rolled back')");
        newer.Bind(1, run);
        if (newer.Next() && !newer.IsNull(0)) {
            result.message = "run " + std::to_string(newer.Int(0)) +
                             " is newer and changed the same elements or files; " + "roll it back first";
            return result;
        }
    }
    if (!RecordDatabase::Statement(rec, "UPDATE runs SET state='rolling back' WHERE id=?1")
             .Bind(1, run)
             .Run()) {
        result.message = "the record cannot be written: " + rec.Error();
        return result;
    }

    std::vector<Change> changes;
    {
        RecordDatabase::Statement query(
            rec,
            "SELECT changes.id, what, places.path, COALESCE(name,''), created, COALESCE(digest,''),"
            " COALESCE(old_inode,0), COALESCE(old_size,0), COALESCE(old_mtime,0), COALESCE(new_inode,0),"
            " COALESCE(new_size,0), COALESCE(new_mtime,0) FROM changes JOIN places ON places.id=changes.place"
            " WHERE run=?1 AND done=0 ORDER BY changes.id");
        query.Bind(1, run);
        while (query.Next())
            changes.push_back({query.Int(0), static_cast<int>(query.Int(1)), query.Text(2), query.Text(3),
                               query.Int(4) != 0, query.Text(5), query.Int(6), query.Int(7), query.Int(8),
                               query.Int(9), query.Int(10), query.Int(11)});
    }

    const std::string runFolder = historyFolder + "/run-" + std::to_string(run);
    std::vector<int64_t> done;
    auto markDone = [&rec, &done](bool all) {
        if (done.empty() || (!all && done.size() < 512)) return;
        RecordDatabase::Transaction transaction(rec);
        RecordDatabase::Statement mark(rec, "UPDATE changes SET done=1 WHERE id=?1");
        for (const int64_t id : done) mark.Bind(1, id).Run();
        // Restored elements reach the disk before the record says so.
        E_FlushLibraries();
        if (transaction.Commit()) done.clear();
    };
    {
        Restorer restorer(runFolder, force);
        for (const Change& c : changes) {
            if (c.what != kPartElement && c.what != kSymbolElement && c.what != kFile) continue;
            std::string why;
            bool restored = false;
            if (restorer.Undo(c, why, restored)) {
                done.push_back(c.id);
                result.restored += restored ? 1 : 0;
            } else {
                result.conflicts.push_back(why);
            }
            markDone(false);
        }
    }
    if (E_FlushLibraries() == 0) {
        for (int32_t i = 0; const char* name = E_FailedSave(i); ++i)
            result.conflicts.push_back(StringFromPointer(name) +
                                       " could not be written back (is the disk full?)");
        E_ClearFailedSaves();
        done.clear();  // what was marked in this last batch is tried again next time
    }
    markDone(true);

    // The index files: where nobody has touched a file since the run wrote it, it goes back as it
    // was (or away, when the run made it); otherwise only the lines the run added are taken out,
    // and lines others added since stay.
    std::map<std::string, std::vector<std::string>> lines;
    std::map<std::string, const Change*> fileChange;
    std::vector<int64_t> indexIds;
    for (const Change& c : changes) {
        if (c.what == kIndexLine) lines[c.path].push_back(c.name), indexIds.push_back(c.id);
        if (c.what == kIndexMade || c.what == kIndexBefore)
            fileChange[c.path] = &c, indexIds.push_back(c.id), lines[c.path];
    }
    bool indexesDone = true;
    for (const auto& [path, added] : lines) {
        const auto found = fileChange.find(path);
        const Change* file = found == fileChange.end() ? nullptr : found->second;
        struct stat now {};
        const bool exists = ::lstat(path.c_str(), &now) == 0;
        auto is = [&now](int64_t inode, int64_t size, int64_t mtime) {
            return inode != 0 && static_cast<int64_t>(now.st_ino) == inode && now.st_size == size &&
                   Nanoseconds(now.st_mtim) == mtime;
        };
        // A run killed before its new file took the old one's place left the old file as it was.
        if (exists && file != nullptr && file->what == kIndexBefore &&
            is(file->oldInode, file->oldSize, file->oldMtime))
            continue;
        const bool untouched = exists && file != nullptr && is(file->newInode, file->newSize, file->newMtime);
        if (untouched && file->what == kIndexMade) {
            if (::unlink(path.c_str()) == 0) {
                result.restored += added.size();
                continue;
            }
        } else if (untouched) {
            const std::string kept = runFolder + "/files/" + std::to_string(file->id);
            std::string why;
            if (PutBack(kept, path, why)) {
                result.restored += added.size();
                continue;
            }
        }
        const int removed = RemoveIndexLines(path, added, file != nullptr && file->what == kIndexMade);
        if (removed < 0) {
            result.conflicts.push_back(path + " cannot be rewritten");
            indexesDone = false;
        } else {
            result.restored += static_cast<size_t>(removed);
        }
    }
    if (indexesDone) done.insert(done.end(), indexIds.begin(), indexIds.end());

    // Libraries and subdirectories the run made, when they are empty again.
    E_FlushLibraries();
    for (const Change& c : changes) {
        if (c.what == kLibraryMade) {
            bool empty = false;
            for (const char* kind : {ZK_KIND_PART_LIBRARY, ZK_KIND_SYMBOL_LIBRARY}) {
                const int32_t library = E_OpenLibrary(c.path.c_str(), kind, 0);
                if (library <= 0) continue;
                empty = E_GetLibDirName(library, 0) == nullptr;
                E_CloseLibrary(library);
            }
            E_FlushLibraries();  // the file is let go before it goes
            if (empty) ::unlink(c.path.c_str());
            done.push_back(c.id);
        }
    }
    for (const Change& c : changes) {
        if (c.what == kDirectoryMade) {
            ::rmdir(c.path.c_str());  // only when empty
            done.push_back(c.id);
        }
    }
    markDone(true);

    const bool complete = result.conflicts.empty();
    RecordDatabase::Statement state(rec, "UPDATE runs SET state=?2 WHERE id=?1");
    state.Bind(1, run).Bind(2, complete ? "rolled back" : "partly rolled back").Run();
    result.outcome = complete ? RollbackResult::Outcome::Restored : RollbackResult::Outcome::Conflicts;
    return result;
}

}  // namespace zrx::history
