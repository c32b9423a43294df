#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "builder/builder_tables.h"

#include "base/dialogs.h"
#include "builder/builder_state.h"
#include "kernel/installation.h"
#include "ui/forms/main_form.h"

namespace zrx {

class Directory;

namespace ui {
class ListBox;
}

// The five library kinds of the builder, by their F_Details index (0 parts ... 4 MPARAM models).
struct LibraryKindTables {
    std::vector<SourceLib>* sources;
    std::vector<UpgElement>* chosen;
    ui::ListBox* chosenList;
    const std::string* directory;  // the directory the kind's libraries are listed from
};
LibraryKindTables TablesOfKind(BuilderState& builder, ui::MainForm& m, const Environment& env, int kindIndex);

// Links a new chosen element to its source library: the entry with the same directory and file
// name gains a reference; otherwise the first free entry (RefCount 0) is reused; otherwise the
// table grows. `searchSpare` also compares the spare last entry in the first search.
int32_t LinkSourceLib(std::vector<SourceLib>& sources, const std::string& dir, const std::string& fileName,
                      bool searchSpare);

// Adds a line to a chosen list unless the list holds it already without regard to case; false
// when it was there.
bool AddChosenLine(BuilderState& builder, ui::ListBox& list, const std::string& line);

// Whether a name may be chosen into the upgrade as it is: a name the upgrade list cannot hold
// (see UnlistableNameReason) is refused with a box that names it and says why. `isPath`: a file,
// library or folder name.
bool CheckChoosable(ui::Dialogs& dialogs, const std::string& name, bool isPath);
// Symbols, packages and models are written to their upgrade libraries under their names without
// blanks around them, parts as they are: a name of the others with blanks at either end would not
// be found under its listed name. Refused with a box; true when the name is kept whole.
bool CheckKeptWhole(ui::Dialogs& dialogs, const std::string& name, int kind);

// The folder a chosen element or file is taken from: one of the installation's folders (or a
// subcircuit subdirectory beneath one) through the handle held since start-up, any other folder
// (one the user chose a file in) opened now, for this use. Null with why.
std::shared_ptr<const Directory> SourceFolder(const Environment& env, const std::string& dir,
                                              std::string& why);
// Whether a loose file from `sourceDir` may be chosen: every loose file lands in the one upgrade
// folder, so a file of the same name (in any letter case) from another folder, or a name the
// folder's own files have (Upgrade.lst, the upgrade libraries), is refused with a box.
bool CheckLooseFileName(const BuilderState& builder, const Environment& env, ui::Dialogs& dialogs,
                        const std::string& name, const std::string& sourceDir);
// Why CheckLooseFileName refuses a file (nothing when it takes it), without a box.
std::optional<std::string> LooseFileRefusal(const BuilderState& builder, const Environment& env,
                                            const std::string& name, const std::string& sourceDir);

// Appends an entry to a table that keeps one spare element at its end.
template <typename Entry>
Entry& AppendEntry(std::vector<Entry>& table) {
    table.emplace_back();
    return table[table.size() - 2];
}

}  // namespace zrx
