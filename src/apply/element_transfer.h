#pragma once

#include <string>

namespace zrx {

class App;

// Copy the selected parts, symbols and packages from the upgrade libraries into the user's
// libraries in the library directory.
void TransferParts(App& app);
void TransferSymbols(App& app);
void TransferPackages(App& app);

// Asks before an element is overwritten; the kernel's libraries are made durable first, so that
// no library stays locked while the user thinks.
bool AskBeforeOverwrite(App& app, const std::string& question);

// After a kernel call on a library failed: when the kernel refused the library itself (not a
// library, damaged, locked, newer), says why, once per library and run, and returns true.
bool NoteRefusedLibrary(App& app, const std::string& path);
bool IsRefusedLibrary(const App& app, const std::string& path);

}  // namespace zrx
