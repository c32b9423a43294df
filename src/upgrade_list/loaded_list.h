#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/text_keyed_set.h"
#include "upgrade_list/list_format.h"

namespace zrx {

struct Environment;

// Texts kept one after another in blocks that never move, each text whole in one block, so that a
// text can be referred to by a 32-bit position and its bytes stay where they are while more are
// added. The blocks fill up one by one instead of the whole growing and being copied again.
class TextArena {
public:
    // The position of a copy of `text`; nothing when the arena cannot address more.
    std::optional<uint32_t> Add(std::string_view text);
    std::string_view At(uint32_t position, uint32_t length) const {
        if (length == 0) return {};
        return std::string_view(m_blocks[position / kBlock].get() + position % kBlock, length);
    }

private:
    static constexpr size_t kBlock = size_t{1} << 18;
    // A text longer than a block has a block of its own, which starts at a block's position and
    // takes up as many positions as it holds (the entries after it stay empty).
    std::vector<std::unique_ptr<char[]>> m_blocks;
    size_t m_end = 0;  // the position after the last text
};

// A list that grows at its end in blocks of a fixed number of items, which never move: no copy of
// the whole as it grows, no room kept for twice its size, and an item found by two shifts.
template <typename Item>
class BlockList {
public:
    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    Item& operator[](size_t index) { return m_blocks[index >> kShift][index & kMask]; }
    const Item& operator[](size_t index) const { return m_blocks[index >> kShift][index & kMask]; }
    Item& emplace_back() {
        if ((m_size & kMask) == 0) m_blocks.push_back(std::make_unique<Item[]>(size_t{1} << kShift));
        return (*this)[m_size++];
    }

private:
    static constexpr unsigned kShift = 10;
    static constexpr size_t kMask = (size_t{1} << kShift) - 1;
    std::vector<std::unique_ptr<Item[]>> m_blocks;
    size_t m_size = 0;
};

// The records of a loaded upgrade list, per kind (its record type) and in the list's order, held
// compactly: a list of a hundred thousand records costs about what its file does. Names are kept
// one after another in an arena; the texts that records repeat (libraries, directories, file
// types) are kept once each and referred to by number. Records are added at the end without
// moving the others.
class LoadedList {
public:
    struct Record {
        uint32_t nameOffset = 0;
        uint32_t nameLength = 0;
        uint32_t targetLib = 0;  // an element's target library; a subcircuit file's subdirectory
        uint32_t extra = 0;      // a symbol's upgrade library; a data file's listed file type (trimmed)
        uint32_t targetDir = 0;  // a data file's target directory
        int32_t withheld = 0;
        int32_t destKind = 0;
        uint32_t line = 0;   // its line in the list, from 1
        uint8_t fields = 0;  // how many fields its line has (255 for more)
    };

    // A record with its texts.
    struct View {
        std::string_view Name, TargetLib, UpgSymbolLib, FileType, TargetDir;
        int32_t Withheld = 0, DestKind = 0;
    };

    void Clear();
    // A new record of a kind; nothing when the list cannot hold more text.
    Record* Add(int kind, std::string_view name);
    // The number of a repeated text (0 is the empty text).
    uint32_t Text(std::string_view text);

    size_t Count(int kind) const { return Records(kind).size(); }
    const BlockList<Record>& Records(int kind) const { return m_records[Slot(kind)]; }
    BlockList<Record>& Records(int kind) { return m_records[Slot(kind)]; }
    std::string_view NameOf(const Record& record) const { return m_names.At(record.nameOffset, record.nameLength); }
    std::string_view TextOf(uint32_t number) const { return m_texts.At(number); }
    // The texts stay where they are until the next Add or Text.
    View At(int kind, size_t index) const;

private:
    static size_t Slot(int kind) {
        return kind >= kPartRecord && kind <= kMparamRecord ? static_cast<size_t>(kind) : 0;
    }

    TextArena m_names;
    TextTable m_texts;
    // The texts asked for last: records repeat the texts of the one before more often than not.
    std::array<uint32_t, 4> m_recentTexts{};
    size_t m_nextRecent = 0;
    std::array<BlockList<Record>, 7> m_records;  // by kind; slot 0 unused
};

// One row of the selection grid as its cells and the run see it. The texts belong to the loaded
// list and the grid's rows.
struct GridRow {
    std::string_view Name, TargetLib, TargetDir;
    int32_t Kind = 0;
    std::string_view FileType, UpgSymbolLib;
};

// The rows the selection grid offers, in grid order (parts, symbols, packages, SPARAM and MPARAM
// models, data files; withheld records left out), followed by one empty row. A row refers to its
// record of the loaded list; its texts are worked out when asked.
class GridRowTable {
public:
    // Rebuilds the rows from a loaded list; element rows take their directory from `env` and the
    // file types in the user's language as they are now.
    void Build(const LoadedList& list, const Environment& env);
    void Clear();
    // The offered rows and the empty one after them.
    size_t size() const { return m_count + 1; }
    GridRow operator[](size_t index) const;

private:
    const LoadedList* m_list = nullptr;
    size_t m_count = 0;
    // Where some records are not offered, each row's kind (in the top three bits) and record;
    // where all are, nothing, and the rows of each kind end at m_ends (in the grid's order).
    std::vector<uint32_t> m_rows;
    std::array<size_t, 6> m_ends{};
    std::array<std::string, 7> m_dirs, m_types;  // per element kind
    std::array<std::string, 8> m_fileTypes;      // data files without a listed type, by ending
};

}  // namespace zrx
