#pragma once

namespace zrx {

class App;

// Connects every control of the main window to its handler, in every subsystem.
void ConnectHandlers(App& app);

}  // namespace zrx
