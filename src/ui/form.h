#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/dialogs.h"
#include "ui/control.h"

namespace zrx::ui {

// Members of a control array, addressed by index as in F_Help(1).
template <typename T>
class ControlArray {
public:
    T& operator()(int index) const { return *m_members.at(index); }
    bool Has(int index) const { return m_members.count(index) != 0; }
    const std::map<int, std::unique_ptr<T>>& Members() const { return m_members; }
    template <typename... Args>
    T& Add(int index, Args&&... args) {
        auto& slot = m_members[index];
        slot = std::make_unique<T>(std::forward<Args>(args)...);
        return *slot;
    }

private:
    std::map<int, std::unique_ptr<T>> m_members;
};

// A window: its caption (and Tag) and its controls in control order. Visible while shown.
class Form : public Control, public ModalForm {
public:
    Form(std::string name, std::string caption, std::string tag = {})
        : Control(std::move(name), -1, std::move(caption), std::move(tag)) {
        SetVisible(false);
    }
    const std::vector<Control*>& Controls() const { return m_controls; }
    // The control of a name (and index), or nullptr.
    Control* Find(const std::string& name, int index = -1) const;

protected:
    template <typename T>
    T& Register(T& control) {
        m_controls.push_back(&control);
        return control;
    }

private:
    std::vector<Control*> m_controls;
};

}  // namespace zrx::ui
