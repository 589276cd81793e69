// The floor for one getCredentials: the same login POST and secret GETs done straight with
// libcurl in one process, a fresh easy handle per exchange, same headers and body as the
// service's Conjur client. No parsing, no logging, no local HTTP hop.
//   bench_floor latency <base-url> <account> <host-id> <api-key> <secrets> <count>
//       prints ms per getCredentials-equivalent
//   bench_floor load <base-url> <account> <host-id> <api-key> <secrets> <loops> <seconds>
//       <loops> threads back to back; prints one JSON line
// Ids must be URL-safe; secret i is named s<i>.

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Target {
    std::string baseUrl;
    std::string account;
    std::string hostId;
    std::string apiKey;
    int secrets = 1;
};

size_t collect(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

// One exchange on a fresh handle; returns the HTTP status or -1 on a transfer error.
long exchange(const std::string& url, const std::string* postBody, curl_slist* headers, std::string& answer) {
    CURL* easy = curl_easy_init();
    if (easy == nullptr) {
        return -1;
    }
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    if (postBody != nullptr) {
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, postBody->c_str());
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(postBody->size()));
    }
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &collect);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &answer);
    long status = -1;
    if (curl_easy_perform(easy) == CURLE_OK) {
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    }
    curl_easy_cleanup(easy);
    return status;
}

// Login plus every secret read; false on any answer but 200.
bool getCredentials(const Target& target) {
    curl_slist* loginHeaders = curl_slist_append(nullptr, "Accept-Encoding: base64");
    loginHeaders = curl_slist_append(loginHeaders, "Content-Type: application/x-www-form-urlencoded");
    std::string token;
    const long loginStatus = exchange(target.baseUrl + "/authn/" + target.account + "/host%2F" + target.hostId +
                                          "/authenticate",
                                      &target.apiKey, loginHeaders, token);
    curl_slist_free_all(loginHeaders);
    if (loginStatus != 200 || token.empty()) {
        return false;
    }
    const std::string authorization = "Authorization: Token token=\"" + token + "\"";
    curl_slist* readHeaders = curl_slist_append(nullptr, authorization.c_str());
    bool ok = true;
    for (int i = 0; i < target.secrets && ok; ++i) {
        std::string value;
        ok = exchange(target.baseUrl + "/secrets/" + target.account + "/variable/s" + std::to_string(i), nullptr,
                      readHeaders, value) == 200;
    }
    curl_slist_free_all(readHeaders);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 8 && argc != 9) {
        std::cerr << "usage: bench_floor latency|load <base-url> <account> <host-id> <api-key> <secrets> "
                     "<count> | <loops> <seconds>\n";
        return 2;
    }
    const std::string mode = argv[1];
    const Target target{argv[2], argv[3], argv[4], argv[5], std::atoi(argv[6])};
    if (curl_global_init(CURL_GLOBAL_ALL) != CURLE_OK) {
        return 1;
    }
    int status = 0;
    if (mode == "latency") {
        const long count = std::atol(argv[7]);
        for (long i = 0; i < count && status == 0; ++i) {
            const auto start = Clock::now();
            if (!getCredentials(target)) {
                std::cerr << "bench_floor: exchange failed\n";
                status = 1;
                break;
            }
            std::printf("%.4f\n", std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
    } else if (mode == "load" && argc == 9) {
        const int loops = std::max(1, std::atoi(argv[7]));
        const auto seconds = std::chrono::duration<double>(std::atof(argv[8]));
        const auto begin = Clock::now();
        const auto deadline = begin + std::chrono::duration_cast<Clock::duration>(seconds);
        std::atomic<uint64_t> ok{0};
        std::atomic<uint64_t> errors{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < loops; ++t) {
            threads.emplace_back([&] {
                // Bounded in time and, as a backstop, in count.
                for (int i = 0; i < 1000000 && Clock::now() < deadline; ++i) {
                    (getCredentials(target) ? ok : errors)++;
                }
            });
        }
        for (auto& thread : threads) {
            thread.join();
        }
        const double elapsed = std::chrono::duration<double>(Clock::now() - begin).count();
        std::printf("{\"requests\":%llu,\"errors\":%llu,\"seconds\":%.3f,\"rps\":%.3f}\n",
                    static_cast<unsigned long long>(ok.load()), static_cast<unsigned long long>(errors.load()),
                    elapsed, static_cast<double>(ok.load()) / elapsed);
    } else {
        status = 2;
    }
    curl_global_cleanup();
    return status;
}
