#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zrx {

// Blanks are the space character only: the texts of lists, INI files and captions are trimmed of
// spaces, never of tabs or other characters.
std::string TrimBlanks(std::string_view text);
// The same text without its leading and trailing blanks, as a view into it.
std::string_view TrimmedBlanks(std::string_view text);
std::string TrimTrailingBlanks(std::string_view text);
// The text with each CR and LF turned into a blank, for a line of a line-based file: a line break
// in it would start lines of its own.
std::string OnOneLine(std::string text);

// ASCII-only case mapping: texts are single-byte and may be in any code page, so only the
// letters A-Z/a-z are mapped and every other byte stays as it is.
std::string ToUpper(std::string_view text);
// The same in place (ASCII letters only, as ToUpper).
void MakeUpper(std::string& text);
// Overwrites a text that held a secret (a password, a secret key's file) with zeros, all of its
// buffer, and empties it.
void WipeText(std::string& text);
std::string ToLower(std::string_view text);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
bool EndsWith(std::string_view text, std::string_view suffix);
// Whether `text` ends in `suffix`, letters compared without regard to case.
bool EndsWithIgnoreCase(std::string_view text, std::string_view suffix);
bool StartsWith(std::string_view text, std::string_view prefix);

// The last `count` characters of a text (the whole text when it is shorter).
std::string_view Right(std::string_view text, size_t count);

// Decimal text of a number, plain, without leading zeros or blanks ("-5", "0", "12").
std::string IntToText(int64_t value);

// The longest text copied from a pointer returned by the kernel or the localisation library.
inline constexpr size_t kPointerTextLimit = 32767;

// Copies the NUL-terminated text at an address returned by a library at once; a null address is
// the empty text. Texts longer than kPointerTextLimit are cut.
std::string StringFromPointer(const char* text);

// Texts are single-byte: shown as UTF-8 when they are valid UTF-8, otherwise read as Windows-1252.
std::string ToDisplayUtf8(std::string_view text);
bool IsValidUtf8(std::string_view text);

// Whether a code point is a mark that reorders the text around it (the bidirectional controls: a
// name with one can read as another, "\u202eLAT.exe" as "exe.TAL").
bool IsReorderingMark(uint32_t code);
// Whether UTF-8 text holds such a mark.
bool HasReorderingMark(std::string_view text);

// A text for a message: control characters written as \xNN so that they can be seen.
std::string Printable(std::string_view text);
// The same, its bytes otherwise as they are: for a line of a table, which a name must not break
// (a tab, a line end) nor use to drive the terminal (an escape sequence, or a C1 control) or to
// reorder what follows it (written as \uNNNN).
std::string EscapeControls(std::string_view text);

// The current time, UTC, as ISO 8601 ("2026-12-08T00:12:25Z").
std::string NowUtc();

}  // namespace zrx
