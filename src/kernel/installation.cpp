#include "kernel/installation.h"

#include "base/paths.h"

namespace zrx {

std::string InstallationDir(const Environment& env) {
    const auto cut = env.IniFile.rfind(kSep);
    return cut == std::string::npos ? std::string(".") : env.IniFile.substr(0, cut == 0 ? 1 : cut);
}

}  // namespace zrx
