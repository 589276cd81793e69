#include "FakeVault.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <stdexcept>

namespace vx::test {

namespace {

constexpr char headerEnd[] = "\r\n\r\n";

std::size_t contentLength(const std::string& head) {
    std::string lower(head);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const auto at = lower.find("\r\ncontent-length:");
    return at == std::string::npos ? 0 : std::stoul(lower.substr(at + 17));
}

}  // namespace

std::optional<std::string> VaultConnection::readRequest() {
    auto end = pending_.find(headerEnd);
    while (end == std::string::npos || pending_.size() < end + 4 + contentLength(pending_.substr(0, end))) {
        if (!readSome()) {
            return std::nullopt;
        }
        end = pending_.find(headerEnd);
    }
    const auto head = pending_.substr(0, end);
    pending_.erase(0, end + 4 + contentLength(head));
    const auto firstBlank = head.find(' ');
    const auto secondBlank = head.find(' ', firstBlank + 1);
    const auto target = head.substr(firstBlank + 1, secondBlank - firstBlank - 1);
    vault_.noteRequest(target);
    return target;
}

bool VaultConnection::readSome() {
    char chunk[16384];
    const auto got = ::recv(fd_, chunk, sizeof(chunk), 0);
    if (got <= 0 || vault_.stopping_) {
        return false;
    }
    pending_.append(chunk, static_cast<std::size_t>(got));
    return true;
}

bool VaultConnection::send(std::string_view bytes) {
    while (!bytes.empty()) {
        const auto sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0 || vault_.stopping_) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

void VaultConnection::reset() {
    const linger abortive{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abortive, sizeof(abortive));
    vault_.closeNow(fd_);  // only close sends the reset
    fd_ = -1;
}

void VaultConnection::note(const std::string& marker) { vault_.noteRequest(marker); }

bool VaultConnection::waitForRelease() {
    return vault_.waitFor([this] { return vault_.released_; }, std::chrono::minutes(2));
}

bool VaultConnection::pause(std::chrono::milliseconds duration) {
    vault_.waitFor([] { return false; }, duration);
    return !vault_.stopping_;
}

FakeVault::FakeVault(Behaviour behaviour) : behaviour_(std::move(behaviour)) {
    std::signal(SIGPIPE, SIG_IGN);
    listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listenFd_, 64) != 0 || ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("fake vault cannot listen");
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

FakeVault::~FakeVault() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        for (const int fd : fds_) {
            ::shutdown(fd, SHUT_RDWR);
        }
    }
    signal_.notify_all();
    ::shutdown(listenFd_, SHUT_RDWR);
    acceptor_.join();
    for (auto& thread : threads_) {
        thread.join();
    }
    for (const int fd : fds_) {
        ::close(fd);
    }
    ::close(listenFd_);
}

std::string FakeVault::url(const std::string& scheme) const {
    return scheme + "://127.0.0.1:" + std::to_string(port_);
}

void FakeVault::release() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        released_ = true;
    }
    signal_.notify_all();
}

void FakeVault::noteRequest(const std::string& target) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        targets_.push_back(target);
    }
    signal_.notify_all();
}

bool FakeVault::waitForRequest(const std::string& prefix, std::chrono::seconds wait) {
    return waitFor(
        [&] {
            return std::any_of(targets_.begin(), targets_.end(),
                               [&](const std::string& target) { return target.rfind(prefix, 0) == 0; });
        },
        wait);
}

void FakeVault::answerAll(VaultConnection& connection, int status, const std::string& body) {
    while (connection.readRequest()) {
        if (!connection.send("HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Length: " +
                             std::to_string(body.size()) + "\r\n\r\n" + body)) {
            return;
        }
    }
}

void FakeVault::acceptLoop() {
    for (;;) {
        const int fd = ::accept(listenFd_, nullptr, nullptr);
        std::lock_guard<std::mutex> lock(mutex_);
        if (fd < 0 || stopping_) {
            if (fd >= 0) {
                ::close(fd);
            }
            return;
        }
        fds_.push_back(fd);
        threads_.emplace_back([this, fd] { serve(fd); });
    }
}

void FakeVault::serve(int fd) {
    VaultConnection connection(*this, fd);
    behaviour_(connection);
    if (connection.isOpen()) {
        ::shutdown(fd, SHUT_RDWR);  // the descriptor itself is closed by the destructor
    }
}

void FakeVault::closeNow(int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    fds_.erase(std::remove(fds_.begin(), fds_.end(), fd), fds_.end());
    ::close(fd);
}

bool FakeVault::waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return signal_.wait_for(lock, limit, [&] { return stopping_ || done(); }) && !stopping_;
}

}  // namespace vx::test
