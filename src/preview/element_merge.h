#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/outcome.h"

namespace zrx::preview {

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

// A three-way merge of a text file by lines (libgit2's merge of files): the merged text, with
// conflict markers where both sides changed the same lines differently (`conflicted`).
struct TextMerge {
    std::string text;
    bool conflicted = false;
};
Result<TextMerge> MergeText(std::string_view base, std::string_view local, std::string_view upgrade);

}  // namespace zrx::preview
