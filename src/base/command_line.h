#pragma once

#include <cstdint>
#include <string>

namespace zrx {

// Takes the first token of a command line. The text is trimmed; a token that does not open with
// a double quote runs up to the first blank, "/" or double quote, and the text keeps what follows
// from there on; a quoted token runs to the closing quote, and the text keeps what follows the
// quote. The token is trimmed. On success `error` is 0 and the remaining text is trimmed; an empty
// token, an unclosed quote or a text of 32768 characters or more gives error -1 and "".
std::string NextCommandToken(std::string& text, int16_t& error);

}  // namespace zrx
