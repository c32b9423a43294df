#pragma once

namespace zrx {

class App;

// Rebuilds GridRows from the six per-kind lists.
void BuildGridRows(App& app);
// Sets up the grid F_Preferen and writes GridRows into it, every offered row with "YES".
void FillPreferenceGrid(App& app);
// The grid's mouse handler: flips the Update cells of the selected rows when the current column
// is the Update column.
void ToggleUpdateCells(App& app);
void F_OverPrompt_Click(App& app, int index);
// Reads the Update column back and rebuilds the six per-kind lists from GridRows.
void CollectGridSelection(App& app);

void ConnectSelectionGrid(App& app);

}  // namespace zrx
