#pragma once

#include "base/dialogs.h"

namespace zrx {

// The kernel gathers saves and reads into transactions that hold locks on library files. Before
// anything waits for the user (a box, a save dialog, a modal window), these dialogs make every
// save durable and give up every lock, so that no other program waits on a library while the
// user thinks. Everything else passes through to the real dialogs.
class ReleasingDialogs : public ui::Dialogs {
public:
    explicit ReleasingDialogs(ui::Dialogs& inner) : m_inner(inner) {}
    ui::Answer ShowMessage(const ui::MessageBox& box) override;
    std::optional<std::string> AskSaveFileName(const ui::SaveFileRequest& request) override;
    std::optional<std::string> AskPassword(const std::string& prompt) override;
    void SetBusy(bool busy) override { m_inner.SetBusy(busy); }
    void ProcessEvents() override { m_inner.ProcessEvents(); }
    void ShowModal(ui::ModalForm& form) override;
    void ShowHelp(const std::string& helpFile) override { m_inner.ShowHelp(helpFile); }
    int TextWidth(const std::string& text, const ui::UiFont& font) override { return m_inner.TextWidth(text, font); }
    void EndProgram() override;
    void ShowProgress(const std::string& text, size_t done, size_t total) override {
        m_inner.ShowProgress(text, done, total);
    }

private:
    ui::Dialogs& m_inner;
};

// Makes every library save durable and gives up every lock on library files.
void ReleaseLibraries();

}  // namespace zrx
