#include "Caller.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>

namespace vx::test {

Caller::Caller(uint16_t port) {
    std::signal(SIGPIPE, SIG_IGN);
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ >= 0 && ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        hangUp();
    }
}

Caller::~Caller() { hangUp(); }

void Caller::hangUp() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void Caller::finishSending() {
    if (fd_ >= 0) {
        ::shutdown(fd_, SHUT_WR);
    }
}

void Caller::send(const std::string& bytes) {
    std::size_t sent = 0;
    while (fd_ >= 0 && sent < bytes.size()) {
        const auto n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return;
        }
        sent += static_cast<std::size_t>(n);
    }
}

std::string Caller::post(const std::string& body) {
    return "POST /getCredentials HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
           "Content-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

bool Caller::receiveSome(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd entry{fd_, POLLIN, 0};
    if (fd_ < 0 || left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
        return false;
    }
    char chunk[65536];
    const auto got = ::recv(fd_, chunk, sizeof(chunk), 0);
    if (got <= 0) {
        return false;
    }
    received_.append(chunk, static_cast<std::size_t>(got));
    return true;
}

Answer Caller::readAnswer(std::chrono::seconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        const auto headerEnd = received_.find("\r\n\r\n");
        if (headerEnd != std::string::npos && received_.rfind("HTTP/1.1 ", 0) == 0) {
            const auto lengthAt = received_.find("Content-Length: ");
            const std::size_t length =
                lengthAt != std::string::npos && lengthAt < headerEnd ? std::stoul(received_.substr(lengthAt + 16)) : 0;
            if (received_.size() >= headerEnd + 4 + length) {
                Answer answer{std::stoi(received_.substr(9, 3)), received_.substr(headerEnd + 4, length)};
                received_.erase(0, headerEnd + 4 + length);
                return answer;
            }
        }
        if (!receiveSome(deadline)) {
            return {};
        }
    }
}

bool Caller::waitForClose(std::chrono::seconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (receiveSome(deadline)) {
    }
    if (std::chrono::steady_clock::now() >= deadline) {
        return false;
    }
    return true;
}

}  // namespace vx::test
