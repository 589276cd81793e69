#include "LoadClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>

namespace vx::bench {

KeepAliveConnection::KeepAliveConnection(uint16_t port, std::string path, std::string body) : port_(port) {
    request_ = "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n" +
               "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

KeepAliveConnection::~KeepAliveConnection() { closeNow(); }

bool KeepAliveConnection::connectNow() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        return false;
    }
    int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port_);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        closeNow();
        return false;
    }
    buffer_.clear();
    return true;
}

void KeepAliveConnection::closeNow() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

int KeepAliveConnection::post() {
    if (fd_ < 0 && !connectNow()) {
        return -1;
    }
    std::size_t sent = 0;
    while (sent < request_.size()) {
        const ssize_t n = ::send(fd_, request_.data() + sent, request_.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            closeNow();
            return -1;
        }
        sent += static_cast<std::size_t>(n);
    }
    int status = -1;
    if (!readAnswer(status)) {
        closeNow();
        return -1;
    }
    return status;
}

bool KeepAliveConnection::readAnswer(int& status) {
    char chunk[16384];
    std::size_t headerEnd = std::string::npos;
    std::size_t total = 0;
    for (;;) {
        if (headerEnd == std::string::npos) {
            headerEnd = buffer_.find("\r\n\r\n");
            if (headerEnd != std::string::npos) {
                if (buffer_.compare(0, 9, "HTTP/1.1 ") != 0) {
                    return false;
                }
                status = std::atoi(buffer_.c_str() + 9);
                std::size_t length = 0;
                const std::size_t field = buffer_.find("Content-Length: ");
                if (field != std::string::npos && field < headerEnd) {
                    length = std::strtoul(buffer_.c_str() + field + 16, nullptr, 10);
                }
                total = headerEnd + 4 + length;
            }
        }
        if (headerEnd != std::string::npos && buffer_.size() >= total) {
            buffer_.erase(0, total);
            return true;
        }
        const ssize_t n = ::recv(fd_, chunk, sizeof(chunk), 0);
        if (n <= 0) {
            return false;
        }
        buffer_.append(chunk, static_cast<std::size_t>(n));
    }
}

LoadResult runLoad(uint16_t port, const std::string& body, int callers, double seconds,
                   uint64_t maxPerCaller) {
    struct Caller {
        uint64_t ok = 0;
        uint64_t errors = 0;
        std::vector<double> latencies;
    };
    std::vector<Caller> results(static_cast<std::size_t>(callers));
    std::vector<std::thread> threads;
    const auto begin = Clock::now();
    const auto deadline = begin + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    for (auto& caller : results) {
        threads.emplace_back([&caller, port, &body, deadline, maxPerCaller] {
            KeepAliveConnection connection(port, "/getCredentials", body);
            caller.latencies.reserve(4096);
            for (uint64_t i = 0; i < maxPerCaller && Clock::now() < deadline; ++i) {
                const auto start = Clock::now();
                const int status = connection.post();
                const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
                if (status == 200) {
                    ++caller.ok;
                    caller.latencies.push_back(ms);
                } else {
                    ++caller.errors;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    LoadResult result;
    result.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    for (const auto& caller : results) {
        result.requests += caller.ok;
        result.errors += caller.errors;
        result.perCaller.push_back(caller.ok);
        result.latenciesMs.insert(result.latenciesMs.end(), caller.latencies.begin(), caller.latencies.end());
    }
    return result;
}

double quantile(std::vector<double> samples, double q) {
    if (samples.empty()) {
        return 0;
    }
    std::sort(samples.begin(), samples.end());
    const auto rank = static_cast<std::size_t>(std::ceil(q * static_cast<double>(samples.size())));
    return samples[std::min(samples.size() - 1, rank == 0 ? 0 : rank - 1)];
}

std::string describe(const LoadResult& result) {
    const auto [least, most] = std::minmax_element(result.perCaller.begin(), result.perCaller.end());
    std::ostringstream out;
    out << "{\"requests\":" << result.requests << ",\"errors\":" << result.errors
        << ",\"seconds\":" << result.seconds
        << ",\"rps\":" << (result.seconds > 0 ? static_cast<double>(result.requests) / result.seconds : 0)
        << ",\"p50_ms\":" << quantile(result.latenciesMs, 0.50)
        << ",\"p99_ms\":" << quantile(result.latenciesMs, 0.99)
        << ",\"caller_min\":" << (result.perCaller.empty() ? 0 : *least)
        << ",\"caller_max\":" << (result.perCaller.empty() ? 0 : *most) << "}";
    return out.str();
}

}  // namespace vx::bench
