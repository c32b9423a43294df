#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zrx {

// A hash set of numbers (of lines, of texts) searched by the text each number stands for. A member
// costs a few bytes where a set of strings would hold a copy of every text. `keyOf(id)` gives the
// text of member `id`; the caller keeps those texts.
class TextKeyedSet {
public:
    static constexpr uint32_t kNone = UINT32_MAX;

    // Empties the set, with room for `expected` members before it grows.
    void Clear(size_t expected = 0) {
        size_t room = 64;
        while (room < 2 * (expected + 1)) room *= 2;
        m_slots.assign(room, Slot{});
        m_count = 0;
    }

    // The member whose text is `text`, or kNone.
    template <typename KeyOf>
    uint32_t Find(std::string_view text, const KeyOf& keyOf) const {
        if (m_slots.empty()) return kNone;
        const size_t hash = Hash(text), mask = m_slots.size() - 1;
        for (size_t slot = hash & mask;; slot = (slot + 1) & mask)
            if (m_slots[slot].id == kNone || Holds(m_slots[slot], hash, text, keyOf)) return m_slots[slot].id;
    }

    // Adds `id` unless a member with the same text is there already.
    template <typename KeyOf>
    void Insert(uint32_t id, const KeyOf& keyOf) {
        FindOrAdd(keyOf(id), keyOf, [id] { return id; });
    }

    // The same for many members at once (`ids`, in their order). A large set's slots are far
    // apart in memory: each one is asked for a few members ahead of its use, so that the waits
    // for memory overlap instead of following one another.
    template <typename KeyOf>
    void InsertAll(const std::vector<uint32_t>& ids, const KeyOf& keyOf) {
        constexpr size_t kAhead = 8;
        if (2 * (m_count + ids.size() + 1) > m_slots.size()) Reserve(m_count + ids.size(), keyOf);
        std::vector<size_t> hashes(ids.size());
        for (size_t i = 0; i < ids.size(); ++i) hashes[i] = Hash(keyOf(ids[i]));
        const size_t mask = m_slots.size() - 1;
        for (size_t i = 0; i < ids.size(); ++i) {
            if (i + kAhead < ids.size()) __builtin_prefetch(&m_slots[hashes[i + kAhead] & mask]);
            const uint32_t id = ids[i];
            Place(hashes[i], keyOf(id), keyOf, [id] { return id; });
        }
    }

    // The member whose text is `text`; when there is none, `add()` makes one with that text, and
    // it joins the set. One search either way.
    template <typename KeyOf, typename Add>
    uint32_t FindOrAdd(std::string_view text, const KeyOf& keyOf, const Add& add) {
        if (2 * (m_count + 1) > m_slots.size()) Reserve(2 * m_count + 1, keyOf);
        return Place(Hash(text), text, keyOf, add);
    }

private:
    // A member and bits of its text's hash that the slot's place does not give: a search passes
    // other members without looking at their texts, which lie elsewhere in memory.
    struct Slot {
        uint32_t id = kNone;
        uint32_t tag = 0;
    };

    // FindOrAdd with the text's hash worked out, in a set with room for one more.
    template <typename KeyOf, typename Add>
    uint32_t Place(size_t hash, std::string_view text, const KeyOf& keyOf, const Add& add) {
        const size_t mask = m_slots.size() - 1;
        for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
            Slot& at = m_slots[slot];
            if (at.id == kNone) {
                at = Slot{add(), Tag(hash)};
                ++m_count;
                return at.id;
            }
            if (Holds(at, hash, text, keyOf)) return at.id;
        }
    }

    static size_t Hash(std::string_view text) { return std::hash<std::string_view>{}(text); }
    static uint32_t Tag(size_t hash) { return static_cast<uint32_t>(hash >> 32); }

    template <typename KeyOf>
    static bool Holds(const Slot& slot, size_t hash, std::string_view text, const KeyOf& keyOf) {
        return slot.tag == Tag(hash) && keyOf(slot.id) == text;
    }

    // Room for `expected` members, those of the set kept.
    template <typename KeyOf>
    void Reserve(size_t expected, const KeyOf& keyOf) {
        std::vector<Slot> old;
        old.swap(m_slots);
        const size_t count = m_count;
        Clear(std::max(expected, count));
        for (const Slot& kept : old)
            if (kept.id != kNone) Insert(kept.id, keyOf);
    }

    std::vector<Slot> m_slots;  // a power of two of them, at most half in use
    size_t m_count = 0;
};

// Texts kept once each, one after another in one buffer, and numbered; number 0 is the empty
// text. Cells of a grid and records of a loaded list repeat a few texts (directories, libraries,
// file types) thousands of times: each costs a number instead of a string.
class TextTable {
public:
    // The number of `text`, added when it is new.
    uint32_t Number(std::string_view text) {
        if (text.empty()) return 0;
        return m_numbers.FindOrAdd(
            text, [this](uint32_t number) { return At(number); },
            [this, text] {
                m_spans.push_back(Span{m_buffer.size(), text.size()});
                m_buffer.append(text);
                return static_cast<uint32_t>(m_spans.size() - 1);
            });
    }
    std::string_view At(uint32_t number) const {
        const Span span = m_spans[number];
        return std::string_view(m_buffer).substr(span.offset, span.length);
    }
    // How many texts are numbered, the empty one included.
    size_t size() const { return m_spans.size(); }
    // Forgets every text, with room for `expected` before the search grows.
    void Clear(size_t expected = 0) {
        m_buffer.clear();
        m_spans.assign(1, Span{0, 0});
        m_numbers.Clear(expected);
    }

private:
    struct Span {
        size_t offset;
        size_t length;
    };
    std::string m_buffer;
    std::vector<Span> m_spans = {Span{0, 0}};
    TextKeyedSet m_numbers;
};

}  // namespace zrx
