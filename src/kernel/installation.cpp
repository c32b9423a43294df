#include "kernel/installation.h"

#include "base/paths.h"

namespace zrx {

std::string InstallationDir(const Environment& env) {
    const auto cut = env.IniFile.rfind(kSep);
    return cut == std::string::npos ? std::string(".") : env.IniFile.substr(0, cut == 0 ? 1 : cut);
}

std::shared_ptr<const Directory> HeldFolder(const Environment& env, const std::string& path,
                                            std::string& why) {
    if (path.empty()) {
        why = "no folder is set";
        return nullptr;
    }
    return env.folders->Of(path, why);
}

void HoldInstallationFolders(const Environment& env) {
    std::string ignored;
    for (const std::string* folder : {&env.JobDir, &env.LibDir, &env.SysDir, &env.ULM3JobDir, &env.ZSMcml,
                                      &env.ZSMudn, &env.ZSMmod, &env.ZSMsbk, &env.ZSMwrk})
        if (!folder->empty()) HeldFolder(env, *folder, ignored);
    HeldFolder(env, InstallationDir(env), ignored);
}

}  // namespace zrx
