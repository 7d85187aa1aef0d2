#pragma once
// Small text helpers shared by the protocol and the window logic.

#include <string>
#include <string_view>

// The text without leading and trailing blanks (tabs and other white space
// are kept: servers and users mean them).
inline std::string_view TrimBlanksView(std::string_view s)
{
    const size_t b = s.find_first_not_of(' ');
    if (b == std::string_view::npos)
        return {};
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

inline std::string TrimBlanks(const std::string& s)
{
    return std::string(TrimBlanksView(s));
}

// ASCII letters only: keys, keywords and extensions, never user text.
inline std::string AsciiLower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

inline std::string AsciiUpper(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

// A line of a text file without blanks and tabs at either end, nor the CR of
// a CR LF line end.
inline std::string_view TrimLine(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}
