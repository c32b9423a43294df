#include "builder/builder_lists.h"

#include "shell/app.h"
#include "shell/text_utils.h"

namespace zrx {

LibraryKindTables TablesOfKind(App& app, int kindIndex) {
    BuilderTables& t = app.builder;
    ui::MainForm& m = app.main;
    switch (kindIndex) {
        case 0: return {&t.PartSources, &t.UpgParts, &m.F_Devlist, &app.env.LibDir};
        case 1: return {&t.SymbolSources, &t.UpgSymbols, &m.F_Slist, &app.env.LibDir};
        case 2: return {&t.PackageSources, &t.UpgPackages, &m.F_llist, &app.env.LibDir};
        case 3: return {&t.SparamSources, &t.UpgSparams, &m.F_Smldlist, &app.env.ZSMmod};
        default: return {&t.MparamSources, &t.UpgMparams, &m.F_Mpldlist, &app.env.LibDir};
    }
}

bool AddChosenLine(App& app, ui::ListBox& list, const std::string& line) {
    App::ChosenNames& chosen = app.chosenNames[&list];
    if (chosen.revision != list.ItemsRevision()) {
        chosen.names.clear();
        for (const std::string& item : list.Items()) chosen.names.insert(ToUpper(item));
    }
    if (!chosen.names.insert(ToUpper(line)).second) return false;
    list.AddItem(line);
    chosen.revision = list.ItemsRevision();
    return true;
}

int32_t LinkSourceLib(std::vector<SourceLib>& sources, const std::string& dir, const std::string& fileName,
                      bool searchSpare) {
    const size_t searched = searchSpare ? sources.size() : sources.size() - 1;
    for (size_t i = 0; i < searched; ++i) {
        if (sources[i].Dir == dir && sources[i].FileName == fileName) {
            if (i + 1 == sources.size()) break;  // the spare itself: fill it below
            ++sources[i].RefCount;
            return static_cast<int32_t>(i);
        }
    }
    for (size_t i = 0; i + 1 < sources.size(); ++i) {
        if (sources[i].RefCount == 0) {
            sources[i] = SourceLib{dir, fileName, 1};
            return static_cast<int32_t>(i);
        }
    }
    sources.back() = SourceLib{dir, fileName, 1};
    sources.emplace_back();
    return static_cast<int32_t>(sources.size() - 2);
}

}  // namespace zrx
