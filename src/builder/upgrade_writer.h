#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zrx {

class App;

// "Build": writes the upgrade libraries, copies the chosen files and writes Upgrade.lst into the
// destination folder (or only the list, with "Create Upgrade.lst file only").
void F_Create_Click(App& app);
// The numbers every entry is written with.
void PrepareListValues(App& app);

void WritePartLibrary(App& app);
void WriteSymbolLibrary(App& app);
void WriteISymbolLibrary(App& app);
void WritePackageLibrary(App& app);
void WriteSparamLibrary(App& app);
void WriteMparamLibrary(App& app);

// Creates a device named `name` from the source device: its texts, supply pins, groups and pins.
void CopyDevice(int32_t& errorFlag, int32_t source, int32_t& device, const std::string& name);

// Writes Upgrade.lst to the path of the list caption. False, with the reason, when it could not be
// written; an empty caption writes nothing and is no failure. A record whose name cannot be
// written so that it reads back as itself is left out, and the name added to `refusedNames`.
bool WriteUpgradeList(App& app, std::string& error, std::vector<std::string>& refusedNames);

// Whether a source library file name marks "I_" symbols (its first two characters "I_" or "i_").
bool IsISymbolLibrary(const std::string& fileName);

}  // namespace zrx
