#include "upgrade_list/selection_grid.h"

namespace zrx {

void BuildGridRows(GridRowTable& rows, const LoadedList& loaded, const Environment& env) {
    rows.Build(loaded, env);
}

size_t GridLineCount(const LoadedList& loaded) {
    auto lines = [&loaded](int kind) -> size_t {
        const size_t count = loaded.Count(kind);
        return count == 0 ? 0 : count - 1 + (loaded.Records(kind)[0].nameLength != 0 ? 1 : 0);
    };
    return lines(kPartRecord) + lines(kSymbolRecord) + lines(kPackageRecord) + lines(kDataFileRecord) +
           lines(kSparamRecord) + lines(kMparamRecord);
}

void CollectSelection(UpgradeLists& lists, const GridRowTable& rows, const std::vector<bool>& selected) {
    lists.Reset();
    // Each list made at its size: grown by doubling, a large upgrade's items were held twice over.
    size_t counts[kMparamRecord + 1] = {};
    for (size_t i = 0; i + 1 < rows.size(); ++i)
        if (const int kind = rows[i].Kind; kind >= 0 && kind <= kMparamRecord) ++counts[kind];
    lists.PartItems.reserve(counts[kPartRecord] + 1);
    lists.SymbolItems.reserve(counts[kSymbolRecord] + 1);
    lists.PackageItems.reserve(counts[kPackageRecord] + 1);
    lists.SpiceModelItems.reserve(counts[kSparamRecord] + 1);
    lists.MixedModelItems.reserve(counts[kMparamRecord] + 1);
    lists.DataFileItems.reserve(counts[kDataFileRecord] + 1);
    for (size_t i = 0; i + 1 < rows.size(); ++i) {
        const GridRow row = rows[i];
        const int32_t update = i < selected.size() && selected[i] ? 1 : 0;
        auto appendElement = [&row, update](std::vector<ElementItem>& list, int32_t destKind) {
            ElementItem& item = list.back();
            item.Name = row.Name;
            item.TargetLib = row.TargetLib;
            item.Update = update;
            item.DestKind = destKind;
            item.UpgSymbolLib = row.UpgSymbolLib;
            list.emplace_back();
        };
        switch (row.Kind) {
            case kPartRecord: appendElement(lists.PartItems, 1); break;
            case kSymbolRecord: appendElement(lists.SymbolItems, 1); break;
            case kPackageRecord: appendElement(lists.PackageItems, 1); break;
            case kSparamRecord: appendElement(lists.SpiceModelItems, 5); break;
            case kMparamRecord: appendElement(lists.MixedModelItems, 1); break;
            case kDataFileRecord: {
                DataFileItem& item = lists.DataFileItems.back();
                item.Name = row.Name;
                item.TargetDir = row.TargetDir;
                item.TargetLib = row.TargetLib;
                item.Update = update;
                item.FileType = row.FileType;
                lists.DataFileItems.emplace_back();
                break;
            }
            default: break;
        }
    }
    auto dropSpare = [](auto& list) {
        if (list.size() > 1) list.pop_back();
    };
    dropSpare(lists.PartItems);
    dropSpare(lists.SymbolItems);
    dropSpare(lists.PackageItems);
    dropSpare(lists.DataFileItems);
    dropSpare(lists.SpiceModelItems);
    dropSpare(lists.MixedModelItems);
}

}  // namespace zrx
