#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zrx {

// The three texts read out of a saved simulator model.
struct ModelTexts {
    std::string ModelText1, ModelText2, ModelText3;
};

// One element of a per-kind list of a loaded upgrade (parts, symbols, packages, SPARAM and MPARAM
// models). Symbols use UpgSymbolLib; SPARAM models carry the texts read from the saved model,
// held apart so that the lists of large upgrades stay small.
struct ElementItem {
    int32_t Withheld = 0;
    int32_t DestKind = 0;
    std::string Name;
    std::string TargetLib;
    int32_t Update = 0;
    int32_t Copied = 0;
    bool Merged = false;  // copied as a merge with the edits made here
    std::string Why;      // why the run did not copy it, where it said
    // Not copied because the edits made here and the upgrade changed these fields differently.
    std::string Conflicts;
    std::string UpgSymbolLib;
    std::shared_ptr<ModelTexts> texts;

    const ModelTexts& Texts() const {
        static const ModelTexts kNone;
        return texts ? *texts : kNone;
    }
    ModelTexts& Texts() {
        if (!texts) texts = std::make_shared<ModelTexts>();
        return *texts;
    }
};

// One loose file of a loaded upgrade.
struct DataFileItem {
    int32_t Withheld = 0;
    std::string TargetDir;
    std::string Name;
    int32_t Update = 0;
    int32_t DestKind = 0;
    int32_t Copied = 0;
    bool Merged = false;  // copied as a merge with the edits made here
    std::string Why;      // why the run did not copy it, where it said
    // Not copied because the edits made here and the upgrade changed the same lines differently.
    std::string Conflicts;
    std::string FileType;
    std::string TargetLib;  // subcircuit files: the subdirectory below the subcircuit directory
};

// The six per-kind lists. An empty list holds one element with an empty Name.
struct UpgradeLists {
    std::vector<ElementItem> PartItems{1}, SymbolItems{1}, PackageItems{1}, SpiceModelItems{1}, MixedModelItems{1};
    std::vector<DataFileItem> DataFileItems{1};

    void Reset() { *this = UpgradeLists(); }
};

// Whether a list is only the empty placeholder.
template <typename Item>
bool IsPlaceholder(const std::vector<Item>& list) {
    return list.size() <= 1 && (list.empty() || list[0].Name.empty());
}

}  // namespace zrx
