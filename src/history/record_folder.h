#pragma once

#include <memory>
#include <optional>
#include <string>

#include "base/directory.h"
#include "base/outcome.h"
#include "history/record_database.h"

namespace zrx {

struct Environment;

namespace history {

// A record never holds an absolute path: it names one of the installation's folders by its number
// (InstallationFolder) and the rest as plain components beneath it.

struct Place {
    int root = 0;
    std::string relative;  // '/'-separated plain components
};
// Where a path the run builds lies: in the most specific of the installation's folders that holds
// it, by whole components ("REGS2/x" is not inside "REGS"). Nothing when it lies in none of them.
std::optional<Place> PlaceOf(const Environment& env, const std::string& path);
// The real paths of the installation's folders, one a line (a folder that does not resolve is an
// empty line), as a run records them.
std::string RealFolders(const Environment& env);
// Whether a recorded place is one an update makes changes at: elements and libraries made directly
// in the library or model directory, files in the nine directories (a subcircuit one level down in
// its subdirectory), folders made in the subcircuit directory, and its two index files; never the
// installation's own files. Anything else in a record was not written by an update.
bool PlausiblePlace(const Environment& env, int what, const Place& place);

// The path of a place as the run would name it.
std::string PathOf(const Environment& env, const Place& place);
// The folder that holds a place, reached beneath its root without following any link, and the
// place's last component.
struct PlaceFolder {
    Directory folder;
    std::string name;
};
// Fails when a component is a link or not a folder, or the root cannot be opened; `missing` tells
// a folder that does not exist.
Result<PlaceFolder> OpenPlaceFolder(const Environment& env, const Place& place, bool* missing = nullptr);

// An installation's undo record folder ".zrxlibug/history" beside its INI, and the folders that
// lead to it, each checked: a real folder (never a link), owned by the user running the program and
// writable by nobody else.
struct RecordFolder {
    Directory installation, own, history;
    std::string installationPath, ownPath, historyPath;
};
// The folder, made when `create` and missing; a failure says why it cannot be used and what to do
// about it. While this program holds the installation's lock, ".zrxlibug" is the very folder that
// was locked, whatever its name leads to now.
Result<RecordFolder> OpenRecordFolder(const Environment& env, bool create);

// The folder that holds ".zrxlibug" (the installation folder, `path`) lets nobody but its owner
// rename or replace it: it belongs to the user running the program or to root, and nobody else may
// write it, unless its sticky bit leaves each entry to its own owner. A failure says what to fix.
Outcome CheckHoldingFolder(const Directory& installation, const std::string& path);
// The program's own folder ".zrxlibug" of the installation folder `installation` (at `path`),
// checked as PrivateFolder does and its holder as CheckHoldingFolder does; made when `create` and
// missing, but never made anew where the installation's identity (".zrxlibug.id") says it had one:
// its trusted keys and the record of its runs would be gone without a word. With `create`, the
// identity is made too where it is missing, so that the folder cannot go unnoticed from then on.
Result<Directory> OpenOwnFolder(const Directory& installation, const std::string& path, bool create);
// Removes the temporary files that killed runs and rollbacks left in the record's run folders.
void RemoveRecordTemporaries(const RecordFolder& folder);

// A private folder for one use (an upgrade archive unpacked, the checked copy of an upgrade's
// files) in ".zrxlibug/work" of the installation, or in the system's temporary folder where the
// installation has none the user may use. It goes, with everything in it, when this object goes;
// while it is in use it is locked, so that the program started again removes only what a killed
// program left (RemoveLeftScratchFolders).
class ScratchFolder {
public:
    static Result<std::unique_ptr<ScratchFolder>> Make(const Environment* env);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& Path() const { return m_path; }
    const Directory& Folder() const { return m_folder; }

    ScratchFolder(std::string path, Directory parent, std::string name, Directory folder)
        : m_path(std::move(path)),
          m_parent(std::move(parent)),
          m_name(std::move(name)),
          m_folder(std::move(folder)) {}

private:
    std::string m_path;
    Directory m_parent;  // holds the folder, by `m_name`
    std::string m_name;
    Directory m_folder;
};
// Removes the scratch folders that no running program holds: the user's own in the system's
// temporary folder, and the installation's (with `env`).
void RemoveLeftScratchFolders(const Environment* env);

// Opens (or, when `create`, makes) the folder `name` beneath `parent` (at `parentPath`) and checks
// it as CheckPrivate does; never through a link.
Result<Directory> PrivateFolder(const Directory& parent, const std::string& parentPath,
                                const std::string& name, bool create);

// Whether an entry of the record (a file or folder) may be trusted: not a link, owned by the user
// running the program, writable by nobody else. A failure says what to fix.
Outcome CheckPrivate(const struct stat& info, const std::string& path);

// The installation's identity: a random text written once into ".zrxlibug.id" in the installation
// folder (made when `create` and missing). A record carries the identity of the installation it
// was made in, so that a record copied into another installation is refused. A failure when there
// is none (`missing` tells that case) or it cannot be read.
Result<std::string> InstallationIdentity(const Directory& installation, const std::string& installationPath,
                                         bool create, bool* missing = nullptr);

// The installation's record in its checked folder (`folder` receives it): the record file owned
// by the user running the program, of this program's format, and of this installation (its
// identity; a new record takes the installation's). `Create` makes what is missing, and puts a
// record of an earlier format aside (".zrxlibug/history-v1") to begin a new one.
Result<std::unique_ptr<RecordDatabase>> OpenRecord(const Environment& env, RecordDatabase::Mode mode,
                                                   RecordFolder& folder);

}  // namespace history
}  // namespace zrx
