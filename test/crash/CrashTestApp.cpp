// Drives an ExceptionManager from its command line so that tests can watch a real crash
// from outside:
//   crash_test_app on|off ipv6|noipv6 <log file> <step>...
// Steps, run in order:
//   agent=ID  annotate=KEY=VALUE  arg=TEXT  mdc=KEY=VALUE  abort=MESSAGE  url=URL
//   optional=X,U,P,T  dump  sleep  segv
#include <log4cxx/fileappender.h>
#include <log4cxx/mdc.h>
#include <log4cxx/patternlayout.h>

#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "vx/util/ExceptionManager.h"
#include "vx/util/Logging.h"

namespace {

constexpr const char* kRevision = "0123456789abcdef0123456789abcdef01234567";

std::pair<std::string, std::string> splitPair(const std::string& text) {
    const auto equals = text.find('=');
    if (equals == std::string::npos) {
        return {text, ""};
    }
    return {text.substr(0, equals), text.substr(equals + 1)};
}

std::vector<std::string> splitComma(const std::string& text) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        const auto comma = text.find(',', start);
        parts.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) {
            return parts;
        }
        start = comma + 1;
    }
}

void attachLog(const std::string& path) {
    auto layout = std::make_shared<log4cxx::PatternLayout>("%p %m%n");
    auto appender = std::make_shared<log4cxx::FileAppender>(layout, path, true);
    vx::util::getRootLogger()->addAppender(appender);
}

// A volatile pointer the compiler cannot see through: a real invalid write, not raise().
int* volatile nowhere = nullptr;

[[noreturn]] void crash() {
    *nowhere = 1;
    std::abort();
}

bool runStep(vx::util::ExceptionManager& manager, const std::string& step) {
    const auto [verb, rest] = splitPair(step);
    if (verb == "agent") {
        manager.setAgentId(rest);
    } else if (verb == "annotate") {
        const auto [key, value] = splitPair(rest);
        manager.addAnnotation(key, value);
    } else if (verb == "arg") {
        manager.addArgument(rest);
    } else if (verb == "mdc") {
        const auto [key, value] = splitPair(rest);
        log4cxx::MDC::put(key, value);
    } else if (verb == "abort") {
        manager.annotateAbort(vx::util::getLogger("vx.test.crash"), rest, {{"extra", "1"}});
    } else if (verb == "url") {
        manager.setUploadUrl(rest);
    } else if (verb == "optional") {
        const auto values = splitComma(rest);
        if (values.size() != 4) {
            return false;
        }
        manager.setOptionalArguments(values[0], values[1], values[2], values[3]);
    } else if (verb == "dump") {
        manager.writeMinidump();
    } else if (verb == "sleep") {
        // Lets the clock pass a whole second between two dumps.
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    } else if (verb == "segv") {
        crash();
    } else {
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: crash_test_app on|off ipv6|noipv6 <log file> <step>...\n");
        return 64;
    }
    attachLog(argv[3]);

    vx::util::ExceptionManagerConfig config;
    config.crashReportsEnabled = std::string(argv[1]) == "on";
    config.ipv6Allowed = std::string(argv[2]) == "ipv6";
    config.programId = "vaultaccessor";
    config.productId = "vx-vault-accessor";
    config.version = "0.6.0~3";
    config.sourceRevision = kRevision;
    config.uploadUrl = "http://127.0.0.1:8778/crashes";
    config.logFilePath = "/var/log/vx-agent/vx-vault-accessor.log";
    config.securityMode = "DEFAULT";
    config.uploaderName = "vx-minidump-uploader";
    vx::util::ExceptionManager manager(config);

    for (int index = 4; index < argc; ++index) {
        if (!runStep(manager, argv[index])) {
            std::fprintf(stderr, "crash_test_app: bad step %s\n", argv[index]);
            return 64;
        }
    }
    return 0;
}
