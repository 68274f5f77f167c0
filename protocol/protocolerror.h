#pragma once

#include <stdexcept>

namespace protocol {

// A frame or message that does not follow the protocol.
class ProtocolError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

} // namespace protocol
