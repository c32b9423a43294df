#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "preview/element_fields.h"
#include "upgrade_list/loaded_upgrade.h"

namespace zrx {

class Directory;
struct Environment;
class GridRowTable;

namespace preview {

// What applying one offered row would do to the installation.
enum class Change : uint8_t {
    New,         // the target holds no element of that name, or the target file does not exist
    Changed,     // the target holds one whose stored content differs
    Same,        // the stored content is identical
    Older,       // a data file the run refuses because the installed copy is newer
    Missing,     // the element is not in its upgrade library, or the file not in the upgrade folder
    Unreadable,  // a library the kernel refuses, or a target the run cannot write; with the reason
};

// "new", "changed", "same", "older", "missing", "unreadable".
std::string_view ChangeWord(Change change);
// The word in the user's language.
std::string LocalChangeWord(Change change);

// Whether the installed element or file was edited here since the last upgrade installed it: it
// differs from what the record of runs says that upgrade left there (`Edited`); `NoBase` where the
// record names nothing for a row the upgrade would change (an installation upgraded before the
// record kept it); `None` where it is as installed, or nothing is installed.
enum class Local : uint8_t { None, Edited, NoBase };
// "", "edited", "no base".
std::string_view LocalWord(Local local);

// For a row edited here that the upgrade changes too, what a merge of the two would give (from
// what the last upgrade installed): `Clean`, or a `Conflict` where both changed a field or lines
// differently; `None` for any other row, and where the base is no longer kept.
enum class Merge : uint8_t { None, Clean, Conflict };
// "", "clean", "conflict".
std::string_view MergeWord(Merge merge);

// The change of every offered row, in grid order, and why, for the rows that have a reason. Rows
// share their reasons' texts (a missing upgrade library is the reason of all its rows).
struct RowChanges {
    std::vector<Change> changes;
    std::vector<Local> local;        // per row
    std::vector<Merge> merge;        // per row
    std::vector<uint32_t> reasonOf;  // per row: its text in reasonTexts, 0 for none
    std::vector<std::string> reasonTexts{""};

    const std::string& ReasonOf(size_t row) const;
};

// Where the upgrade comes from: its folder (as the upgrade was opened: its files are read through
// `folder`, or through a handle opened now when there is none), the paths of its six libraries,
// and its data files checked in place, where they were.
struct UpgradeFolder {
    const std::string& listPath;
    const std::array<std::string, 6>& upgradeLibraries;
    std::shared_ptr<const Directory> folder;
    std::shared_ptr<const CheckedInPlace> inPlace = nullptr;
};

// Compares each offered row (`rows` without the trailing empty one) with what the installation
// holds, resolving every target exactly as the update run does. Nothing is written, created or
// left locked. `progress`, when given, is called a few times a second with the rows done and their count.
RowChanges CompareRows(const GridRowTable& rows, const Environment& env, const UpgradeFolder& upgrade,
                       const std::function<void(size_t done, size_t total)>& progress = {});

// What one offered row's sides hold, as a detail shows them: for an element (`element`) the
// fields of the installed one, of the upgrade's, and of what the last upgrade installed there,
// where it is kept; for a file its bytes installed, offered and last installed. A side that is not
// there or cannot be read is empty.
struct RowSides {
    bool element = false;
    ElementFields installedFields, upgradeFields;
    std::optional<ElementFields> baseFields;
    std::string installed, upgrade;
    std::optional<std::string> base;
};

// What exactly a row would change: its change (as CompareRows finds it) and reason, its two sides,
// and for a changed element the fields that differ, for a changed file a unified diff.
struct RowDetail {
    Change change = Change::Unreadable;
    Local local = Local::None;
    Merge merge = Merge::None;
    std::string reason;
    RowSides sides;
    std::vector<FieldDifference> fields;
    std::string textDiff;
    // A file edited here: what was edited, as a unified diff from what the last upgrade installed.
    std::string localDiff;
};

// The details of the rows `which` (indices into `rows`), read as CompareRows reads them. Without
// `keepSides` only what differs is kept (a listing of many rows): the sides are let go as each
// row is done.
std::vector<RowDetail> DetailRows(const GridRowTable& rows, const std::vector<size_t>& which,
                                  const Environment& env, const UpgradeFolder& upgrade,
                                  bool keepSides = true);

}  // namespace preview
}  // namespace zrx
