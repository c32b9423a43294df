#include "ui/list_box.h"

#include "base/text_utils.h"

namespace zrx::ui {

void ListBox::AddItem(std::string item) {
    m_items.push_back(std::move(item));
    ++m_revision;
    Changed();
}

void ListBox::SetItems(std::vector<std::string> items) {
    m_items = std::move(items);
    m_selected.clear();
    m_listIndex = -1;
    ++m_revision;
    Changed();
}

void ListBox::RemoveItem(int index) {
    if (index < 0 || index >= ListCount()) return;
    m_items.erase(m_items.begin() + index);
    std::set<int> shifted;
    for (const int selected : m_selected)
        if (selected != index) shifted.insert(selected > index ? selected - 1 : selected);
    m_selected = std::move(shifted);
    if (m_listIndex >= ListCount()) m_listIndex = ListCount() - 1;
    if (m_selection == Selection::Single) {
        m_selected.clear();
        m_listIndex = -1;
    }
    ++m_revision;
    Changed();
}

void ListBox::Clear() {
    m_items.clear();
    m_selected.clear();
    m_listIndex = -1;
    ++m_revision;
    Changed();
}

void ListBox::SetListIndex(int index) {
    if (index < -1 || index >= ListCount()) return;
    m_listIndex = index;
    if (m_selection == Selection::Single) {
        m_selected.clear();
        if (index >= 0) m_selected.insert(index);
    }
    Changed();
}

bool ListBox::Selected(int index) const { return m_selected.count(index) != 0; }

void ListBox::SetSelected(int index, bool selected) {
    if (index < 0 || index >= ListCount()) return;
    if (m_selection == Selection::Single) {
        if (selected) SetListIndex(index);
        else if (index == m_listIndex) SetListIndex(-1);
        return;
    }
    if (selected) m_selected.insert(index);
    else m_selected.erase(index);
    Changed();
}

std::vector<int> ListBox::SelectedIndices(size_t limit) const {
    std::vector<int> indices;
    for (auto it = m_selected.begin(); it != m_selected.end() && indices.size() < limit; ++it) indices.push_back(*it);
    return indices;
}

int ListBox::FindExact(std::string_view text) const {
    for (size_t i = 0; i < m_items.size(); ++i)
        if (EqualsIgnoreCase(m_items[i], text)) return static_cast<int>(i);
    return -1;
}

void ListBox::UserSelect(const std::vector<int>& selected, int current) {
    if (m_selection == Selection::Single) {
        SetListIndex(current);
    } else {
        m_selected.clear();
        for (int index : selected)
            if (index >= 0 && index < ListCount()) m_selected.insert(index);
        m_listIndex = current >= -1 && current < ListCount() ? current : -1;
        Changed();
    }
    if (onClick) onClick();
}

}  // namespace zrx::ui
