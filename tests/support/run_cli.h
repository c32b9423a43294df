#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace zrx::test {

struct CliResult {
    int status = -1;
    std::string out;
    std::string err;
};

// The directory of the running test, where the programs are built too.
inline std::string BinDir() {
    std::array<char, PATH_MAX + 1> buffer{};
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), PATH_MAX);
    std::string path(buffer.data(), n > 0 ? static_cast<size_t>(n) : 0);
    return path.substr(0, path.rfind('/'));
}

inline std::string Quote(const std::string& arg) {
    std::string quoted = "'";
    for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs zrxlibug-cli with the arguments, standard input from /dev/null; collects its output.
// `shellPrefix` runs in the same shell first (a resource limit, say).
inline CliResult RunCli(const std::vector<std::string>& args, const std::string& workingDir = {},
                        const std::string& shellPrefix = {}) {
    TempDir dir;
    std::string command = shellPrefix + (workingDir.empty() ? "" : "cd " + Quote(workingDir) + " && ") +
                          Quote(BinDir() + "/zrxlibug-cli");
    for (const std::string& arg : args) command += " " + Quote(arg);
    command += " </dev/null >" + Quote(dir / "out") + " 2>" + Quote(dir / "err");
    CliResult result;
    const int raw = std::system(command.c_str());
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = ReadFile(dir / "out");
    result.err = ReadFile(dir / "err");
    return result;
}

}  // namespace zrx::test
