#include "trust/manifest.h"

#include <algorithm>
#include <cctype>

#include "base/directory.h"
#include "base/text_utils.h"

namespace zrx::trust {

namespace {

bool IsHexDigest(std::string_view text) {
    return text.size() == 64 &&
           std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

// A name as sha256sum reads it from an escaped line: "\\" for a backslash, "\n" and "\r" for the
// line breaks; nothing for any other escape.
std::optional<std::string> Unescape(std::string_view name) {
    std::string plain;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] != '\\') {
            plain += name[i];
            continue;
        }
        if (++i == name.size()) return std::nullopt;
        switch (name[i]) {
            case '\\': plain += '\\'; break;
            case 'n': plain += '\n'; break;
            case 'r': plain += '\r'; break;
            default: return std::nullopt;
        }
    }
    return plain;
}

}  // namespace

std::string ManifestText(std::vector<ManifestEntry> entries) {
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    std::string text;
    for (const ManifestEntry& entry : entries) {
        // A carriage return is escaped as well: a reader takes one before the line break as part of
        // a CRLF ending, so a name ending in one would not come back.
        const bool escaped = entry.name.find_first_of("\\\n\r") != std::string::npos;
        std::string name;
        for (const char c : entry.name) {
            if (c == '\\') name += "\\\\";
            else if (c == '\n') name += "\\n";
            else if (c == '\r') name += "\\r";
            else name += c;
        }
        text.append(escaped ? "\\" : "").append(ToLower(entry.digest)).append("  ").append(name).append("\n");
    }
    return text;
}

Result<std::map<std::string, std::string>> ReadManifest(std::string_view text) {
    if (text.size() > kMaxManifestBytes) return Failure{"it is larger than any manifest of an upgrade"};
    std::map<std::string, std::string> digests;
    size_t number = 0;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const auto fail = [&](const std::string& what) {
            return Failure{"line " + std::to_string(number) + " " + what};
        };
        if (line.empty()) continue;  // a blank line, as editors leave at the end, names nothing
        const bool escaped = line.front() == '\\';
        if (escaped) line.remove_prefix(1);
        // "SHA256 (<name>) = <digest>", as sha256sum --tag writes it (and checks it).
        if (line.starts_with("SHA256 (")) {
            const size_t close = line.rfind(") = ");
            if (close == std::string_view::npos || close < 8 || line.size() != close + 4 + 64 ||
                !IsHexDigest(line.substr(close + 4)))
                return fail("is not \"SHA256 (<file name>) = <SHA-256 digest>\"");
            std::optional<std::string> name =
                escaped ? Unescape(line.substr(8, close - 8)) : std::string(line.substr(8, close - 8));
            if (!name) return fail("holds an escape sha256sum does not write");
            while (name->starts_with("./")) name->erase(0, 2);
            if (!IsPlainComponent(*name))
                return fail("names \"" + Printable(*name) + "\", which is not a plain file name");
            if (!digests.emplace(*name, ToLower(line.substr(close + 4))).second)
                return fail("names \"" + Printable(*name) + "\" a second time");
            continue;
        }
        // "<digest>  <name>" for text mode, "<digest> *<name>" for binary mode: the same bytes here.
        if (line.size() < 67 || !IsHexDigest(line.substr(0, 64)) || line[64] != ' ' ||
            (line[65] != ' ' && line[65] != '*'))
            return fail("is not \"<SHA-256 digest>  <file name>\"");
        std::optional<std::string> name = escaped ? Unescape(line.substr(66)) : std::string(line.substr(66));
        if (!name) return fail("holds an escape sha256sum does not write");
        // "./name", as sha256sum writes a name given so, is the file of the folder itself.
        while (name->starts_with("./")) name->erase(0, 2);
        if (!IsPlainComponent(*name)) return fail("names \"" + Printable(*name) + "\", which is not a plain file name");
        if (!digests.emplace(*name, ToLower(line.substr(0, 64))).second)
            return fail("names \"" + Printable(*name) + "\" a second time");
    }
    return digests;
}

}  // namespace zrx::trust
