#include "DevVault.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace vx::test {

namespace {

int readPort(const std::string& line, const std::string& key) {
    const auto at = line.find("\"" + key + "\": ");
    if (at == std::string::npos) {
        return 0;
    }
    return std::atoi(line.c_str() + at + key.size() + 4);  // "null" reads as 0
}

// The first line the child writes, or throws after a generous wait.
std::string readReadyLine(int fd) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (line.find('\n') == std::string::npos) {
        pollfd waiting{fd, POLLIN, 0};
        if (std::chrono::steady_clock::now() > deadline || poll(&waiting, 1, 1000) < 0) {
            throw std::runtime_error("dev vault did not start");
        }
        char chunk[256];
        if ((waiting.revents & (POLLIN | POLLHUP)) != 0) {
            const auto got = read(fd, chunk, sizeof(chunk));
            if (got <= 0) {
                throw std::runtime_error("dev vault ended before it was ready");
            }
            line.append(chunk, static_cast<size_t>(got));
        }
    }
    return line;
}

sockaddr_in loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

}  // namespace

DevVault::DevVault(const std::string& workDir, const std::string& fixture, const std::string& caDir)
    : recordPath_(workDir + "/requests.jsonl") {
    const std::string fixturePath = workDir + "/fixture.json";
    std::ofstream(fixturePath) << fixture;
    std::vector<std::string> args = {"python3",     VX_DEV_VAULT, "--http-port", "0", "--fixture",
                                     fixturePath, "--record",   recordPath_};
    if (!caDir.empty()) {
        args.insert(args.end(), {"--https-port", "0", "--tls-dir", caDir});
    }
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        throw std::runtime_error("pipe failed");
    }
    pid_ = fork();
    if (pid_ == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        std::vector<char*> argv;
        for (auto& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    std::string line;
    try {
        line = readReadyLine(pipeFds[0]);
    } catch (...) {
        close(pipeFds[0]);
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        throw;
    }
    close(pipeFds[0]);
    httpPort_ = static_cast<uint16_t>(readPort(line, "http_port"));
    httpsPort_ = static_cast<uint16_t>(readPort(line, "https_port"));
}

DevVault::~DevVault() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

std::string DevVault::recordText() const {
    std::ifstream file(recordPath_);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::vector<std::string> DevVault::recordedRequests() const {
    std::vector<std::string> lines;
    std::istringstream text(recordText());
    for (std::string line; std::getline(text, line);) {
        lines.push_back(line);
    }
    return lines;
}

HttpAnswer postGetCredentials(uint16_t port, const std::string& body) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const timeval patience{120, 0};  // far above any bound a test injects
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof(patience));
    const auto address = loopback(port);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        close(fd);
        throw std::runtime_error("cannot connect to the service");
    }
    const std::string request = "POST /getCredentials HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                "Content-Type: application/json\r\nConnection: close\r\nContent-Length: " +
                                std::to_string(body.size()) + "\r\n\r\n" + body;
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);

    std::string received;
    HttpAnswer answer;
    for (;;) {
        char chunk[4096];
        const auto got = recv(fd, chunk, sizeof(chunk), 0);
        if (got <= 0) {
            break;
        }
        received.append(chunk, static_cast<size_t>(got));
        const auto headerEnd = received.find("\r\n\r\n");
        if (headerEnd == std::string::npos) {
            continue;
        }
        const auto lengthAt = received.find("Content-Length: ");
        if (lengthAt != std::string::npos && lengthAt < headerEnd) {
            const auto length = std::stoul(received.substr(lengthAt + 16));
            if (received.size() >= headerEnd + 4 + length) {
                break;
            }
        }
    }
    close(fd);
    const auto headerEnd = received.find("\r\n\r\n");
    if (received.rfind("HTTP/1.1 ", 0) != 0 || headerEnd == std::string::npos) {
        return answer;  // status 0: no answer
    }
    answer.status = std::stoi(received.substr(9, 3));
    answer.body = received.substr(headerEnd + 4);
    return answer;
}

}  // namespace vx::test
