#include "RawClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <stdexcept>
#include <string>

namespace vx::rc::test {

RawClient::RawClient(uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd_ < 0) {
        throw std::runtime_error("socket failed");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd_);
        throw std::runtime_error("connect failed: " + std::to_string(errno));
    }
}

RawClient::~RawClient() { ::close(fd_); }

void RawClient::send(const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const auto n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            throw std::runtime_error("send failed: " + std::to_string(errno));
        }
        sent += static_cast<std::size_t>(n);
    }
}

bool RawClient::receiveSome(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd entry{fd_, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
        return false;
    }
    char chunk[65536];
    const auto n = ::recv(fd_, chunk, sizeof(chunk), 0);
    if (n <= 0) {
        closed_ = true;  // EOF or reset
    } else {
        pending_.append(chunk, static_cast<std::size_t>(n));
    }
    return true;
}

std::string RawClient::readResponse(std::chrono::seconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        const auto headerEnd = pending_.find("\r\n\r\n");
        if (headerEnd != std::string::npos) {
            std::size_t length = 0;
            std::string header = pending_.substr(0, headerEnd);
            std::transform(header.begin(), header.end(), header.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            const auto field = header.find("\r\ncontent-length: ");
            if (field != std::string::npos) {
                length = std::stoul(header.substr(field + 18));
            }
            const auto total = headerEnd + 4 + length;
            if (pending_.size() >= total) {
                auto response = pending_.substr(0, total);
                pending_.erase(0, total);
                return response;
            }
        }
        if (closed_ || !receiveSome(deadline)) {
            auto partial = std::move(pending_);
            pending_.clear();
            return partial;
        }
    }
}

bool RawClient::waitForClose(std::chrono::seconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (!closed_) {
        if (!receiveSome(deadline)) {
            return false;
        }
    }
    return true;
}

}  // namespace vx::rc::test
