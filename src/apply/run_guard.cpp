#include "apply/run_guard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "shell/app.h"
#include "shell/paths.h"
#include "shell/text_utils.h"

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
    auto sweep = [](const fs::path& folder) {
        std::error_code inner;
        for (const auto& entry : fs::directory_iterator(folder, inner)) {
            const std::string name = entry.path().filename().string();
            if (StartsWith(name, ".") && name.find(".zrxtmp-") != std::string::npos && entry.is_regular_file(inner))
                fs::remove(entry.path(), inner);
        }
    };
    if (dir.empty() || !fs::is_directory(dir, error)) return;
    sweep(dir);
    for (const auto& entry : fs::directory_iterator(dir, error))
        if (entry.is_directory(error) && !entry.is_symlink(error)) sweep(entry.path());
}

void RemoveStaleTemporaries(const Environment& env) {
    for (const std::string* dir : {&env.LibDir, &env.JobDir, &env.SysDir, &env.ZSMcml, &env.ZSMudn, &env.ZSMmod,
                                   &env.ZSMsbk, &env.ZSMwrk})
        RemoveStaleTemporaries(*dir);
}

}  // namespace zrx
