#pragma once

// Runs the real vx-vault-accessor in its own network and mount namespaces, so port 730 and
// the agent's files are private to that run:
//   - the loopback interface is up, 127.0.0.1:730 is free unless `holdServicePort` asks a
//     listener to take it first;
//   - /var/lib is an empty tmpfs holding only the identity file the setup gives;
//   - /usr/local/bin is an empty tmpfs holding vx-minidump-uploader, the recording stand-in,
//     which appends its command lines to "calls.txt" in the working directory.
// The service runs in `workDirectory` with standard output and error captured; a hard time
// limit kills it with SIGKILL when it does not end by itself.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace vx::test::startup {

// What happens once the service was started.
enum class Then {
    WaitForExit,           // nothing: it should end by itself
    RequestThenTerminate,  // once it listens: one POST /getCredentials, then SIGTERM
    Crash,                 // once it listens: SIGSEGV from outside
};

struct ServiceSetup {
    std::string workDirectory;
    std::vector<std::string> arguments;       // after the program name
    std::vector<std::string> environment;     // NAME=value added to the service's environment
    std::optional<std::string> identityJson;  // /var/lib/vx-agent/identity.json; none: no file
    bool holdServicePort = false;
    Then then = Then::WaitForExit;
    std::chrono::seconds timeLimit{60};
};

struct ServiceRun {
    bool namespacesDenied = false;  // unshare was not permitted: nothing ran
    std::string setupError;         // the run could not be prepared (empty when it was)
    int waitStatus = 0;             // raw status of the service process
    bool timedOut = false;          // killed after the time limit
    double seconds = 0;             // from start to end of the service process
    std::string out;
    std::string err;
    std::string response;  // raw answer to the request of RequestThenTerminate
};

ServiceRun runService(const ServiceSetup& setup);

}  // namespace vx::test::startup
