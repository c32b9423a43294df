#pragma once

#include <string>

namespace zrx {

class App;

enum class StartupOutcome {
    Ready,   // the window is on its first view
    Failed,  // a failure box was shown; the window shows the fallback view
    Closed,  // no command line: the program ends without showing its window
};

// The start-up sequence of the main window (its Form_Load).
StartupOutcome Form_Load(App& app);

// The steps, each with the failure flag of the start-up (1 failed, 0 succeeded).
int GetZarnixsysPath(App& app);
int GetSysDir(App& app);
std::string ServerPath(App& app);
int CheckServerPath(App& app);
int ReadSuiteDirectories(App& app);
void SetPromptLabel(App& app);
void SetFileListPatterns(App& app);
void InitMainWindow(App& app);
// OK disabled, the load page shown: the window after a failed start-up.
void ShowFallbackView(App& app);

// The INI file of an installation directory: ZARNIX32.INI, found without regard to case when the
// exact name is absent.
std::string IniFileOf(const std::string& installationDir);

// The program's command line as one text, from the arguments the system split: every argument
// in double quotes, so that the first token is the first argument as it was given.
std::string CommandLineFromArguments(int argc, char** argv);

}  // namespace zrx
