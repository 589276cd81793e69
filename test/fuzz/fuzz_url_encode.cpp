// libFuzzer target for the path-segment encoding: the output holds only unreserved bytes and
// %XX escapes with upper-case digits, and decoding it gives the input back.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "clients/ConjurVaultClient.h"

namespace {

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

bool isUnreserved(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;  // lower case is not what the encoder writes
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string encoded = vx::rc::vault_accessor::clients::ConjurVaultClient::urlEncode(input);
    std::string decoded;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] != '%') {
            require(isUnreserved(encoded[i]), "only unreserved bytes outside escapes");
            decoded.push_back(encoded[i]);
            continue;
        }
        require(i + 2 < encoded.size(), "complete escape");
        const int high = hexValue(encoded[i + 1]);
        const int low = hexValue(encoded[i + 2]);
        require(high >= 0 && low >= 0, "upper-case hex digits");
        const char byte = static_cast<char>(high * 16 + low);
        require(!isUnreserved(byte), "unreserved bytes are not escaped");
        decoded.push_back(byte);
        i += 2;
    }
    require(decoded == input, "decodes to the input");
    return 0;
}
