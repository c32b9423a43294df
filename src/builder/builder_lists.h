#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/dialogs.h"
#include "base/outcome.h"
#include "builder/builder_state.h"
#include "kernel/installation.h"

namespace zrx {

class Directory;

// What the builder's choices are made of, as values: the window's lists show them and their
// handlers call these; the command line calls them directly.

// The files each frame offers for choosing, by frame (F_Details 0 to 8): the patterns of their
// names ("*.PART;*.part"), matched without regard to case.
const char* ChoosablePattern(int frame);
// Whether the regular file `name` of `dir` is one a frame offers (its name matches the frame's
// pattern; a link to a regular file counts, as the file lists show it).
bool OfferedInFrame(int frame, const std::string& dir, const std::string& name);

// The five library kinds of the builder.
struct LibraryKindTables {
    std::vector<SourceLib>* sources;
    std::vector<UpgElement>* chosen;
    const std::string* directory;  // the directory the kind's libraries are listed from
};
LibraryKindTables TablesOfKind(BuilderState& builder, const Environment& env, int kind);

// The element names of the library `file` of a kind's directory, as the kernel lists them; why
// not when it cannot be opened.
Result<std::vector<std::string>> LibraryElementNames(const Environment& env, int kind, const std::string& file);

// What became of a name offered for choosing.
enum class Choice { Taken, AlreadyChosen, Refused };

// ">>" of a library frame: the names of library `file` (in the kind's directory) into the chosen
// list and table, each linked to its source library. A name already chosen (without regard to
// case) is skipped, but for symbols; a name the upgrade cannot hold as it is (or the library's own
// name) is refused with a box.
std::vector<Choice> ChooseElements(BuilderState& builder, const Environment& env, ui::Dialogs& dialogs, int kind,
                                   const std::string& file, const std::vector<std::string>& names);
// "<<": the chosen entries at `lines` of a frame out of its list and table.
void RemoveChosen(BuilderState& builder, int frame, std::vector<int> lines);
// ">>" of a .TAL, .DAT, .SPC or .SBC frame: the files `names` of `sourceDir` (for subcircuits, the
// subdirectory `subDir` of the subcircuit directory they go to). A name chosen already is skipped;
// a name the upgrade cannot hold, or that another chosen file has, is refused with a box.
std::vector<Choice> ChooseFiles(BuilderState& builder, const Environment& env, ui::Dialogs& dialogs, int frame,
                                const std::string& sourceDir, const std::vector<std::string>& names,
                                const std::string& subDir = {});
// ">>" of the any-file frame: the file `file` of `sourceDir` for the target `target` ("\Lib" ...)
// with `description`.
Choice ChooseMiscFile(BuilderState& builder, const Environment& env, ui::Dialogs& dialogs,
                      const std::string& sourceDir, const std::string& file, const std::string& target,
                      const std::string& description);
// The description the any-file frame offers for a file of `dir`: the kind of the installation's
// folder it is ("Library Files" ...); "" for any other folder.
std::string DefaultMiscDescription(const Environment& env, const std::string& dir);

// Links a new chosen element to its source library: the entry with the same directory and file
// name gains a reference; otherwise the first free entry (RefCount 0) is reused; otherwise the
// table grows. `searchSpare` also compares the spare last entry in the first search.
int32_t LinkSourceLib(std::vector<SourceLib>& sources, const std::string& dir, const std::string& fileName,
                      bool searchSpare);

// Removal codes of RemoveListEntry: the table an entry is removed from.
enum RemovalCode : int32_t {
    kRemoveParts = 0,
    kRemoveSymbols = 1,
    kRemovePackages = 2,
    kRemoveMiscFiles = 3,
    kRemoveSparams = 4,
    kRemoveSbcFiles = 5,
    kRemoveTalFiles = 6,
    kRemoveDatFiles = 7,
    kRemoveSpcFiles = 8,
    kRemoveMparams = 9,
};
// Removes entry `index` of the table of `code`, whose entry count is `count`.
void RemoveListEntry(BuilderTables& tables, int32_t code, int32_t count, int32_t index);

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
// (one the user chose a file in) opened now, for this use.
Result<std::shared_ptr<const Directory>> SourceFolder(const Environment& env, const std::string& dir);
// Why a loose file from `sourceDir` may not be chosen (nothing when it may): every loose file
// lands in the one upgrade folder, so a file of the same name (in any letter case) from another
// folder, or a name the folder's own files have (Upgrade.lst, the upgrade libraries), is refused.
std::optional<std::string> LooseFileRefusal(const BuilderState& builder, const Environment& env,
                                            const std::string& name, const std::string& sourceDir);
// The same, with a box that says why.
bool CheckLooseFileName(const BuilderState& builder, const Environment& env, ui::Dialogs& dialogs,
                        const std::string& name, const std::string& sourceDir);

// The text after the last separator of a path ("" when there is none after it).
std::string LastPathComponent(const std::string& path);

// Appends an entry to a table that keeps one spare element at its end.
template <typename Entry>
Entry& AppendEntry(std::vector<Entry>& table) {
    table.emplace_back();
    return table[table.size() - 2];
}

}  // namespace zrx
