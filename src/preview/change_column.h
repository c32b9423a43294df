#pragma once

namespace zrx {

class App;

// The selection grid's sixth column, "Change": what each offered row would do to the installation,
// worked out when a list has been loaded, and again when the grid is shown after an update run. Shows
// progress and lets window events through while it compares.
void ShowChangeColumn(App& app);

// After an update run the changes no longer hold: they are worked out again when the selection
// page is shown next.
void MarkChangesStale(App& app);

// "Set unchanged rows to NO": every offered row whose change is "same" is set to NO; nothing else
// changes.
void P_SameToNo_Click(App& app);

void ConnectPreview(App& app);

}  // namespace zrx
