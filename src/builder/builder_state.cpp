#include "builder/builder_state.h"

#include "base/paths.h"
#include "base/text_utils.h"

namespace zrx {

bool ChosenLines::Holds(std::string_view line) const { return m_upperCounts.contains(ToUpper(line)); }

bool ChosenLines::HoldsExactly(std::string_view line) const {
    if (!Holds(line)) return false;
    for (const std::string& held : m_lines)
        if (held == line) return true;
    return false;
}

void ChosenLines::Add(std::string line) {
    ++m_upperCounts[ToUpper(line)];
    m_lines.push_back(std::move(line));
}

void ChosenLines::Remove(size_t index) {
    if (index >= m_lines.size()) return;
    const auto it = m_upperCounts.find(ToUpper(m_lines[index]));
    if (it != m_upperCounts.end() && --it->second == 0) m_upperCounts.erase(it);
    m_lines.erase(m_lines.begin() + static_cast<std::ptrdiff_t>(index));
}

void ChosenLines::Clear() {
    m_lines.clear();
    m_upperCounts.clear();
}

void BuilderState::Clear() {
    tables.Reset();
    for (ChosenLines& lines : chosen) lines.Clear();
}

void SetDestinationFolder(BuilderState& builder, const std::string& folder) {
    builder.destinationFolder = folder;
    if (folder.empty()) return;
    std::string trimmed = TrimBlanks(folder);
    if (!trimmed.empty() && trimmed.back() == kSep) trimmed.pop_back();
    builder.trimmedDestination = trimmed;
    builder.destinationChosen = true;
}

std::string DestinationPath(const BuilderState& builder, std::string_view file) {
    if (!builder.destinationChosen) return {};
    return builder.trimmedDestination + kSep + std::string(file);
}

}  // namespace zrx
