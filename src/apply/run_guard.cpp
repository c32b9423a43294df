#include "apply/run_guard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cctype>
#include <filesystem>

#include "base/paths.h"
#include "base/text_utils.h"
#include "kernel/installation.h"
#include "kernel/zrxkernel.h"

namespace zrx {

InstallationLock::InstallationLock(const std::string& installationDir) {
    const std::string path = JoinPath(installationDir, ".zrxlibug.lock");
    m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (m_fd < 0 && errno == ELOOP) {
        m_problem = "the lock file " + path + " is a symbolic link, which is never followed: remove it; nothing was changed";
        return;
    }
    if (m_fd < 0) {
        m_held = true;
        return;
    }
    m_held = ::flock(m_fd, LOCK_EX | LOCK_NB) == 0;
    if (!m_held)
        m_problem = "an upgrade of this installation is in progress in another program; nothing was changed";
}

InstallationLock::~InstallationLock() {
    if (m_fd >= 0) ::close(m_fd);  // closing releases the lock
}

void RemoveStaleTemporaries(const std::string& dir) {
    namespace fs = std::filesystem;
    std::error_code error;
    // Only names the program makes: "." + a name + ".zrxtmp-" + six letters or digits.
    auto ours = [](const std::string& name) {
        const size_t mark = name.rfind(".zrxtmp-");
        if (!StartsWith(name, ".") || mark == std::string::npos || mark == 0 || name.size() != mark + 14) return false;
        for (size_t i = mark + 8; i < name.size(); ++i)
            if (!std::isalnum(static_cast<unsigned char>(name[i]))) return false;
        return true;
    };
    auto sweep = [&ours](const fs::path& folder) {
        std::error_code inner;
        for (const auto& entry : fs::directory_iterator(folder, inner)) {
            const std::string name = entry.path().filename().string();
            if (ours(name) && entry.is_regular_file(inner) && !entry.is_symlink(inner)) fs::remove(entry.path(), inner);
        }
    };
    if (dir.empty() || !fs::is_directory(dir, error)) return;
    sweep(dir);
    for (const auto& entry : fs::directory_iterator(dir, error))
        if (entry.is_directory(error) && !entry.is_symlink(error)) sweep(entry.path());
}

bool SettleLibrary(const std::string& path) {
    for (const char* kind : {ZK_KIND_PART_LIBRARY, ZK_KIND_SYMBOL_LIBRARY}) {
        const int32_t handle = E_OpenLibrary(path.c_str(), kind, -1);
        if (handle <= 0) continue;
        E_CloseLibrary(handle);
        E_FlushLibraries();
        return true;
    }
    return false;
}

void SettleLeftLibraries(const Environment& env) {
    namespace fs = std::filesystem;
    for (const std::string* dir : {&env.LibDir, &env.ZSMmod}) {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(*dir, error)) {
            const std::string name = entry.path().filename().string();
            const std::string library = EndsWith(name, "-wal")       ? name.substr(0, name.size() - 4)
                                        : EndsWith(name, "-journal") ? name.substr(0, name.size() - 8)
                                                                     : std::string();
            if (!library.empty()) SettleLibrary(JoinPath(*dir, library));
        }
    }
}

void RemoveStaleTemporaries(const Environment& env) {
    for (const std::string* dir : {&env.LibDir, &env.JobDir, &env.SysDir, &env.ZSMcml, &env.ZSMudn, &env.ZSMmod,
                                   &env.ZSMsbk, &env.ZSMwrk})
        RemoveStaleTemporaries(*dir);
}

}  // namespace zrx
