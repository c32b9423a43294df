#include "kernel/installation.h"

#include "base/paths.h"

namespace zrx {

std::string InstallationDir(const Environment& env) {
    const auto cut = env.IniFile.rfind(kSep);
    return cut == std::string::npos ? std::string(".") : env.IniFile.substr(0, cut == 0 ? 1 : cut);
}

Result<std::shared_ptr<const Directory>> HeldFolder(const Environment& env, const std::string& path) {
    if (path.empty()) return Failure{"no folder is set"};
    return env.folders->Of(path);
}

void HoldInstallationFolders(const Environment& env) {
    for (const std::string* folder : {&env.JobDir, &env.LibDir, &env.SysDir, &env.ULM3JobDir, &env.ZSMcml,
                                      &env.ZSMudn, &env.ZSMmod, &env.ZSMsbk, &env.ZSMwrk})
        if (!folder->empty()) (void)HeldFolder(env, *folder);
    (void)HeldFolder(env, InstallationDir(env));
}

}  // namespace zrx
