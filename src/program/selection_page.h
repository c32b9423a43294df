#pragma once

#include <vector>

#include "base/dialogs.h"
#include "ui/grid.h"
#include "upgrade_list/loaded_upgrade.h"

namespace zrx {

// The selection grid F_Preferen shows the upgrade's grid rows; its Update column is the
// selection, which the run takes as a value (GridSelection).

// Sets up the grid (columns as wide as `font` shows their samples) and writes the upgrade's grid
// rows into it, every offered row with "YES".
void FillPreferenceGrid(ui::Grid& grid, const LoadedUpgrade& upgrade, ui::Dialogs& dialogs,
                        const ui::UiFont& font);
// The grid's mouse handler: flips the Update cells of the selected rows when the current column
// is the Update column.
void ToggleUpdateCells(ui::Grid& grid);
// The grid's Update column read back: whether each of its `offered` rows says YES.
std::vector<bool> GridSelection(const ui::Grid& grid, size_t offered);

}  // namespace zrx
