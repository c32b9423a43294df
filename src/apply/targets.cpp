#include "apply/targets.h"

#include "kernel/zrxkernel.h"
#include "shell/app.h"
#include "shell/paths.h"
#include "shell/text_utils.h"
#include "upgrade_list/upgrade_items.h"

namespace zrx {

const std::string& ElementTargetDir(const Environment& env, int kind) {
    return kind == 5 ? env.ZSMmod : env.LibDir;
}

const std::string& ResolvedNames::In(const std::string& dir, std::string_view name) {
    m_key.assign(dir).append(1, '\0').append(name);
    auto it = m_resolved.find(m_key);
    if (it == m_resolved.end()) it = m_resolved.emplace(m_key, ResolveNameInDir(dir, name)).first;
    return it->second;
}

const std::string& UpgradeLibraryOf(const std::array<std::string, 6>& upgradeLibraries, int kind,
                                    std::string_view upgSymbolLib) {
    switch (kind) {
        case 1:
            return upgradeLibraries[0];
        case 2:
            return EqualsIgnoreCase(upgSymbolLib, "I_UPG.SYMBOL") ? upgradeLibraries[2] : upgradeLibraries[1];
        case 3:
            return upgradeLibraries[3];
        case 5:
            return upgradeLibraries[4];
        default:
            return upgradeLibraries[5];
    }
}

const char* LibraryKindOf(int kind) {
    return kind == 1 ? ZK_KIND_PART_LIBRARY : ZK_KIND_SYMBOL_LIBRARY;
}

bool IsSubcircuitFile(std::string_view name) {
    return EndsWith(ToUpper(TrimmedBlanks(name)), ".SBC");
}

std::string DataFileDestinationDir(const DataFileItem& item) {
    return DataFileDestinationDir(item.TargetDir, item.Name, item.TargetLib);
}

std::string DataFileDestinationDir(const std::string& targetDir, std::string_view name,
                                   std::string_view subdir) {
    if (!IsSubcircuitFile(name) || TrimmedBlanks(subdir).empty()) return targetDir;
    return ResolveNameInDir(targetDir, subdir);
}

std::string DataFileTargetPath(const std::string& destinationDir, std::string_view name) {
    return ResolveNameInDir(destinationDir, name);
}

}  // namespace zrx
