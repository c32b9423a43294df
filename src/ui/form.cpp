#include "ui/form.h"

namespace zrx::ui {

Control* Form::Find(const std::string& name, int index) const {
    for (Control* control : m_controls)
        if (control->Name() == name && control->Index() == index) return control;
    return nullptr;
}

}  // namespace zrx::ui
