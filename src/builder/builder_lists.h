#pragma once

#include <string>
#include <vector>

#include "builder/builder_tables.h"

namespace zrx {

class App;
namespace ui {
class ListBox;
}

// The five library kinds of the builder, by their F_Details index (0 parts ... 4 MPARAM models).
struct LibraryKindTables {
    std::vector<SourceLib>* sources;
    std::vector<UpgElement>* chosen;
    ui::ListBox* chosenList;
    const std::string* directory;  // the directory the kind's libraries are listed from
};
LibraryKindTables TablesOfKind(App& app, int kindIndex);

// Links a new chosen element to its source library: the entry with the same directory and file
// name gains a reference; otherwise the first free entry (RefCount 0) is reused; otherwise the
// table grows. `searchSpare` also compares the spare last entry in the first search.
int32_t LinkSourceLib(std::vector<SourceLib>& sources, const std::string& dir, const std::string& fileName,
                      bool searchSpare);

// Adds a line to a chosen list unless the list holds it already without regard to case; false
// when it was there.
bool AddChosenLine(App& app, ui::ListBox& list, const std::string& line);

// Appends an entry to a table that keeps one spare element at its end.
template <typename Entry>
Entry& AppendEntry(std::vector<Entry>& table) {
    table.emplace_back();
    return table[table.size() - 2];
}

}  // namespace zrx
