#include "upgrade_list/loaded_list.h"

#include <algorithm>
#include <cstring>

#include "base/messages.h"
#include "base/text_utils.h"
#include "kernel/installation.h"
#include "upgrade_list/list_format.h"

namespace zrx {

namespace {

constexpr int kKindShift = 29;
// The kinds in the order of the grid's rows.
constexpr std::array<int, 6> kGridOrder = {kPartRecord,   kSymbolRecord, kPackageRecord,
                                            kSparamRecord, kMparamRecord, kDataFileRecord};
constexpr uint32_t kIndexMask = (1u << kKindShift) - 1;

// The file type of a data file without a listed one, by the last four characters of its trimmed,
// upper-cased name: the index into the types GridRowTable::Build works out.
size_t FileTypeIndex(std::string_view name) {
    const std::string ending(Right(ToUpper(TrimmedBlanks(name)), 4));
    if (ending == ".DAT") return 0;
    if (ending == ".TAL") return 1;
    if (ending == ".SPC") return 2;
    if (ending == ".SBC") return 3;
    if (ending == ".DLL") return 4;
    if (ending == ".MPL") return 5;
    if (ending == ".SML") return 6;
    return 7;
}

}  // namespace

std::optional<uint32_t> TextArena::Add(std::string_view text) {
    if (text.empty()) return static_cast<uint32_t>(m_end);
    const size_t within = m_end % kBlock;
    if (m_end / kBlock >= m_blocks.size() || within + text.size() > kBlock) {
        // A new block, at the next block position.
        const size_t start = within == 0 ? m_end : m_end - within + kBlock;
        const size_t size = std::max(kBlock, text.size());
        if (start + size > UINT32_MAX) return std::nullopt;
        m_blocks.resize(start / kBlock);
        m_blocks.push_back(std::make_unique_for_overwrite<char[]>(size));
        m_blocks.resize(start / kBlock + (size + kBlock - 1) / kBlock);
        m_end = start;
    }
    std::memcpy(m_blocks[m_end / kBlock].get() + m_end % kBlock, text.data(), text.size());
    const auto position = static_cast<uint32_t>(m_end);
    m_end += text.size();
    // After a text of a block of its own, the next text starts a new block.
    if (text.size() > kBlock) m_end = (m_end + kBlock - 1) / kBlock * kBlock;
    return position;
}

void LoadedList::Clear() { *this = LoadedList(); }

LoadedList::Record* LoadedList::Add(int kind, std::string_view name) {
    const auto position = m_names.Add(name);
    if (!position) return nullptr;
    Record& record = Records(kind).emplace_back();
    record.nameOffset = *position;
    record.nameLength = static_cast<uint32_t>(name.size());
    return &record;
}

uint32_t LoadedList::Text(std::string_view text) {
    if (text.empty()) return 0;
    for (const uint32_t recent : m_recentTexts)
        if (TextOf(recent) == text) return recent;
    const uint32_t number = m_texts.Number(text);
    m_recentTexts[m_nextRecent++ % m_recentTexts.size()] = number;
    return number;
}

LoadedList::View LoadedList::At(int kind, size_t index) const {
    const Record& r = Records(kind)[index];
    View view;
    view.Name = NameOf(r);
    view.TargetLib = TextOf(r.targetLib);
    if (kind == kSymbolRecord) view.UpgSymbolLib = TextOf(r.extra);
    if (kind == kDataFileRecord) view.FileType = TextOf(r.extra), view.TargetDir = TextOf(r.targetDir);
    view.Withheld = r.withheld;
    view.DestKind = r.destKind;
    return view;
}

void GridRowTable::Build(const LoadedList& list, const Environment& env) {
    m_list = &list;
    m_rows = {};
    m_dirs = {};
    m_types = {};
    m_dirs[kPartRecord] = m_dirs[kSymbolRecord] = m_dirs[kPackageRecord] = m_dirs[kMparamRecord] = env.LibDir;
    m_dirs[kSparamRecord] = env.ZSMmod;
    m_types[kPartRecord] = GetLocalMessage("Part file", 4466);
    m_types[kSymbolRecord] = GetLocalMessage("Symbol", 4467);
    m_types[kPackageRecord] = GetLocalMessage("Package", 4468);
    m_types[kSparamRecord] = GetLocalMessage("Spice Model Lib File", "");
    m_types[kMparamRecord] = GetLocalMessage("Mixed Mode Parameter Lib File", 4469);
    m_fileTypes = {GetLocalMessage("Thermal data file", 4454),
                   GetLocalMessage("Thermal analyzer file", 4455),
                   GetLocalMessage("Spice profile file", 4456),
                   "Spice subcircuit file",
                   GetLocalMessage("System file", 4458),
                   "Mixed Mode Parameter Lib File",
                   GetLocalMessage("Spice Model Lib File", 4457),
                   GetLocalMessage("Misc Lib file", 4459)};
    // Withheld SPARAM and MPARAM models and data files are not offered; the other kinds are. When
    // every record is offered, as in most lists, a row's record follows from the kinds' counts.
    auto offered = [](int kind, const LoadedList::Record& record) {
        const bool honourWithheld = kind == kSparamRecord || kind == kMparamRecord || kind == kDataFileRecord;
        return record.nameLength != 0 && !(honourWithheld && record.withheld == 1);
    };
    bool everyRecord = true;
    m_count = 0;
    for (size_t k = 0; k < kGridOrder.size(); ++k) {
        const int kind = kGridOrder[k];
        const BlockList<LoadedList::Record>& records = list.Records(kind);
        for (size_t i = 0; i < records.size() && everyRecord; ++i) everyRecord = offered(kind, records[i]);
        m_count += records.size();
        m_ends[k] = m_count;
    }
    if (everyRecord) return;
    m_rows.reserve(m_count);
    for (const int kind : kGridOrder) {
        const BlockList<LoadedList::Record>& records = list.Records(kind);
        for (size_t i = 0; i < records.size(); ++i)
            if (offered(kind, records[i]))
                m_rows.push_back(static_cast<uint32_t>(kind) << kKindShift | static_cast<uint32_t>(i));
    }
    m_count = m_rows.size();
}

void GridRowTable::Clear() {
    m_list = nullptr;
    m_rows = {};
    m_count = 0;
}

GridRow GridRowTable::operator[](size_t index) const {
    GridRow row;  // one object, filled in place: the rows of a large list are asked for often
    if (index >= m_count || m_list == nullptr) return row;
    int kind;
    size_t at;
    if (m_rows.empty()) {
        size_t k = 0;
        while (index >= m_ends[k]) ++k;
        kind = kGridOrder[k];
        at = index - (k == 0 ? 0 : m_ends[k - 1]);
    } else {
        kind = static_cast<int>(m_rows[index] >> kKindShift);
        at = m_rows[index] & kIndexMask;
    }
    if (at >= m_list->Count(kind)) return row;  // a list loaded since, before the rows are rebuilt
    const LoadedList::Record& record = m_list->Records(kind)[at];
    row.Name = m_list->NameOf(record);
    row.Kind = kind;
    if (kind == kDataFileRecord) {
        row.TargetDir = m_list->TextOf(record.targetDir);
        row.TargetLib = IsSubcircuitFile(row.Name) ? m_list->TextOf(record.targetLib) : row.TargetDir;
        const std::string_view listed = m_list->TextOf(record.extra);
        row.FileType = listed.empty() ? std::string_view(m_fileTypes[FileTypeIndex(row.Name)]) : listed;
    } else {
        row.TargetLib = m_list->TextOf(record.targetLib);
        row.TargetDir = m_dirs[static_cast<size_t>(kind)];
        row.FileType = m_types[static_cast<size_t>(kind)];
        if (kind == kSymbolRecord) row.UpgSymbolLib = m_list->TextOf(record.extra);
    }
    return row;
}

}  // namespace zrx
