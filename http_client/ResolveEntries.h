#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vx::shared::agents::measurements::http {

// Puts a bare IPv6 literal into brackets; bracketed literals and other hosts stay as they are.
std::string formatHost(const std::string& text);

// CURLOPT_RESOLVE entries "host:port:addr[,addr...]" pinning the host for ports 80, 443 and `port`,
// in ascending port order, each port once.
std::vector<std::string> buildResolveEntries(const std::string& host,
                                             const std::vector<std::string>& addresses, uint16_t port);

}  // namespace vx::shared::agents::measurements::http
