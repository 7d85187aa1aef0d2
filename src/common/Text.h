#pragma once
// Small text helpers shared by the protocol and the window logic.

#include <string>

// The text without leading and trailing blanks (tabs and other white space
// are kept: servers and users mean them).
inline std::string TrimBlanks(const std::string& s)
{
    const size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos)
        return {};
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}
