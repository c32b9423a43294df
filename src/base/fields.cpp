#include "base/fields.h"

#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace zrx {

namespace {

bool IsNumberBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Reads the leading number of a text: blanks anywhere are passed over, then an optional sign,
// digits with at most one decimal point, and an optional exponent (E, e, D or d, an optional sign,
// digits). Reading stops at the first character that cannot continue the number.
// Whether a character ends a number (nothing after it can belong to the number).
bool EndsNumber(char c) {
    return !(c >= '0' && c <= '9') && c != '.' && !IsNumberBlank(c) && c != 'E' && c != 'e' && c != 'D' &&
           c != 'd';
}

double ParseLeadingNumber(std::string_view text) {
    // Most numbers in lists are a few digits standing alone; those are read here directly (a whole
    // number of up to 15 digits is exact in a double).
    {
        size_t i = text.empty() || (text[0] != '-' && text[0] != '+') ? 0 : 1;
        uint64_t whole = 0;
        const size_t first = i;
        while (i < text.size() && i - first < 15 && text[i] >= '0' && text[i] <= '9')
            whole = whole * 10 + static_cast<uint64_t>(text[i++] - '0');
        if (i > first && (i == text.size() || EndsNumber(text[i]))) {
            const auto value = static_cast<double>(whole);
            return text[0] == '-' ? -value : value;
        }
    }
    std::string number;
    size_t i = 0;
    auto skipBlanks = [&] {
        while (i < text.size() && IsNumberBlank(text[i])) ++i;
    };
    skipBlanks();
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        number += text[i++];
        skipBlanks();
    }
    bool digits = false;
    bool point = false;
    while (i < text.size()) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            number += c;
            digits = true;
        } else if (c == '.' && !point) {
            number += c;
            point = true;
        } else if (!IsNumberBlank(c)) {
            break;
        }
        ++i;
    }
    if (!digits) return 0.0;
    if (i < text.size() && (text[i] == 'E' || text[i] == 'e' || text[i] == 'D' || text[i] == 'd')) {
        size_t j = i + 1;
        std::string exponent = "e";
        while (j < text.size() && IsNumberBlank(text[j])) ++j;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) exponent += text[j++];
        bool expDigits = false;
        while (j < text.size()) {
            const char c = text[j];
            if (c >= '0' && c <= '9') {
                exponent += c;
                expDigits = true;
            } else if (!IsNumberBlank(c)) {
                break;
            }
            ++j;
        }
        if (expDigits) number += exponent;
    }
    return std::strtod(number.c_str(), nullptr);
}

}  // namespace

std::string_view FieldList::Field(int number) const {
    if (!Has(number)) return {};
    const Range range = m_fields[static_cast<size_t>(number - 1)];
    return std::string_view(m_text).substr(range.offset, range.length);
}

float FieldList::Value(int number) const {
    if (number == 0) return static_cast<float>(Count());
    if (!Has(number)) return 0.0f;
    const auto i = static_cast<size_t>(number - 1);
    if (m_known.size() < m_count) {
        m_known.resize(m_count, 0);
        m_values.resize(m_count, 0.0f);
    }
    if (!m_known[i]) {
        m_values[i] = static_cast<float>(FieldValue(Field(number)));
        m_known[i] = 1;
    }
    return m_values[i];
}

void FieldList::Append(size_t offset, size_t length) {
    if (m_count == m_fields.size()) m_fields.emplace_back();
    m_fields[m_count] = Range{offset, length};
    if (m_count < m_known.size()) m_known[m_count] = 0;
    ++m_count;
}

FieldList SplitBySeparator(std::string_view text, char separator) {
    FieldList fields;
    SplitInto(text, separator, fields);
    return fields;
}

void SplitInto(std::string_view text, char separator, FieldList& fields) {
    fields.m_count = 0;
    fields.m_text.assign(text);
    const size_t length = text.size();
    size_t p = 0;  // scan position, counted from 0
    for (;;) {
        if (p < length && text[p] == '"' && p + 1 < length) {
            const size_t close = text.find('"', p + 1);
            if (close == std::string_view::npos) {
                // An unclosed quote: the rest of the text is the last field.
                fields.Append(p + 1, length - p - 1);
                return;
            }
            fields.Append(p + 1, close - p - 1);
            p = close + 2;  // one character after the closing quote is skipped
            if (p >= length) return;
            continue;
        }
        const size_t sep = p < length ? text.find(separator, p) : std::string_view::npos;
        if (sep == std::string_view::npos) {
            fields.Append(std::min(p, length), p < length ? length - p : 0);
            return;
        }
        fields.Append(p, sep - p);
        p = sep + 1;
        if (p >= length) {
            fields.Append(length, 0);
            return;
        }
    }
}

std::optional<std::string_view> PlainField(std::string_view text, char separator, int number) {
    if (text.find('"') != std::string_view::npos) return std::nullopt;
    if (number < 1) return std::string_view();
    size_t start = 0;
    for (int field = 1; field < number; ++field) {
        const size_t sep = text.find(separator, start);
        if (sep == std::string_view::npos) return std::string_view();
        start = sep + 1;
    }
    return text.substr(start, text.find(separator, start) - start);
}

namespace {

// The bytes of an 8-byte word that equal `byte`, as the high bit of each such byte.
inline uint64_t BytesEqual(uint64_t word, char byte) {
    constexpr uint64_t kLow = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
    const uint64_t x = word ^ (kLow * static_cast<unsigned char>(byte));
    return (~x & ~((x | kHigh) - kLow)) & kHigh;  // exact: no byte is reported that does not match
}

}  // namespace

bool PlainFieldList::Split(std::string_view text, char separator) {
    // Eight characters at a time: list lines are short, and a search call per field costs more
    // than the line's length.
    m_count = 0;
    size_t start = 0;
    auto separatorAt = [&](size_t i) {
        if (m_count < kReadable) m_fields[m_count] = text.substr(start, i - start);
        ++m_count;
        start = i + 1;
    };
    size_t i = 0;
    // The word's low byte is the first in memory on little-endian machines; elsewhere the bytes
    // are looked at one by one.
    for (; std::endian::native == std::endian::little && i + 8 <= text.size(); i += 8) {
        uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        if (BytesEqual(word, '"') != 0) return false;
        for (uint64_t found = BytesEqual(word, separator); found != 0; found &= found - 1)
            separatorAt(i + static_cast<size_t>(std::countr_zero(found)) / 8);
    }
    for (; i < text.size(); ++i) {
        if (text[i] == '"') return false;
        if (text[i] == separator) separatorAt(i);
    }
    if (m_count < kReadable) m_fields[m_count] = text.substr(start);
    ++m_count;
    return true;
}

float PlainFieldList::Value(int number) const {
    if (number == 0) return static_cast<float>(Count());
    return static_cast<float>(FieldValue(Field(number)));
}

FieldList SplitByComma(std::string_view text) {
    return SplitBySeparator(text, ',');
}
FieldList SplitByBar(std::string_view text) {
    return SplitBySeparator(text, '|');
}

double FieldValue(std::string_view text) {
    if (text.empty()) return 0.0;
    const auto comma = text.find(',');
    if (comma == std::string_view::npos) return ParseLeadingNumber(text);
    std::string copy(text);
    copy[comma] = '.';
    return ParseLeadingNumber(copy);
}

double LeadingNumber(std::string_view text) {
    return ParseLeadingNumber(text);
}

std::optional<int32_t> RoundHalfEvenOutOfLine(double value) {
    if (!std::isfinite(value)) return std::nullopt;
    const double rounded = std::nearbyint(value);  // the default rounding mode rounds halves to even
    if (rounded < static_cast<double>(std::numeric_limits<int32_t>::min()) ||
        rounded > static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::nullopt;
    return static_cast<int32_t>(rounded);
}

}  // namespace zrx
