#pragma once

#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "base/dialogs.h"
#include "ui/fonts.h"

namespace zrx::ui {

class Form;

// The dialog interface on a terminal: every box becomes a line on standard error; a question is
// answered by the program's options, or asked on the terminal, or (without a terminal) answered
// No, and that is said. Progress goes to one status line when standard error is a terminal.
class ConsoleDialogs : public Dialogs {
public:
    ConsoleDialogs(std::FILE* err = stderr, std::FILE* in = stdin);

    Answer ShowMessage(const MessageBox& box) override;
    std::optional<std::string> AskSaveFileName(const SaveFileRequest& request) override;
    // On a terminal, read without echo; otherwise the first line of the standard input, so that a
    // script can pipe it in.
    std::optional<std::string> AskPassword(const std::string& prompt) override;
    void SetBusy(bool) override {}
    void ProcessEvents() override {}
    void ShowModal(ModalForm& form) override;
    void ShowHelp(const std::string& helpFile) override;
    int TextWidth(const std::string& text, const UiFont& font) override;
    void EndProgram() override { m_ended = true; }

    // Answers a question before the terminal is asked; nothing leaves it to the terminal.
    using Answerer = std::function<std::optional<Answer>(const MessageBox&)>;
    void SetAnswerer(Answerer answerer) { m_answerer = std::move(answerer); }
    // What a modal form does on the terminal (the summary prints itself, for example).
    void OnModal(const std::string& formName, std::function<void(Form&)> action) { m_modal[formName] = std::move(action); }
    // Shows a progress text on the status line (terminal only).
    void Progress(const std::string& text);
    void EndProgress();

    bool Interactive() const { return m_interactive; }
    int BoxCount() const { return m_boxes; }
    bool Ended() const { return m_ended; }

private:
    void PrintLine(const std::string& text);
    std::optional<Answer> AskTerminal(const MessageBox& box);

    std::FILE* m_err;
    std::FILE* m_in;
    bool m_interactive;
    bool m_statusShown = false;
    bool m_ended = false;
    int m_boxes = 0;
    Answerer m_answerer;
    std::map<std::string, std::function<void(Form&)>> m_modal;
};

// Fonts without a window system: no font exists by name, so the general font is taken.
class ConsoleFontCatalog : public FontCatalog {
public:
    bool FontExists(std::string&) override { return false; }
    std::string FontForLanguage(const std::string&) override { return {}; }
    std::string GeneralFont() override { return "Sans Serif"; }
};

}  // namespace zrx::ui
