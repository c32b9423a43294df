#include "base/text_utils.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <ctime>
#include <utility>

namespace zrx {

std::string TrimTrailingBlanks(std::string_view text) {
    const auto last = text.find_last_not_of(' ');
    return last == std::string_view::npos ? std::string() : std::string(text.substr(0, last + 1));
}

std::string_view TrimmedBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

std::string TrimBlanks(std::string_view text) {
    return std::string(TrimmedBlanks(text));
}

std::string OnOneLine(std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return text;
}

void MakeUpper(std::string& text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
}

std::string ToUpper(std::string_view text) {
    std::string result(text);
    MakeUpper(result);
    return result;
}

std::string ToLower(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return result;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
        if (x != y) return false;
    }
    return true;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

bool EndsWithIgnoreCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && EqualsIgnoreCase(text.substr(text.size() - suffix.size()), suffix);
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

std::string_view Right(std::string_view text, size_t count) {
    return count >= text.size() ? text : text.substr(text.size() - count);
}

std::string IntToText(int64_t value) {
    return std::to_string(value);
}

std::string StringFromPointer(const char* text) {
    if (text == nullptr) return {};
    size_t length = 0;
    while (length < kPointerTextLimit && text[length] != '\0') ++length;
    return std::string(text, length);
}

bool IsValidUtf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        size_t extra = 0;
        uint32_t min = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1, min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2, min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3, min = 0x10000;
        } else {
            return false;
        }
        if (i + extra >= text.size()) return false;
        uint32_t code = c & (0x3F >> extra);
        for (size_t k = 1; k <= extra; ++k) {
            const auto d = static_cast<unsigned char>(text[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            code = (code << 6) | (d & 0x3F);
        }
        if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += extra + 1;
    }
    return true;
}

std::string ToDisplayUtf8(std::string_view text) {
    if (IsValidUtf8(text)) return std::string(text);
    // Windows-1252 for 0x80-0x9F; the other bytes are Latin-1. Undefined positions map to U+FFFD.
    static constexpr uint16_t kHigh[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                           0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                           0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                           0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
    std::string out;
    out.reserve(text.size() * 2);
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        uint32_t code = c;
        if (c >= 0x80 && c < 0xA0) code = kHigh[c - 0x80];
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

std::string Printable(std::string_view text) {
    return ToDisplayUtf8(EscapeControls(text));
}

namespace {

// The code point of the UTF-8 sequence at the start of `text` and its length; length 0 when it is
// no valid sequence (a lone byte, an overlong form, a surrogate).
std::pair<uint32_t, size_t> CodePointAt(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    size_t length = 0;
    uint32_t code = 0;
    if (lead < 0x80) return {lead, 1};
    if (lead >= 0xc2 && lead <= 0xdf) length = 2, code = lead & 0x1f;
    else if (lead >= 0xe0 && lead <= 0xef) length = 3, code = lead & 0x0f;
    else if (lead >= 0xf0 && lead <= 0xf4) length = 4, code = lead & 0x07;
    if (length == 0 || text.size() < length) return {0, 0};
    for (size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[i]);
        if ((next & 0xc0) != 0x80) return {0, 0};
        code = (code << 6) | (next & 0x3f);
    }
    const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    if (overlong || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return {0, 0};
    return {code, length};
}

}  // namespace

bool IsReorderingMark(uint32_t code) {
    return code == 0x061c || code == 0x200e || code == 0x200f || (code >= 0x202a && code <= 0x202e) ||
           (code >= 0x2066 && code <= 0x2069);
}

bool HasReorderingMark(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        const auto [code, length] = CodePointAt(text.substr(i));
        if (length > 1 && IsReorderingMark(code)) return true;
        i += length == 0 ? 1 : length;
    }
    return false;
}

std::string EscapeControls(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        // A run of printable ASCII, most of any name, goes out as it is at once.
        size_t plain = i;
        while (plain < text.size() && static_cast<unsigned char>(text[plain]) - 32u < 95u) ++plain;
        if (plain > i) {
            out.append(text.substr(i, plain - i));
            i = plain;
            continue;
        }
        const auto u = static_cast<unsigned char>(text[i]);
        if (u < 32 || u == 127) {
            out += "\\x";
            out += kHex[u >> 4];
            out += kHex[u & 15];
            ++i;
            continue;
        }
        const auto [code, length] = u < 0x80 ? std::pair<uint32_t, size_t>{u, 1} : CodePointAt(text.substr(i));
        if (length > 1 && ((code >= 0x80 && code < 0xa0) || IsReorderingMark(code))) {
            out += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(code >> shift) & 15];
            i += length;
            continue;
        }
        out += text.substr(i, length == 0 ? 1 : length);
        i += length == 0 ? 1 : length;
    }
    return out;
}

std::string NowUtc() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

void WipeText(std::string& text) {
    text.resize(text.capacity());
    OPENSSL_cleanse(text.data(), text.size());
    text.clear();
}

}  // namespace zrx
