#include "history/run_record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "apply/data_files.h"
#include "apply/run_guard.h"
#include "apply/targets.h"
#include "history/record_database.h"
#include "kernel/library_handles.h"
#include "kernel/zrxkernel.h"
#include "shell/app.h"
#include "shell/paths.h"
#include "shell/text_utils.h"
#include "upgrade_list/upgrade_items.h"

namespace zrx::history {

namespace fs = std::filesystem;

namespace {

// Makes what was written in a folder (links, copies, names) reach the disk.
bool SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// Removes a run's rows and its folder.
void DropRun(RecordDatabase& db, int64_t run, const std::string& historyFolder) {
    RecordDatabase::Statement(db, "DELETE FROM changes WHERE run=?1").Bind(1, run).Run();
    RecordDatabase::Statement(db, "DELETE FROM runs WHERE id=?1").Bind(1, run).Run();
    std::error_code ignored;
    fs::remove_all(historyFolder + "/run-" + std::to_string(run), ignored);
}

}  // namespace

std::string HistoryFolder(const Environment& env) {
    return JoinPath(JoinPath(InstallationDir(env), ".zrxlibug"), "history");
}

std::string NowUtc() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

RunRecorder::RunRecorder(std::unique_ptr<RecordDatabase> db, int64_t run, std::string folder)
    : m_db(std::move(db)), m_run(run), m_folder(std::move(folder)) {}

RunRecorder::~RunRecorder() = default;

std::unique_ptr<RunRecorder> RunRecorder::Begin(const RunInputs& in, std::string& error) {
    const std::string historyFolder = HistoryFolder(in.env);
    auto db = RecordDatabase::Open(historyFolder, true, error);
    if (!db) return nullptr;
    RemoveStaleTemporaries(historyFolder);  // what killed runs left half-made in their folders

    // The oldest runs beyond the number kept go first.
    const int64_t keep = std::max<int64_t>(1, std::atoll(db->Setting("keep", "20").c_str()));
    {
        std::vector<int64_t> old;
        RecordDatabase::Statement query(*db, "SELECT id FROM runs ORDER BY id DESC LIMIT -1 OFFSET ?1");
        query.Bind(1, keep - 1);
        while (query.Next()) old.push_back(query.Int(0));
        for (const int64_t run : old) DropRun(*db, run, historyFolder);
    }

    RecordDatabase::Statement newRun(*db,
                                     "INSERT INTO runs(started, folder, state) VALUES(?1, ?2, 'running')");
    if (!newRun.Bind(1, NowUtc()).Bind(2, in.listPath).Run()) {
        error = "the record cannot be written: " + db->Error();
        return nullptr;
    }
    const int64_t run = db->LastInsertId();
    const std::string folder = historyFolder + "/run-" + std::to_string(run);
    auto recorder = std::unique_ptr<RunRecorder>(new RunRecorder(std::move(db), run, folder));
    RecordDatabase& rec = *recorder->m_db;
    auto fail = [&](const std::string& why) -> std::unique_ptr<RunRecorder> {
        error = why;
        DropRun(rec, run, historyFolder);
        return nullptr;
    };
    std::error_code ec;
    fs::create_directories(folder + "/files", ec);
    if (ec) return fail("the folder " + folder + " cannot be made: " + ec.message());

    RecordDatabase::Transaction transaction(rec);
    if (!transaction.Active()) return fail("the record cannot be written: " + rec.Error());
    std::unordered_map<std::string, int64_t> places;
    RecordDatabase::Statement addPlace(rec, "INSERT OR IGNORE INTO places(path) VALUES(?1)");
    RecordDatabase::Statement findPlace(rec, "SELECT id FROM places WHERE path=?1");
    auto place = [&](const std::string& path) -> int64_t {
        const auto known = places.find(path);
        if (known != places.end()) return known->second;
        addPlace.Bind(1, path).Run();
        findPlace.Bind(1, path);
        const int64_t id = findPlace.Next() ? findPlace.Int(0) : 0;
        findPlace.Reset();
        places.emplace(path, id);
        return id;
    };
    RecordDatabase::Statement add(
        rec,
        "INSERT INTO changes(run, what, place, name, created, digest, old_inode, old_size,"
        " old_mtime, new_size, new_mtime) VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11)");
    auto record = [&](int what, const std::string& path, const std::string& name, bool created,
                      const std::string& digest, const struct stat* old,
                      const struct stat* fresh) -> int64_t {
        add.Bind(1, run)
            .Bind(2, what)
            .Bind(3, place(path))
            .Bind(4, name)
            .Bind(5, created ? 1 : 0)
            .Bind(6, digest);
        if (old)
            add.Bind(7, static_cast<int64_t>(old->st_ino))
                .Bind(8, old->st_size)
                .Bind(9, Nanoseconds(old->st_mtim));
        if (fresh) add.Bind(10, fresh->st_size).Bind(11, Nanoseconds(fresh->st_mtim));
        return add.Run() ? rec.LastInsertId() : 0;
    };

    LibraryHandles read;               // the libraries the record looks into
    int32_t oldLibraries[2] = {0, 0};  // part kind, symbol kind: the old elements
    // What the run is recorded to change already: element keys (library and name), libraries,
    // directories and files.
    std::unordered_set<std::string> seen;
    seen.reserve(in.lists.PartItems.size() + in.lists.SymbolItems.size() + in.lists.PackageItems.size() +
                 in.lists.MixedModelItems.size() + in.lists.SpiceModelItems.size() +
                 2 * in.lists.DataFileItems.size());
    // Nothing on the disk changes while the run is recorded: what each library name resolves to,
    // and whether it exists, is looked up once.
    ResolvedNames targets;
    std::map<std::string, bool> libraryThere, directories;
    bool failed = false;
    std::string why;

    const std::pair<int, const std::vector<ElementItem>*> elementLists[] = {{1, &in.lists.PartItems},
                                                                            {2, &in.lists.SymbolItems},
                                                                            {3, &in.lists.PackageItems},
                                                                            {6, &in.lists.MixedModelItems},
                                                                            {5, &in.lists.SpiceModelItems}};
    for (const auto& [kind, list] : elementLists) {
        for (size_t i = 0; i < list->size() && !failed; ++i) {
            const ElementItem& item = (*list)[i];
            if (item.Update != 1 || item.Name.empty()) continue;
            const std::string& dir = ElementTargetDir(in.env, kind);
            auto knownDir = directories.find(dir);
            if (knownDir == directories.end()) knownDir = directories.emplace(dir, IsDirectory(dir)).first;
            if (!knownDir->second) continue;  // the run does not copy into it
            const char* libraryKind = LibraryKindOf(kind);
            const int32_t source =
                read.Open(UpgradeLibraryOf(in.upgradeLibraries, kind, item.UpgSymbolLib), libraryKind);
            const bool model = kind == 5 || kind == 6;
            const std::string name = model ? TrimBlanks(item.Name) : item.Name;
            if (source == 0 || name.empty()) continue;  // nothing of it can be saved
            const std::string digest = StringFromPointer(E_ElementDigest(source, item.Name.c_str()));
            if (digest.empty()) continue;  // not in the upgrade library
            const std::string& target = targets.In(dir, item.TargetLib);
            auto known = libraryThere.find(target);
            if (known == libraryThere.end()) {
                struct stat info {};
                known = libraryThere.emplace(target, ::lstat(target.c_str(), &info) == 0).first;
            }
            const bool there = known->second;
            if (!seen.insert(target + '\0' + name).second) continue;
            if (!there && seen.insert(target).second)
                record(kLibraryMade, target, {}, true, {}, nullptr, nullptr);
            int32_t installed = there ? read.Open(target, libraryKind) : 0;
            if (there && installed == 0) continue;  // refused: the run cannot save into it
            // 1: the same as installed (the run changes nothing); -2: not installed; 0: installed and
            // different; -3: one of them damaged (the copy below tells whether it is installed).
            const int compared =
                installed != 0 ? E_CompareElements(source, item.Name.c_str(), installed, name.c_str()) : -2;
            if (compared == 1 || compared == -1) continue;
            const int64_t id = record(kind == 1 ? kPartElement : kSymbolElement, target, name, compared == -2,
                                      digest, nullptr, nullptr);
            if (id == 0) {
                failed = true, why = rec.Error();
                break;
            }
            bool replaces = false;
            if (compared != -2) {
                const bool part = kind == 1;
                int32_t& old = oldLibraries[part ? 0 : 1];
                if (old == 0)
                    old = std::max(0, E_OpenLibrary((folder + (part ? "/old.PART" : "/old.SYMBOL")).c_str(),
                                                    libraryKind, -1));
                const int copied =
                    old == 0 ? 0 : E_CopyElement(installed, name.c_str(), old, std::to_string(id).c_str());
                if (copied == 0) {
                    failed = true,
                    why = "the old element " + name + " cannot be kept: " + StringFromPointer(E_LastError());
                    break;
                }
                replaces = copied == 1;
                if (!replaces)
                    RecordDatabase::Statement(rec, "UPDATE changes SET created=1 WHERE id=?1")
                        .Bind(1, id)
                        .Run();
            }
            recorder->m_intents.push_back({id, kind, i, !replaces});
            if (kind == 5) recorder->m_savedModels.emplace(id, SavedModel{target, name, digest});
        }
    }

    const std::string upgradeFolder = in.listPath.empty() ? "/" : in.listPath;
    for (size_t i = 0; i < in.lists.DataFileItems.size() && !failed; ++i) {
        const DataFileItem& item = in.lists.DataFileItems[i];
        if (item.Update != 1 || item.Withheld != 0 || item.Name.empty()) continue;
        const std::string source = ResolveNameInDir(upgradeFolder, item.Name);
        struct stat from {};
        if (::stat(source.c_str(), &from) != 0 || !S_ISREG(from.st_mode)) continue;
        const bool subcircuit = IsSubcircuitFile(item.Name);
        const std::string destDir = DataFileDestinationDir(item);
        if (!IsDirectory(destDir)) {
            if (!subcircuit || !IsDirectory(item.TargetDir)) continue;  // the copy fails
            if (seen.insert(destDir).second) record(kDirectoryMade, destDir, {}, true, {}, nullptr, nullptr);
        }
        const std::string target = DataFileTargetPath(destDir, item.Name);
        if (!seen.insert(target).second) continue;
        struct stat old {};
        const bool replaces = ::lstat(target.c_str(), &old) == 0;
        if (replaces && !S_ISREG(old.st_mode)) continue;                                // the copy fails
        if (replaces && !subcircuit && InstalledFileIsNewer(source, target)) continue;  // refused
        const int64_t id = record(kFile, target, {}, !replaces, {}, replaces ? &old : nullptr, &from);
        if (id == 0) {
            failed = true, why = rec.Error();
            break;
        }
        if (replaces) {
            // The old bytes stay where they are, under a second name; a copy where the file
            // system cannot link.
            const std::string kept = folder + "/files/" + std::to_string(id);
            if (::link(target.c_str(), kept.c_str()) != 0 && !CopyFileWhole(target, kept, why)) {
                failed = true, why = "the old file " + target + " cannot be kept: " + why;
                break;
            }
        }
        recorder->m_intents.push_back({id, 4, i, !replaces});
    }

    for (int32_t& old : oldLibraries)
        if (old > 0) E_CloseLibrary(old);
    if (!failed && E_FlushLibraries() == 0) {
        failed = true, why = "the old elements cannot be written into the record";
        E_ClearFailedSaves();
    }
    if (!failed && !SyncFolder(folder + "/files"))
        failed = true, why = std::string("the record cannot be written: ") + std::strerror(errno);
    if (!failed && !transaction.Commit()) failed = true, why = "the record cannot be written: " + rec.Error();
    if (failed) return fail(why);
    return recorder;
}

bool RunRecorder::BeforeIndexSave(const std::string& path, const std::vector<std::string>& lines,
                                  bool makesFile, std::string& error) {
    RecordDatabase& rec = *m_db;
    RecordDatabase::Transaction transaction(rec);
    bool ok =
        transaction.Active() &&
        RecordDatabase::Statement(rec, "INSERT OR IGNORE INTO places(path) VALUES(?1)").Bind(1, path).Run();
    RecordDatabase::Statement add(
        rec,
        "INSERT INTO changes(run, what, place, name, created, old_inode, old_size, old_mtime)"
        " SELECT ?1, ?2, id, ?3, ?4, ?6, ?7, ?8 FROM places WHERE path=?5");
    struct stat old {};
    if (ok && makesFile) {
        ok =
            add.Bind(1, m_run).Bind(2, kIndexMade).Bind(3, std::string_view()).Bind(4, 1).Bind(5, path).Run();
    } else if (ok && ::lstat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        // The file as it was stays in the run's folder (the rewrite puts a new file in its place).
        ok = add.Bind(1, m_run)
                 .Bind(2, kIndexBefore)
                 .Bind(3, std::string_view())
                 .Bind(4, 0)
                 .Bind(5, path)
                 .Bind(6, static_cast<int64_t>(old.st_ino))
                 .Bind(7, old.st_size)
                 .Bind(8, Nanoseconds(old.st_mtim))
                 .Run();
        const std::string kept = m_folder + "/files/" + std::to_string(rec.LastInsertId());
        std::string why;
        ok = ok && (::link(path.c_str(), kept.c_str()) == 0 || CopyFileWhole(path, kept, why)) &&
             SyncFolder(m_folder + "/files");
    }
    for (const std::string& line : lines) {
        if (!ok) break;
        ok = add.Bind(1, m_run).Bind(2, kIndexLine).Bind(3, line).Bind(4, 0).Bind(5, path).Run();
    }
    if (ok && transaction.Commit()) return true;
    error = "the lines added to " + path + " cannot be recorded: " + rec.Error();
    return false;
}

bool RunRecorder::BeforeIndexReplace(const std::string& path, const struct stat& written) {
    RecordDatabase::Statement update(
        *m_db,
        "UPDATE changes SET new_inode=?3, new_size=?4, new_mtime=?5 WHERE run=?1 AND what IN (6, 8)"
        " AND place=(SELECT id FROM places WHERE path=?2)");
    return update.Bind(1, m_run)
        .Bind(2, path)
        .Bind(3, static_cast<int64_t>(written.st_ino))
        .Bind(4, written.st_size)
        .Bind(5, Nanoseconds(written.st_mtim))
        .Run();
}

int64_t RunRecorder::Finish(const UpgradeLists& lists) {
    RecordDatabase& rec = *m_db;
    RecordDatabase::Transaction transaction(rec);
    RecordDatabase::Statement drop(rec, "DELETE FROM changes WHERE id=?1");
    std::map<std::string, int32_t> libraries;
    int32_t oldLibraries[2] = {0, 0};
    for (const Intent& intent : m_intents) {
        bool changed = false;
        if (intent.kind == 4) {
            changed = lists.DataFileItems[intent.index].Copied == 1;
        } else {
            const std::vector<ElementItem>& list = intent.kind == 1   ? lists.PartItems
                                                   : intent.kind == 2 ? lists.SymbolItems
                                                   : intent.kind == 3 ? lists.PackageItems
                                                   : intent.kind == 5 ? lists.SpiceModelItems
                                                                      : lists.MixedModelItems;
            changed = intent.index < list.size() && list[intent.index].Copied == 1;
            if (!changed && intent.kind == 5) {
                // A simulator model is saved even when its texts cannot be read; it counts as
                // changed when the library holds what the run wrote.
                const SavedModel& model = m_savedModels.at(intent.id);
                const int32_t library = E_OpenLibrary(model.library.c_str(), ZK_KIND_SYMBOL_LIBRARY, 0);
                changed = library > 0 &&
                          StringFromPointer(E_ElementDigest(library, model.name.c_str())) == model.digest;
                if (library > 0) E_CloseLibrary(library);
            }
        }
        if (changed) continue;
        drop.Bind(1, intent.id).Run();
        if (intent.kind == 4 && !intent.created)
            ::unlink((m_folder + "/files/" + std::to_string(intent.id)).c_str());
        if (intent.kind != 4 && !intent.created) {
            const bool part = intent.kind == 1;
            int32_t& old = oldLibraries[part ? 0 : 1];
            if (old == 0)
                old = std::max(0, E_OpenLibrary((m_folder + (part ? "/old.PART" : "/old.SYMBOL")).c_str(),
                                                part ? ZK_KIND_PART_LIBRARY : ZK_KIND_SYMBOL_LIBRARY, -1));
            if (old > 0) E_DeleteElement(old, std::to_string(intent.id).c_str());
        }
    }
    for (int32_t old : oldLibraries)
        if (old > 0) E_CloseLibrary(old);
    // Libraries and directories the run was to make and did not.
    {
        std::vector<std::pair<int64_t, std::string>> made;
        RecordDatabase::Statement query(
            rec,
            "SELECT changes.id, places.path FROM changes JOIN places ON places.id=changes.place "
            "WHERE run=?1 AND what IN (3, 4)");
        query.Bind(1, m_run);
        while (query.Next()) made.emplace_back(query.Int(0), query.Text(1));
        std::error_code ec;
        for (const auto& [id, path] : made)
            if (!fs::exists(path, ec)) drop.Bind(1, id).Run();
    }
    RecordDatabase::Statement count(rec, "SELECT COUNT(*) FROM changes WHERE run=?1");
    count.Bind(1, m_run);
    const bool anything = count.Next() && count.Int(0) > 0;
    count.Reset();
    if (anything) {
        RecordDatabase::Statement done(rec, "UPDATE runs SET state='complete', ended=?2 WHERE id=?1");
        done.Bind(1, m_run).Bind(2, NowUtc()).Run();
    } else {
        RecordDatabase::Statement(rec, "DELETE FROM runs WHERE id=?1").Bind(1, m_run).Run();
    }
    transaction.Commit();
    E_FlushLibraries();
    if (!anything) {
        std::error_code ignored;
        fs::remove_all(m_folder, ignored);
        return 0;
    }
    return m_run;
}

}  // namespace zrx::history
