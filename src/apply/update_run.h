#pragma once

namespace zrx {

class App;

// "Update" on the update page: after one question, copies every selected element of the loaded
// upgrade in a fixed order and ends in the summary window.
void UpdateLibraries(App& app);
// Every element of the six lists not copied (yet).
void ResetCopyStatus(App& app);

void ConnectUpdatePage(App& app);

}  // namespace zrx
