#pragma once

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
        m_slots.assign(room, kNone);
        m_count = 0;
    }

    // The member whose text is `text`, or kNone.
    template <typename KeyOf>
    uint32_t Find(std::string_view text, const KeyOf& keyOf) const {
        if (m_slots.empty()) return kNone;
        const size_t mask = m_slots.size() - 1;
        for (size_t slot = std::hash<std::string_view>{}(text)&mask;; slot = (slot + 1) & mask)
            if (m_slots[slot] == kNone || keyOf(m_slots[slot]) == text) return m_slots[slot];
    }

    // Adds `id` unless a member with the same text is there already.
    template <typename KeyOf>
    void Insert(uint32_t id, const KeyOf& keyOf) {
        FindOrAdd(keyOf(id), keyOf, [id] { return id; });
    }

    // The member whose text is `text`; when there is none, `add()` makes one with that text, and
    // it joins the set. One search either way.
    template <typename KeyOf, typename Add>
    uint32_t FindOrAdd(std::string_view text, const KeyOf& keyOf, const Add& add) {
        if (2 * (m_count + 1) > m_slots.size()) Grow(keyOf);
        const size_t mask = m_slots.size() - 1;
        for (size_t slot = std::hash<std::string_view>{}(text)&mask;; slot = (slot + 1) & mask) {
            if (m_slots[slot] == kNone) {
                m_slots[slot] = add();
                ++m_count;
                return m_slots[slot];
            }
            if (keyOf(m_slots[slot]) == text) return m_slots[slot];
        }
    }

private:
    template <typename KeyOf>
    void Grow(const KeyOf& keyOf) {
        std::vector<uint32_t> old;
        old.swap(m_slots);
        Clear(2 * m_count + 1);
        for (const uint32_t kept : old)
            if (kept != kNone) Insert(kept, keyOf);
    }

    std::vector<uint32_t> m_slots;  // a power of two of them, at most half in use
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
