#pragma once

#include <string>
#include <string_view>

// Text helpers of the calculator: it reads UTF-8 and works on code points.
namespace ZQText {

// Invalid or truncated sequences become U+FFFD, one per bad byte.
std::u32string decodeUtf8(std::string_view text);
std::string encodeUtf8(std::u32string_view text);
void appendUtf8(std::string& out, char32_t c);

// White space and line breaks: Unicode Zs, Zl, Zp, U+0009..U+000D and U+0085.
bool isWhitespace(char32_t c);
inline bool isDigit(char32_t c)
{
    return c >= U'0' && c <= U'9';
}

// Simple lower-case mapping for ASCII, Latin-1, Latin Extended-A, Greek and
// Cyrillic; other characters are left as they are.
char32_t toLower(char32_t c);
std::u32string toLower(std::u32string_view text);
std::string toLower(std::string_view utf8);

} // namespace ZQText
