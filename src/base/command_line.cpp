#include "base/command_line.h"

#include "base/text_utils.h"

namespace zrx {

std::string NextCommandToken(std::string& text, int16_t& error) {
    error = -1;
    text = TrimBlanks(text);
    // Positions are 16-bit in the command-line format; a longer text cannot be tokenised.
    if (text.size() >= 32768) return {};

    std::string token;
    if (text.empty() || text[0] != '"') {
        const size_t end = text.find_first_of(" /\"");
        if (end == std::string::npos) {
            token = text;
            text.clear();
        } else {
            token = text.substr(0, end);
            text = text.substr(end);
        }
    } else {
        const size_t close = text.find('"', 1);
        if (close == std::string::npos) return {};
        token = text.substr(1, close - 1);
        text = text.substr(close + 1);
    }
    token = TrimBlanks(token);
    if (token.empty()) return {};
    error = 0;
    text = TrimBlanks(text);
    return token;
}

}  // namespace zrx
