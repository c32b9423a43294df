#include "kernel/releasing_dialogs.h"

#include "kernel/zrxkernel.h"

namespace zrx {

void ReleaseLibraries() { E_FlushLibraries(); }

ui::Answer ReleasingDialogs::ShowMessage(const ui::MessageBox& box) {
    ReleaseLibraries();
    return m_inner.ShowMessage(box);
}

std::optional<std::string> ReleasingDialogs::AskSaveFileName(const ui::SaveFileRequest& request) {
    ReleaseLibraries();
    return m_inner.AskSaveFileName(request);
}

std::optional<std::string> ReleasingDialogs::AskPassword(const std::string& prompt) {
    ReleaseLibraries();
    return m_inner.AskPassword(prompt);
}

void ReleasingDialogs::ShowModal(ui::ModalForm& form) {
    ReleaseLibraries();
    m_inner.ShowModal(form);
}

void ReleasingDialogs::EndProgram() {
    ReleaseLibraries();
    m_inner.EndProgram();
}

}  // namespace zrx
