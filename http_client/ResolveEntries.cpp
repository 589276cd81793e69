#include "http_client/ResolveEntries.h"

#include <set>

namespace vx::shared::agents::measurements::http {

std::string formatHost(const std::string& text) {
    if (text.size() > 1 && text.front() == '[' && text.back() == ']') {
        return text;
    }
    if (text.find(':') != std::string::npos) {
        return "[" + text + "]";
    }
    return text;
}

std::vector<std::string> buildResolveEntries(const std::string& host,
                                             const std::vector<std::string>& addresses, uint16_t port) {
    std::string addressList;
    for (const auto& address : addresses) {
        if (!addressList.empty()) {
            addressList += ",";
        }
        addressList += formatHost(address);
    }
    const std::string formattedHost = formatHost(host);
    std::vector<std::string> entries;
    for (const uint16_t pinned : std::set<uint16_t>{80, 443, port}) {
        entries.push_back(formattedHost + ":" + std::to_string(pinned) + ":" + addressList);
    }
    return entries;
}

}  // namespace vx::shared::agents::measurements::http
