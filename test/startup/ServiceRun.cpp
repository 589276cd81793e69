#include "startup/ServiceRun.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace vx::test::startup {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kLauncherDone = 0;
constexpr int kLauncherNamespacesDenied = 77;
constexpr int kLauncherSetupFailed = 78;
constexpr uint16_t kServicePort = 730;
constexpr auto kPollStep = std::chrono::milliseconds(25);
// The launcher's own limit kills the service; this one only catches a stuck launcher.
constexpr auto kLauncherGrace = std::chrono::seconds(30);

// The launcher leaves its findings beside the service's working directory content.
struct RunFiles {
    explicit RunFiles(const std::string& work)
        : out(work + "/service.out"),
          err(work + "/service.err"),
          response(work + "/service.response"),
          result(work + "/service.result"),
          setupError(work + "/service.setup-error") {}
    std::string out, err, response, result, setupError;
};

std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeWhole(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

void check(bool ok, const std::string& what) {
    if (!ok) {
        throw std::runtime_error(what + ": " + std::strerror(errno));
    }
}

void bringLoopbackUp() {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    check(fd >= 0, "socket");
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    check(ioctl(fd, SIOCGIFFLAGS, &request) == 0, "SIOCGIFFLAGS lo");
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    check(ioctl(fd, SIOCSIFFLAGS, &request) == 0, "SIOCSIFFLAGS lo");
    close(fd);
}

sockaddr_in servicePortAddress() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(kServicePort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Taken before the service starts and kept by the launcher; close-on-exec keeps it out of
// the service itself.
int holdServicePort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    check(fd >= 0, "socket");
    const sockaddr_in address = servicePortAddress();
    check(bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0, "bind 730");
    check(listen(fd, 1) == 0, "listen 730");
    return fd;
}

// The agent's directories are replaced inside this mount namespace only.
void prepareFileSystem(const ServiceSetup& setup) {
    check(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0, "make / private");
    check(mount("tmpfs", "/var/lib", "tmpfs", 0, "mode=0755") == 0, "tmpfs /var/lib");
    if (setup.identityJson) {
        fs::create_directories("/var/lib/vx-agent");
        writeWhole("/var/lib/vx-agent/identity.json", *setup.identityJson);
    }
    check(mount("tmpfs", "/usr/local/bin", "tmpfs", 0, "mode=0755") == 0, "tmpfs /usr/local/bin");
    check(symlink(RECORDING_UPLOADER, "/usr/local/bin/vx-minidump-uploader") == 0, "uploader link");
}

[[noreturn]] void execService(const ServiceSetup& setup, const RunFiles& files) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlives a launcher killed for hanging
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(files.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(files.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
        chdir(setup.workDirectory.c_str()) != 0) {
        _exit(127);
    }
    for (const auto& variable : setup.environment) {
        putenv(const_cast<char*>(variable.c_str()));
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(VAULT_ACCESSOR));
    for (const auto& argument : setup.arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    execv(VAULT_ACCESSOR, argv.data());
    _exit(127);
}

int connectToService() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = servicePortAddress();
    if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        return fd;
    }
    if (fd >= 0) {
        close(fd);
    }
    return -1;
}

std::string exchange(int fd) {
    const std::string request =
        "POST /getCredentials HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
        "Content-Length: 2\r\nConnection: close\r\n\r\n{}";
    timeval timeout{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
        return "";
    }
    std::string response;
    char buffer[4096];
    ssize_t count = 0;
    while ((count = recv(fd, buffer, sizeof buffer, 0)) > 0) {
        response.append(buffer, static_cast<size_t>(count));
    }
    return response;
}

// Waits for the service to end until the deadline; false when it is still running.
bool waitUntil(pid_t service, Clock::time_point deadline, int& status) {
    while (true) {
        const pid_t ended = waitpid(service, &status, WNOHANG);
        if (ended == service) {
            return true;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(kPollStep);
    }
}

// Waits until the service accepts a connection (or ends, or the deadline passes).
int waitForListening(pid_t service, Clock::time_point deadline, int& status, bool& ended) {
    while (Clock::now() < deadline) {
        const int fd = connectToService();
        if (fd >= 0) {
            return fd;
        }
        if (waitpid(service, &status, WNOHANG) == service) {
            ended = true;
            return -1;
        }
        std::this_thread::sleep_for(kPollStep);
    }
    return -1;
}

int launch(const ServiceSetup& setup, const RunFiles& files) {
    if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) {
        return kLauncherNamespacesDenied;
    }
    int portHolder = -1;
    try {
        bringLoopbackUp();
        prepareFileSystem(setup);
        if (setup.holdServicePort) {
            portHolder = holdServicePort();
        }
    } catch (const std::exception& e) {
        writeWhole(files.setupError, e.what());
        return kLauncherSetupFailed;
    }

    const auto started = Clock::now();
    const auto deadline = started + setup.timeLimit;
    const pid_t service = fork();
    if (service < 0) {
        writeWhole(files.setupError, "fork failed");
        return kLauncherSetupFailed;
    }
    if (service == 0) {
        execService(setup, files);
    }

    int status = 0;
    bool ended = false;
    if (setup.then != Then::WaitForExit) {
        const int fd = waitForListening(service, deadline, status, ended);
        if (fd >= 0) {
            if (setup.then == Then::RequestThenTerminate) {
                writeWhole(files.response, exchange(fd));
            }
            close(fd);
            kill(service, setup.then == Then::Crash ? SIGSEGV : SIGTERM);
        }
    }
    bool timedOut = false;
    if (!ended && !waitUntil(service, deadline, status)) {
        timedOut = true;
        kill(service, SIGKILL);
        waitpid(service, &status, 0);
    }
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
    if (portHolder >= 0) {
        close(portHolder);
    }
    writeWhole(files.result, std::to_string(status) + " " + std::to_string(timedOut ? 1 : 0) + " " +
                                 std::to_string(millis.count()));
    return kLauncherDone;
}

}  // namespace

ServiceRun runService(const ServiceSetup& setup) {
    const RunFiles files(setup.workDirectory);
    const pid_t launcher = fork();
    if (launcher < 0) {
        throw std::runtime_error("fork failed");
    }
    if (launcher == 0) {
        int code = kLauncherSetupFailed;
        try {
            code = launch(setup, files);
        } catch (...) {
        }
        _exit(code);
    }

    ServiceRun run;
    int launcherStatus = 0;
    if (!waitUntil(launcher, Clock::now() + setup.timeLimit + kLauncherGrace, launcherStatus)) {
        kill(launcher, SIGKILL);
        waitpid(launcher, &launcherStatus, 0);
        run.setupError = "the launcher hung";
        return run;
    }
    const int code = WIFEXITED(launcherStatus) ? WEXITSTATUS(launcherStatus) : -1;
    if (code == kLauncherNamespacesDenied) {
        run.namespacesDenied = true;
        return run;
    }
    if (code != kLauncherDone) {
        run.setupError = "launcher status " + std::to_string(code) + ": " + readWhole(files.setupError);
        return run;
    }
    std::istringstream result(readWhole(files.result));
    int timedOut = 0;
    long millis = 0;
    result >> run.waitStatus >> timedOut >> millis;
    run.timedOut = timedOut != 0;
    run.seconds = static_cast<double>(millis) / 1000.0;
    run.out = readWhole(files.out);
    run.err = readWhole(files.err);
    run.response = readWhole(files.response);
    return run;
}

}  // namespace vx::test::startup
