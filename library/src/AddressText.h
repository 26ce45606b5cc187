// Address texts as the command channels and "SVSIPC" take them.
#pragma once

#include <boost/asio/ip/address_v4.hpp>

#include <string>

namespace tavrel {

// Parses dotted IPv4 text. Throws boost::system::system_error for anything
// else, including text with a zero byte in it ("10.0.0.2\0junk"): the
// platform's parser would read only up to that byte and accept the rest unseen.
// The exception's text begins "'TEXT' is not an IPv4 address" (bytes outside
// printable ASCII shown as \xNN), followed by the parser's reason.
boost::asio::ip::address_v4 ParseDottedIPv4(const std::string& text);

} // namespace tavrel
