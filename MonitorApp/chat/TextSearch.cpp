#include "MonitorApp/chat/TextSearch.h"

#include <cstdint>
#include <vector>

namespace quenbril {

namespace {

/// Base letters of U+00C0..U+00FF; '-' keeps the character (lower-cased for U+00C0..U+00DE).
constexpr std::string_view kLatin1Base =
    "aaaaaa-ceeeeiiii-nooooo-ouuuuy--"   // U+00C0..U+00DF
    "aaaaaa-ceeeeiiii-nooooo-ouuuuy-y";  // U+00E0..U+00FF

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

/// Decodes one UTF-8 sequence at `i`; 0 length for an invalid one.
size_t decode(std::string_view s, size_t i, uint32_t& cp) {
    auto byte = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
    uint8_t b = byte(i);
    size_t len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > s.size()) return 0;
    cp = len == 1 ? b : b & (0x7F >> len);
    for (size_t k = 1; k < len; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    return len;
}

}  // namespace

std::string TextSearch::fold(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        uint32_t cp = 0;
        size_t len = decode(text, i, cp);
        if (len == 0) {
            out += text[i++];
            continue;
        }
        i += len;
        if (cp >= 'A' && cp <= 'Z') {
            out += static_cast<char>(cp - 'A' + 'a');
        } else if (cp >= 0x300 && cp <= 0x36F) {
            // Combining accents: dropped.
        } else if (cp >= 0xC0 && cp <= 0xFF) {
            char base = kLatin1Base[cp - 0xC0];
            if (base != '-') {
                out += base;
            } else {
                appendUtf8(out, cp >= 0xC0 && cp <= 0xDE && cp != 0xD7 ? cp + 0x20 : cp);
            }
        } else {
            appendUtf8(out, cp);
        }
    }
    return out;
}

bool TextSearch::contains(std::string_view haystack, std::string_view needle) {
    if (needle.empty()) return true;
    if (needle.size() > haystack.size()) return false;
    // Knuth-Morris-Pratt: each byte of the haystack is looked at a bounded number of times,
    // whatever the two texts repeat (a plain search is quadratic on texts like "aaa...ab").
    std::vector<size_t> border(needle.size(), 0);
    for (size_t i = 1, k = 0; i < needle.size(); ++i) {
        while (k > 0 && needle[i] != needle[k]) k = border[k - 1];
        if (needle[i] == needle[k]) ++k;
        border[i] = k;
    }
    for (size_t i = 0, k = 0; i < haystack.size(); ++i) {
        while (k > 0 && haystack[i] != needle[k]) k = border[k - 1];
        if (haystack[i] == needle[k]) ++k;
        if (k == needle.size()) return true;
    }
    return false;
}

bool TextSearch::containsIgnoringCaseAndAccents(std::string_view haystack,
                                                std::string_view needle) {
    if (needle.empty()) return false;
    std::string n = fold(needle);
    if (n.empty()) return false;
    return contains(fold(haystack), n);
}

}  // namespace quenbril
