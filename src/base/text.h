#pragma once

// Text helpers every reader shares.

#include <cctype>
#include <cstring>
#include <string>

// `text` without the white space around it, as readers compare names and numbers.
inline std::string trimmedText(const char* text) {
    const char* begin = text;
    while (*begin != '\0' && std::isspace(static_cast<unsigned char>(*begin))) {
        ++begin;
    }
    const char* end = begin + std::strlen(begin);
    while (end > begin && std::isspace(static_cast<unsigned char>(end[-1]))) {
        --end;
    }
    return std::string(begin, end);
}
