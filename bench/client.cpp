// The caller's side of the service benchmarks: POST /getCredentials with the body read from a
// file, over kept-alive connections.
//   bench_client latency <port> <body-file> <count>          one request at a time; prints ms per request
//   bench_client load <port> <body-file> <callers> <seconds> <max-per-caller>   prints one JSON line
// Exits 1 on any answer but 200 in latency mode.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "LoadClient.h"

namespace {

std::string readFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

int usage() {
    std::cerr << "usage: bench_client latency <port> <body-file> <count>\n"
                 "       bench_client load <port> <body-file> <callers> <seconds> <max-per-caller>\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace vx::bench;
    if (argc < 5) {
        return usage();
    }
    const std::string mode = argv[1];
    const auto port = static_cast<uint16_t>(std::atoi(argv[2]));
    const std::string body = readFile(argv[3]);
    if (mode == "latency") {
        const long count = std::atol(argv[4]);
        KeepAliveConnection connection(port, "/getCredentials", body);
        for (long i = 0; i < count; ++i) {
            const auto start = Clock::now();
            const int status = connection.post();
            const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            if (status != 200) {
                std::cerr << "bench_client: answer " << status << "\n";
                return 1;
            }
            std::printf("%.4f\n", ms);
        }
        return 0;
    }
    if (mode == "load" && argc == 7) {
        const LoadResult result = runLoad(port, body, std::atoi(argv[4]), std::atof(argv[5]),
                                          std::strtoull(argv[6], nullptr, 10));
        std::cout << describe(result) << std::endl;
        return 0;
    }
    return usage();
}
