#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zrx {

// Values read from an INI file are cut to this many characters, which holds any path and any list
// line; nothing longer is ever copied.
inline constexpr size_t kIniBufferSize = 32767;

// Reads one value of a private-profile INI file: section and key names compared without regard to
// case, the first matching key wins, blanks around names and values removed, a value enclosed in
// one pair of double (or single) quotes loses them, lines starting with ";" are comments, CR LF and
// LF both end a line. A missing file, section or key gives the default. No other trimming is done.
std::string ReadIniString(const std::string& iniFile, std::string_view section, std::string_view key,
                          std::string_view defaultValue);

}  // namespace zrx
