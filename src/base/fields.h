#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zrx {

// The fields of one split line. Fields are numbered from 1 as in the list and index formats;
// `Field(0)` is the empty text, and so is any number beyond the count, so callers that need a
// field must check `Count()` first. `Value(i)` is the single-precision value of field i as
// `FieldValue` reads it, and `Value(0)` is the field count.
class FieldList {
public:
    int Count() const { return static_cast<int>(m_count); }
    bool Has(int number) const { return number >= 1 && number <= Count(); }
    // A view into the list, valid until the list is split into again or goes away.
    std::string_view Field(int number) const;
    float Value(int number) const;

private:
    friend void SplitInto(std::string_view text, char separator, FieldList& fields);
    struct Range {
        size_t offset, length;
    };
    void Append(size_t offset, size_t length);

    // The split text and where each field lies in it; the storage is kept from split to split, so
    // that a reader splitting line after line into one list allocates nothing after the longest.
    std::string m_text;
    std::vector<Range> m_fields;  // the first m_count are the fields
    size_t m_count = 0;
    // Values are worked out when first asked for: readers need few of them.
    mutable std::vector<float> m_values;
    mutable std::vector<char> m_known;
};

// The fields of a line that holds no double quote, as views into the line (which must outlive
// them): the split SplitInto makes of such a line, without copying it, for readers of many lines.
// Fields past the first kReadable read as empty; Count() counts them all.
class PlainFieldList {
public:
    static constexpr int kReadable = 8;
    // False (and nothing split) when the text holds a double quote: it needs SplitInto.
    bool Split(std::string_view text, char separator);
    int Count() const { return m_count; }
    std::string_view Field(int number) const {
        return number >= 1 && number <= std::min(m_count, kReadable)
                   ? m_fields[static_cast<size_t>(number - 1)]
                   : std::string_view();
    }
    float Value(int number) const;

private:
    std::string_view m_fields[kReadable];
    int m_count = 0;
};

// Splits a line at commas (or vertical bars). A field that opens with a double quote (unless the
// quote is the last character) runs to the next double quote; the quotes are dropped and exactly
// one character after the closing quote is skipped, whatever it is. A quote that is never closed
// takes the rest of the text as the last field. Fields are not trimmed.
FieldList SplitByComma(std::string_view text);
FieldList SplitByBar(std::string_view text);
FieldList SplitBySeparator(std::string_view text, char separator);
// The same split into a list that is reused from line to line.
void SplitInto(std::string_view text, char separator, FieldList& fields);
// Field `number` of a text as SplitBySeparator gives it, found without building the list, for
// readers that need one field of many lines. Nothing when the text holds a double quote: such a
// text needs the full split.
std::optional<std::string_view> PlainField(std::string_view text, char separator, int number);

// The value of a field: 0 for an empty text; otherwise the first comma becomes a decimal point and
// the leading number is taken (blanks before and inside it skipped; digits, one decimal point,
// an exponent introduced by E or D; a sign in front). A text without a leading number is 0.
double FieldValue(std::string_view text);

// The leading number of a text as the list readers take fields 2 and 3: like FieldValue, except
// that a comma is not a decimal point but ends the number.
double LeadingNumber(std::string_view text);

// RoundHalfEven for the values that are not whole numbers in range.
std::optional<int32_t> RoundHalfEvenOutOfLine(double value);

// Rounds to the nearest whole number, halves to even (2.5 -> 2, 3.5 -> 4, -0.5 -> 0). A value
// that does not fit into 32 bits (or is not a number) has no result. Defined here so that the
// whole numbers that list fields nearly always are cost a comparison at the caller.
inline std::optional<int32_t> RoundHalfEven(double value) {
    if (value >= -2147483648.0 && value <= 2147483647.0 &&
        value == static_cast<double>(static_cast<int32_t>(value)))
        return static_cast<int32_t>(value);
    return RoundHalfEvenOutOfLine(value);
}

// The leading number of a text rounded halves-to-even, as the list readers keep fields 2 and 3.
inline std::optional<int32_t> LeadingInteger(std::string_view text) {
    return RoundHalfEven(LeadingNumber(text));
}

}  // namespace zrx
