#pragma once

namespace CLI {
class App;
}

namespace zrx::cli {

// Each adds its subcommand; the command's exit status goes to `status`.
void AddLibraryCommands(CLI::App& app, int& status);
void AddShowCommand(CLI::App& app, int& status);
void AddDiffCommand(CLI::App& app, int& status);
void AddHistoryCommands(CLI::App& app, int& status);
void AddApplyCommand(CLI::App& app, int& status);
void AddDemoCommand(CLI::App& app, int& status);
void AddBuildCommand(CLI::App& app, int& status);
void AddVerifyCommand(CLI::App& app, int& status);
void AddKeyCommands(CLI::App& app, int& status);

}  // namespace zrx::cli
