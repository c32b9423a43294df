#pragma once

#include <QPointer>
#include <QWidget>

#include "base/dialogs.h"
#include "ui/fonts.h"

class QDialog;

namespace zrx::ui {
class Form;
}

namespace zrx::qt {

// The dialog interface in a real window: message boxes, the save dialog, the busy pointer, the
// modal forms and the help window.
class QtDialogs : public ui::Dialogs {
public:
    QtDialogs() = default;
    ~QtDialogs() override;
    QtDialogs(const QtDialogs&) = delete;
    QtDialogs& operator=(const QtDialogs&) = delete;
    ui::Answer ShowMessage(const ui::MessageBox& box) override;
    std::optional<std::string> AskSaveFileName(const ui::SaveFileRequest& request) override;
    std::optional<std::string> AskPassword(const std::string& prompt) override;
    void SetBusy(bool busy) override;
    void ProcessEvents() override;
    void ShowModal(ui::ModalForm& form) override;
    void ShowHelp(const std::string& helpFile) override;
    int TextWidth(const std::string& text, const ui::UiFont& font) override;
    void EndProgram() override;
    void ShowProgress(const std::string& text, size_t done, size_t total) override;

    // The window that owns the boxes.
    void SetOwner(QWidget* owner) { m_owner = owner; }
    // Builds the dialog that shows a form; registered by the window layer for each modal form.
    using FormDialogFactory = std::function<QDialog*(ui::Form&, QWidget* parent)>;
    void RegisterForm(const std::string& formName, FormDialogFactory factory);
    // Where the window shows progress; without one, progress is not shown.
    using ProgressHandler = std::function<void(const std::string& text, size_t done, size_t total)>;
    void SetProgressHandler(ProgressHandler handler) { m_progressHandler = std::move(handler); }

private:
    QPointer<QWidget> m_owner;
    QPointer<QDialog> m_help;
    std::map<std::string, FormDialogFactory> m_factories;
    ProgressHandler m_progressHandler;
    int m_busyDepth = 0;
};

// Fonts as fontconfig and Qt know them.
class QtFontCatalog : public ui::FontCatalog {
public:
    bool FontExists(std::string& name) override;
    std::string FontForLanguage(const std::string& language) override;
    std::string GeneralFont() override;
};

}  // namespace zrx::qt
