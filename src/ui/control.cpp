#include "ui/control.h"

namespace zrx::ui {

Control::Control(std::string name, int index, std::string caption, std::string tag)
    : m_name(std::move(name)), m_index(index), m_caption(std::move(caption)), m_tag(std::move(tag)) {}

std::string Control::FullName() const {
    return m_index < 0 ? m_name : m_name + "(" + std::to_string(m_index) + ")";
}

void Control::SetCaption(std::string caption) {
    if (caption == m_caption) return;
    m_caption = std::move(caption);
    Changed();
}

void Control::SetVisible(bool visible) {
    if (visible == m_visible) return;
    m_visible = visible;
    Changed();
}

void Control::SetEnabled(bool enabled) {
    if (enabled == m_enabled) return;
    m_enabled = enabled;
    Changed();
}

void Control::SetFont(UiFont font) {
    if (font == m_font) return;
    m_font = std::move(font);
    Changed();
}

void Control::SetBold(bool bold) {
    if (bold == m_bold) return;
    m_bold = bold;
    Changed();
}

int Control::Subscribe(std::function<void()> observer) {
    const int id = m_nextObserver++;
    m_observers[id] = std::move(observer);
    return id;
}

void Control::Unsubscribe(int id) { m_observers.erase(id); }

void Control::Changed() {
    if (m_blocked > 0) {
        m_changedWhileBlocked = true;
        return;
    }
    if (m_observers.empty()) return;
    // Observers may unsubscribe while being called; work on a copy.
    const auto observers = m_observers;
    for (const auto& [id, observer] : observers) observer();
}

void Button::Click() {
    if (Enabled() && Visible() && onClick) onClick();
}

void OptionButton::SetValue(bool value) {
    if (value) {
        for (OptionButton* other : m_group)
            if (other != this && other->m_value) {
                other->m_value = false;
                other->Changed();
            }
    }
    if (value == m_value) return;
    m_value = value;
    Changed();
}

void OptionButton::Click() {
    if (!Enabled()) return;
    SetValue(true);
    if (onClick) onClick();
}

void CheckBox::SetValue(bool value) {
    if (value == m_value) return;
    m_value = value;
    Changed();
}

void CheckBox::Click() {
    if (!Enabled()) return;
    SetValue(!m_value);
    if (onClick) onClick();
}

void TextBox::SetText(std::string text) {
    if (text == m_text) return;
    m_text = std::move(text);
    Changed();
}

void TextBox::UserEdit(std::string text) {
    if (m_readOnly) return;
    SetText(std::move(text));
    if (onChange) onChange();
}

void MenuItem::Click() {
    if (Enabled() && onClick) onClick();
}

void ComboBox::AddItem(std::string item) {
    m_items.push_back(std::move(item));
    Changed();
}

void ComboBox::Clear() {
    m_items.clear();
    m_index = -1;
    Changed();
}

void ComboBox::SetListIndex(int index) {
    if (index < -1 || index >= static_cast<int>(m_items.size()) || index == m_index) return;
    m_index = index;
    Changed();
}

std::string ComboBox::Text() const {
    return m_index >= 0 ? m_items[static_cast<size_t>(m_index)] : std::string();
}

void ComboBox::UserSelect(int index) {
    SetListIndex(index);
    if (onClick) onClick();
}

}  // namespace zrx::ui
