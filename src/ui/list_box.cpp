#include "ui/list_box.h"

#include "shell/text_utils.h"

namespace zrx::ui {

void ListBox::AddItem(std::string item) {
    m_items.push_back(std::move(item));
    m_selected.push_back(0);
    ++m_revision;
    Changed();
}

void ListBox::SetItems(std::vector<std::string> items) {
    m_items = std::move(items);
    m_selected.assign(m_items.size(), 0);
    m_listIndex = -1;
    ++m_revision;
    Changed();
}

void ListBox::RemoveItem(int index) {
    if (index < 0 || index >= ListCount()) return;
    m_items.erase(m_items.begin() + index);
    m_selected.erase(m_selected.begin() + index);
    if (m_listIndex >= ListCount()) m_listIndex = ListCount() - 1;
    if (m_selection == Selection::Single) {
        m_selected.assign(m_items.size(), 0);
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
        m_selected.assign(m_items.size(), 0);
        if (index >= 0) m_selected[static_cast<size_t>(index)] = 1;
    }
    Changed();
}

bool ListBox::Selected(int index) const {
    return index >= 0 && index < ListCount() && m_selected[static_cast<size_t>(index)] != 0;
}

void ListBox::SetSelected(int index, bool selected) {
    if (index < 0 || index >= ListCount()) return;
    if (m_selection == Selection::Single) {
        if (selected) SetListIndex(index);
        else if (index == m_listIndex) SetListIndex(-1);
        return;
    }
    m_selected[static_cast<size_t>(index)] = selected ? 1 : 0;
    Changed();
}

int ListBox::SelCount() const {
    int count = 0;
    for (char s : m_selected) count += s != 0;
    return count;
}

std::vector<int> ListBox::SelectedIndices(size_t limit) const {
    std::vector<int> indices;
    for (size_t i = 0; i < m_selected.size() && indices.size() < limit; ++i)
        if (m_selected[i]) indices.push_back(static_cast<int>(i));
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
        m_selected.assign(m_items.size(), 0);
        for (int index : selected)
            if (index >= 0 && index < ListCount()) m_selected[static_cast<size_t>(index)] = 1;
        m_listIndex = current >= -1 && current < ListCount() ? current : -1;
        Changed();
    }
    if (onClick) onClick();
}

}  // namespace zrx::ui
