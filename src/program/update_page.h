#pragma once

namespace zrx {

class App;

// "Update" on the update page: after one question, and under the installation's lock, copies
// every selected element of the loaded upgrade in a fixed order, recorded for undo, and ends in
// the summary window.
void UpdateLibraries(App& app);

void ConnectUpdatePage(App& app);

}  // namespace zrx
