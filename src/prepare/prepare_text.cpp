#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "base/text.h"
#include "prepare/prepare_stages.h"

// Small text helpers of the preparation: trimming, lower case, clean UTF-8, numbers, escaping.

namespace preparation {

std::string trimmed(const char* text) {
    return trimmedText(text);
}

std::string lowered(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string cleanText(const std::string& text) {
    std::string clean;
    clean.reserve(text.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const size_t size = text.size();
    for (size_t i = 0; i < size;) {
        const unsigned char c = bytes[i];
        if (c < 0x80) {
            clean += c < 0x20 ? ' ' : static_cast<char>(c);
            ++i;
            continue;
        }
        const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
        uint32_t code = length == 4 ? c & 0x07u : length == 3 ? c & 0x0Fu : c & 0x1Fu;
        bool valid = length > 0 && c <= 0xF4 && i + length <= size;
        for (size_t k = 1; valid && k < length; ++k) {
            valid = (bytes[i + k] & 0xC0) == 0x80;
            code = (code << 6) | (bytes[i + k] & 0x3Fu);
        }
        valid = valid && !(length == 3 && code < 0x800) && !(length == 4 && code < 0x10000) &&
                code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF) && code != 0xFFFE &&
                code != 0xFFFF;
        if (valid) {
            clean.append(text, i, length);
            i += length;
        } else {
            clean += '?';
            ++i;
        }
    }
    return clean;
}

bool readNumber(const char* text, double* value) {
    // Plain digits, as editors write durations and octaves, without the general conversion.
    int64_t whole = 0;
    const char* digit = text;
    while (*digit >= '0' && *digit <= '9' && digit - text < 15) {
        whole = whole * 10 + (*digit - '0');
        ++digit;
    }
    if (*digit == '\0' && digit != text) {
        *value = static_cast<double>(whole);
        return true;
    }
    while (std::isspace(static_cast<unsigned char>(*text))) {
        ++text;
    }
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || !std::isfinite(v)) {
        return false;
    }
    while (std::isspace(static_cast<unsigned char>(*end))) {
        ++end;
    }
    if (*end != '\0') {
        return false;
    }
    *value = v;
    return true;
}

int firstDigits(const char* text) {
    while (*text != '\0' && !std::isdigit(static_cast<unsigned char>(*text))) {
        ++text;
    }
    if (*text == '\0') {
        return -1;
    }
    int value = 0;
    for (int n = 0; n < 9 && std::isdigit(static_cast<unsigned char>(*text)); ++n, ++text) {
        value = value * 10 + (*text - '0');
    }
    return value;
}

int64_t clampPosition(int64_t value) {
    return std::min(std::max(value, -kPositionLimit), kPositionLimit);
}

// `text` inside a double-quoted attribute. Character references rather than the named entities:
// the reader's guard against entity expansion refuses even the predefined ones.
void appendEscaped(std::string* out, const std::string& text) {
    for (char c : text) {
        switch (c) {
            case '&':
                *out += "&#38;";
                break;
            case '<':
                *out += "&#60;";
                break;
            case '>':
                *out += "&#62;";
                break;
            case '"':
                *out += "&#34;";
                break;
            default:
                *out += c;
        }
    }
}

}  // namespace preparation
