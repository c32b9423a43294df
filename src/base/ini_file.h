#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zrx {

// Values read from an INI file are cut to this many characters, which holds any path and any list
// line; nothing longer is ever copied.
inline constexpr size_t kIniBufferSize = 32767;

// Reads one value of a private-profile INI file as the platform's reader does: lines end at CR, LF
// or both; section and key names are compared without regard to case; only the first section of
// the name counts, and in it the first line of the key; names and values lose surrounding blanks
// (space, tab, vertical tab, form feed); a value enclosed in one pair of double (or single) quotes
// loses them; lines starting with ";" are comments; a section name ends at its first "]". A file
// with the UTF-16 little-endian byte-order mark is read as UTF-16 (into UTF-8). A missing file,
// section or key, or a key line without "=", gives the default without its trailing blanks.
std::string ReadIniString(const std::string& iniFile, std::string_view section, std::string_view key,
                          std::string_view defaultValue);

}  // namespace zrx
