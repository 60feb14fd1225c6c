#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quenbril {

/// Helpers for the text replies of wireless receivers.
namespace receivertext {

/// `text` cut at every single `separator`: "a  b" gives "a", "", "b".
std::vector<std::string_view> split(std::string_view text, char separator);
/// The leading integer of `text` after white space (an optional sign, then digits), clamped
/// to 32 bits; 0 when there is none.
int32_t intValue(std::string_view text);
/// `text` without white space (blanks, tabs, line ends) at either end.
std::string_view trim(std::string_view text);
/// Whether two addresses both have at least `length` characters and agree on the first
/// `length`: the drivers' rough test that a receiver lies on a local interface's network.
bool samePrefix(std::string_view a, std::string_view b, size_t length);
/// Whether `bytes` is well-formed UTF-8.
bool isValidUTF8(std::string_view bytes);

}  // namespace receivertext
}  // namespace quenbril
