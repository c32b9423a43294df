#pragma once

#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "base/dialogs.h"

namespace zrx::ui {

class Form;

// A Dialogs implementation without a window: it records every box and answers from a script.
// Questions take the next scripted answer, or the default answer when the script is used up;
// OK boxes are answered with OK. Used by tests and by the command line when answers come from
// options.
class ScriptedDialogs : public Dialogs {
public:
    Answer ShowMessage(const MessageBox& box) override;
    std::optional<std::string> AskSaveFileName(const SaveFileRequest& request) override;
    void SetBusy(bool busy) override;
    void ProcessEvents() override {
        ++m_eventRuns;
        if (m_onEvents) m_onEvents(m_eventRuns);
    }
    // Called each time pending events are let through (a long run does it once an element): a
    // moment a test can act at while the run goes on.
    void OnProcessEvents(std::function<void(int times)> callback) { m_onEvents = std::move(callback); }
    // Runs the form's script (see OnModal), then hides the form if the script left it shown.
    void ShowModal(ModalForm& form) override;
    void ShowHelp(const std::string& helpFile) override { m_helpFiles.push_back(helpFile); }
    // Seven units per character: enough to tell texts of different length apart.
    int TextWidth(const std::string& text, const UiFont& font) override;
    void EndProgram() override { m_ended = true; }
    struct ProgressShown {
        std::string text;
        size_t done, total;  // 0 of 0 ends a display
    };
    void ShowProgress(const std::string& text, size_t done, size_t total) override {
        m_progress.push_back({text, done, total});
    }
    const std::vector<ProgressShown>& Progress() const { return m_progress; }

    // What to do while a modal form is shown (press its buttons, for example).
    void OnModal(std::function<void(Form&)> script) { m_modalScript = std::move(script); }
    const std::vector<std::string>& ModalForms() const { return m_modalForms; }
    const std::vector<std::string>& HelpFiles() const { return m_helpFiles; }
    bool Ended() const { return m_ended; }

    void QueueAnswer(Answer answer) { m_answers.push_back(answer); }
    void SetDefaultYesNo(Answer answer) { m_defaultYesNo = answer; }
    void SetDefaultAbortRetryIgnore(Answer answer) { m_defaultAri = answer; }
    void QueueSaveFileName(std::optional<std::string> name) { m_saveNames.push_back(std::move(name)); }
    // The answer of every password question (nothing: the user cancels).
    void SetPassword(std::optional<std::string> password) { m_password = std::move(password); }
    std::optional<std::string> AskPassword(const std::string& prompt) override {
        m_passwordPrompts.push_back(prompt);
        return m_password;
    }
    const std::vector<std::string>& PasswordPrompts() const { return m_passwordPrompts; }
    // Called for every box after it is recorded (for example to print it).
    void OnMessage(std::function<void(const MessageBox&, Answer)> callback) { m_onMessage = std::move(callback); }

    const std::vector<MessageBox>& Boxes() const { return m_boxes; }
    void ClearBoxes() { m_boxes.clear(); }
    const std::vector<SaveFileRequest>& SaveRequests() const { return m_saveRequests; }
    bool Busy() const { return m_busy; }
    int EventRuns() const { return m_eventRuns; }

private:
    std::function<void(int)> m_onEvents;
    std::optional<std::string> m_password;
    std::vector<std::string> m_passwordPrompts;
    std::vector<MessageBox> m_boxes;
    std::deque<Answer> m_answers;
    std::deque<std::optional<std::string>> m_saveNames;
    std::vector<SaveFileRequest> m_saveRequests;
    Answer m_defaultYesNo = Answer::Yes;
    Answer m_defaultAri = Answer::Abort;
    std::function<void(const MessageBox&, Answer)> m_onMessage;
    bool m_busy = false;
    bool m_ended = false;
    std::function<void(Form&)> m_modalScript;
    std::vector<std::string> m_modalForms;
    std::vector<std::string> m_helpFiles;
    int m_eventRuns = 0;
    std::vector<ProgressShown> m_progress;
};

}  // namespace zrx::ui
