// Device address texts, as every program takes them from its user.
#pragma once

#include <cstdint>
#include <string>

namespace tavrel {

// Dotted-decimal IPv4 text, nothing before or after it (a zero byte inside included), to the
// address in host byte order. Anything else throws std::invalid_argument with the text
// "'TEXT' is not an IPv4 address" (bytes outside printable ASCII shown as \xNN).
std::uint32_t ParseIPv4Address(const std::string& text);

// The same test without the exception.
bool IsIPv4Address(const std::string& text);

} // namespace tavrel
