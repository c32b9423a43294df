#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/outcome.h"

namespace zrx {

namespace history {
class InstalledBases;
}

namespace preview {

// A three-way merge of one element, as the library exchange writes it: what the last upgrade
// installed (`base`), the installed element (`local`, perhaps edited here) and the upgrade's. A
// field changed on one side only takes that side; lists of keyed items merge item by item, by the
// keys ElementFields names (supply pins and a group's pins by number, groups by name, symbol items
// by kind and count); an item added on one side is added, one removed on one side (and unchanged on
// the other) is removed. A field changed on both sides to different values is a conflict: it is
// named by its path, and the merge keeps the local value there.
struct ElementMerge {
    std::string json;                    // the merged element
    std::vector<std::string> conflicts;  // the paths changed differently on both sides
};
Result<ElementMerge> MergeElements(std::string_view base, std::string_view local, std::string_view upgrade);
// The same over values as the kernel's ElementValue gives them (texts byte for byte, so that the
// merge saves exactly what each side holds): the merged value.
struct ElementValueMerge {
    nlohmann::ordered_json element;
    std::vector<std::string> conflicts;
};
ElementValueMerge MergeElementValues(const nlohmann::ordered_json& base, const nlohmann::ordered_json& local,
                                     const nlohmann::ordered_json& upgrade);

// A three-way merge of a text file by lines (libgit2's merge of files): the merged text, with
// conflict markers where both sides changed the same lines differently (`conflicted`).
struct TextMerge {
    std::string text;
    bool conflicted = false;
};
Result<TextMerge> MergeText(std::string_view base, std::string_view local, std::string_view upgrade);

// The texts of a merge that cannot be made: where both sides changed the same fields or lines
// differently, and where the base is no longer kept.
std::string ConflictReason(const std::vector<std::string>& fields);
extern const char* const kBaseLost;
// The text of a row whose base the runs' store cannot give, with the store's own reason where it
// has one (a folder that may not be used).
std::string BaseLost(const history::InstalledBases& bases);

// What a merge does with a row, from three digests: what the last upgrade installed there
// (`base`), what is installed and what the upgrade offers. `None`: there is nothing to merge (it
// was not edited here, or the upgrade offers what is installed): the row is copied as without a
// merge; `Keep`: edited here, and the upgrade offers what the last one installed, so what is
// installed is the merge; `Merge`: both changed it.
enum class MergeStep { None, Keep, Merge };
MergeStep StepOf(const std::string& base, const std::string& installed, const std::string& offered);

// The merges a run and a preview make of a row edited here since the last upgrade: the base is
// what that upgrade installed there (its digest `base`, as the runs' store keeps it), the other
// sides what is installed and what the upgrade offers. A failure (kBaseLost) when the base is no
// longer kept; a side that cannot be read says why.
// The merge of three element values as the kernel gives them (each side's own name aside).
ElementValueMerge MergeLoadedElements(nlohmann::ordered_json base, nlohmann::ordered_json local,
                                      nlohmann::ordered_json upgrade);
Result<ElementValueMerge> MergeElementWithBase(history::InstalledBases& bases, const std::string& base,
                                               bool part, int32_t installed, const std::string& installedName,
                                               int32_t upgrade, const std::string& upgradeName);
// A data file's merge, both sides read whole from the start of the open files `installed` and
// `upgrade`. A file that is not text (it holds a NUL byte) is not merged: a failure says so.
Result<TextMerge> MergeFileWithBase(history::InstalledBases& bases, const std::string& base, int installed,
                                    int upgrade);

}  // namespace preview
}  // namespace zrx
