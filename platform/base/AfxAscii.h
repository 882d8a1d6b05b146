// ASCII case folding and case-insensitive comparison, the one copy for the whole program. Only
// the letters A to Z and a to z fold, whatever the locale: the C library's tolower follows the
// locale and may change bytes above 0x7F. Two families:
// - the Ascii calls fold every byte: for text that is ASCII or UTF-8 (protocol words, header,
//   element and encoding names, file extensions), where no byte above 0x7F is part of a letter;
// - the Ansi calls read text in the ANSI code page and step over a double-byte character whole,
//   because its trail byte (0x40 to 0xFE) may look like a letter ("\xB0\x41" is not "\xB0\x61").
// Every call is a pure function of its arguments, safe on any thread.
#pragma once

#include <string>
#include <string_view>

constexpr char AfxAsciiToLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
constexpr char AfxAsciiToUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string AfxAsciiLower(std::string_view s);
bool AfxAsciiEqualNoCase(std::string_view a, std::string_view b);
// True when s begins with prefix, letters folded.
bool AfxAsciiStartsNoCase(std::string_view s, std::string_view prefix);

std::string AfxAnsiLower(std::string_view s);
std::string AfxAnsiUpper(std::string_view s);
// Negative, zero or positive as strcmp of the two texts with their single-byte letters folded to
// lower case; NULL reads as "".
int AfxAnsiCompareNoCase(const char* a, const char* b);
inline bool AfxEqualNoCaseAnsi(const char* a, const char* b) {
    return AfxAnsiCompareNoCase(a, b) == 0;
}
