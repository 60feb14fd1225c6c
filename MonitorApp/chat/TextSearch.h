#pragma once

#include <string>
#include <string_view>

namespace quenbril {

/// Substring search that ignores case and accents, as the chat matches message ids.
class TextSearch {
  public:
    /// `text` lower-cased, with the accents of Latin letters and combining marks removed.
    /// Bytes that are not valid UTF-8 are kept as they are.
    static std::string fold(std::string_view text);
    /// Whether `haystack` contains `needle`, byte for byte, in time linear in the two lengths.
    /// An empty needle is contained everywhere.
    static bool contains(std::string_view haystack, std::string_view needle);
    /// Whether `haystack` contains `needle`, ignoring case and accents, in linear time. An empty
    /// needle is contained nowhere.
    static bool containsIgnoringCaseAndAccents(std::string_view haystack, std::string_view needle);
};

}  // namespace quenbril
