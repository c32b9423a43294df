#pragma once

#include "base/dialogs.h"
#include "kernel/installation.h"
#include "ui/control.h"
#include "ui/grid.h"
#include "upgrade_list/loaded_list.h"
#include "upgrade_list/loaded_upgrade.h"

namespace zrx {

// Rebuilds the grid's rows from the loaded list.
void BuildGridRows(GridRowTable& rows, const LoadedList& loaded, const Environment& env);
// Sets up the grid F_Preferen (columns as wide as `font` shows their samples) and writes the
// upgrade's grid rows into it, every offered row with "YES".
void FillPreferenceGrid(ui::Grid& grid, const LoadedUpgrade& upgrade, ui::Dialogs& dialogs,
                        const ui::UiFont& font);
// The grid's mouse handler: flips the Update cells of the selected rows when the current column
// is the Update column.
void ToggleUpdateCells(ui::Grid& grid);
// Reads the grid's Update column back and rebuilds the six per-kind lists from the rows.
void CollectGridSelection(UpgradeLists& lists, const GridRowTable& rows, const ui::Grid& grid);

}  // namespace zrx
