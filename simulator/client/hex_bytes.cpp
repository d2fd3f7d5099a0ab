// qebsim::HexBytes (pure: no device access).
#include <cstdio>

#include "qebsim/client.h"

namespace qebsim {

std::string HexBytes(const uint8_t* data, size_t len) {
    std::string out;
    char buf[4];
    for (size_t i = 0; i < len; ++i) {
        std::snprintf(buf, sizeof(buf), i ? " %02X" : "%02X", data[i]);
        out += buf;
    }
    return out;
}

}  // namespace qebsim
