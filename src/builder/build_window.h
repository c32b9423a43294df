#pragma once

namespace zrx {

class App;

// The destination folder from the build frame's directory or drive list.
void F_Dir_Change(App& app);
void F_Drive_Change(App& app);
// The seven destination paths from the destination folder.
void SetDestinationPaths(App& app);

// Connects the builder's frames, lists and buttons to their handlers.
void ConnectBuilder(App& app);

}  // namespace zrx
