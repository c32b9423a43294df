#pragma once

#include <cstddef>
#include <vector>

#include "kernel/installation.h"
#include "upgrade_list/loaded_list.h"
#include "upgrade_list/loaded_upgrade.h"

namespace zrx {

// Rebuilds the grid's rows from the loaded list.
void BuildGridRows(GridRowTable& rows, const LoadedList& loaded, const Environment& env);
// The number of lines the selection grid has below its heading: one per loaded element, offered
// or not (the elements withheld end the grid in empty lines). A kind counts its last index, and one
// more when its first element has a name: a first record without a name (as the empty placeholder
// has none) adds no line.
size_t GridLineCount(const LoadedList& loaded);
// The selection as a value: for each offered row (as `rows` orders them), whether its Update says
// YES. Rebuilds the six per-kind lists the run works on from the rows, each row's Update from it.
void CollectSelection(UpgradeLists& lists, const GridRowTable& rows, const std::vector<bool>& selected);

}  // namespace zrx
