#pragma once
// A minimal keep-alive HTTP/1.1 client for the benchmarks: one POST at a time on one
// connection, answers read by Content-Length. Deliberately small, so the caller's own cost
// stays far below what is measured.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace vx::bench {

using Clock = std::chrono::steady_clock;

class KeepAliveConnection {
public:
    KeepAliveConnection(uint16_t port, std::string path, std::string body);
    ~KeepAliveConnection();
    KeepAliveConnection(const KeepAliveConnection&) = delete;
    KeepAliveConnection& operator=(const KeepAliveConnection&) = delete;

    // Sends the request and reads one whole answer; returns its status, or -1 when the
    // connection failed (it is then reopened on the next call).
    int post();

private:
    bool connectNow();
    void closeNow();
    bool readAnswer(int& status);

    uint16_t port_;
    std::string request_;
    int fd_ = -1;
    std::string buffer_;
};

struct LoadResult {
    uint64_t requests = 0;
    uint64_t errors = 0;  // any answer but 200, or a broken connection
    double seconds = 0;
    std::vector<double> latenciesMs;       // every request, all callers
    std::vector<uint64_t> perCaller;       // requests answered per caller
};

// `callers` threads, each with its own connection, post back to back until `seconds` have
// passed or each has sent `maxPerCaller` requests.
LoadResult runLoad(uint16_t port, const std::string& body, int callers, double seconds,
                   uint64_t maxPerCaller);

// Value at quantile q (0..1) of the samples, nearest rank; 0 for none.
double quantile(std::vector<double> samples, double q);

// One line of JSON describing a load result.
std::string describe(const LoadResult& result);

}  // namespace vx::bench
