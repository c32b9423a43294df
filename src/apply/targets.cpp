#include "apply/targets.h"

#include "shell/app.h"
#include "shell/paths.h"
#include "shell/text_utils.h"
#include "upgrade_list/upgrade_items.h"

namespace zrx {

const std::string& ElementTargetDir(const Environment& env, int kind) { return kind == 5 ? env.ZSMmod : env.LibDir; }

std::string ElementTargetPath(const std::string& dir, std::string_view targetLib) {
    return ResolveNameInDir(dir, targetLib);
}

bool IsSubcircuitFile(std::string_view name) { return EndsWith(ToUpper(TrimmedBlanks(name)), ".SBC"); }

std::string DataFileDestinationDir(const DataFileItem& item) {
    return IsSubcircuitFile(item.Name) ? ResolveNameInDir(item.TargetDir, item.TargetLib) : item.TargetDir;
}

std::string DataFileTargetPath(const std::string& destinationDir, std::string_view name) {
    return ResolveNameInDir(destinationDir, name);
}

}  // namespace zrx
