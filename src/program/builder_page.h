#pragma once

namespace zrx {

class App;

// Connects the builder's frames, lists and buttons to their handlers.
void ConnectBuilder(App& app);

}  // namespace zrx
