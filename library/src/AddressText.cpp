#include "AddressText.h"

#include "Sentova/DeviceAddress.h"

#include <boost/system/system_error.hpp>

#include <cerrno>
#include <cstdio>
#include <stdexcept>

namespace tavrel {

namespace {

// The text as a message can show it: bytes outside printable ASCII (a zero
// byte included) as \xNN.
std::string Printable(const std::string& text) {
    std::string shown;
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7f) {
            shown += c;
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", u);
            shown += escaped;
        }
    }
    return shown;
}

std::string NotAnAddressMessage(const std::string& text) {
    return "'" + Printable(text) + "' is not an IPv4 address";
}

} // namespace

boost::asio::ip::address_v4 ParseDottedIPv4(const std::string& text) {
    // The message says what is wrong with the text: the parser's own reads
    // only "Invalid argument", which callers would show as a network fault.
    if (text.find('\0') != std::string::npos)
        throw boost::system::system_error(EINVAL, boost::system::generic_category(),
                                          NotAnAddressMessage(text));
    boost::system::error_code ec;
    const boost::asio::ip::address_v4 parsed = boost::asio::ip::make_address_v4(text, ec);
    if (ec)
        throw boost::system::system_error(ec, NotAnAddressMessage(text));
    return parsed;
}

std::uint32_t ParseIPv4Address(const std::string& text) {
    try {
        return ParseDottedIPv4(text).to_uint();
    } catch (const boost::system::system_error&) {
        throw std::invalid_argument(NotAnAddressMessage(text));
    }
}

bool IsIPv4Address(const std::string& text) {
    boost::system::error_code ec;
    boost::asio::ip::make_address_v4(text, ec);
    return !ec && text.find('\0') == std::string::npos;
}

} // namespace tavrel
