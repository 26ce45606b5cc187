#include "AddressText.h"

#include <boost/system/system_error.hpp>

#include <cerrno>

namespace tavrel {

boost::asio::ip::address_v4 ParseDottedIPv4(const std::string& text) {
    boost::system::error_code ec;
    if (text.find('\0') != std::string::npos)
        throw boost::system::system_error(EINVAL, boost::system::generic_category());
    const boost::asio::ip::address_v4 parsed = boost::asio::ip::make_address_v4(text, ec);
    if (ec)
        throw boost::system::system_error(ec);
    return parsed;
}

} // namespace tavrel
