#include "ui/scripted_dialogs.h"

#include "ui/form.h"

namespace zrx::ui {

Answer ScriptedDialogs::ShowMessage(const MessageBox& box) {
    m_boxes.push_back(box);
    Answer answer = Answer::Ok;
    if (box.buttons != Buttons::Ok) {
        if (!m_answers.empty()) {
            answer = m_answers.front();
            m_answers.pop_front();
        } else {
            answer = box.buttons == Buttons::YesNo ? m_defaultYesNo : m_defaultAri;
        }
    }
    if (m_onMessage) m_onMessage(box, answer);
    return answer;
}

std::optional<std::string> ScriptedDialogs::AskSaveFileName(const SaveFileRequest& request) {
    m_saveRequests.push_back(request);
    if (m_saveNames.empty()) return std::nullopt;
    auto name = std::move(m_saveNames.front());
    m_saveNames.pop_front();
    return name;
}

void ScriptedDialogs::SetBusy(bool busy) { m_busy = busy; }

void ScriptedDialogs::ShowModal(ModalForm& modal) {
    // The only windows shown modally are the window's forms.
    Form& form = dynamic_cast<Form&>(modal);
    m_modalForms.push_back(form.Name());
    form.SetVisible(true);
    if (m_modalScript) m_modalScript(form);
    form.SetVisible(false);
}

int ScriptedDialogs::TextWidth(const std::string& text, const UiFont&) { return 7 * static_cast<int>(text.size()); }

}  // namespace zrx::ui
