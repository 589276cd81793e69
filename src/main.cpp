// The vault accessor's entry: options, logs, crash reports, libcurl, then the local server,
// after which the main thread only sleeps until a signal ends the process.
#include <atomic>
#include <chrono>
#include <iostream>
#include <limits>
#include <memory>
#include <optional>
#include <thread>

#include "AgentIdentity.h"
#include "BuildInfo.h"
#include "LogSetup.h"
#include "OptionsParser.h"
#include "handlers/GetCredentialsHandler.h"
#include "http_client/StaticCurlHandleFactory.h"
#include "http_server/HttpServer.h"
#include "services/VaultService.h"
#include "vx/util/ExceptionManager.h"
#include "vx/util/Logging.h"

namespace {

using namespace vx::rc::vault_accessor;
using vx::shared::agents::measurements::http::ICurlHandleFactory;
using vx::shared::agents::measurements::http::StaticCurlHandleFactory;

constexpr const char* kListenAddress = "127.0.0.1";
constexpr uint16_t kListenPort = 730;
constexpr uint16_t kServerThreads = 2;
constexpr const char* kMethodName = "getCredentials";
constexpr const char* kHttpMethod = "POST";
constexpr auto kWaitStep = std::chrono::seconds(5);
constexpr int kExitStartupFailed = 1;

VX_DEFINE_LOGGER(mainLogger, "vx.vault.main")

std::string getAgentId() { return readAgentId(kAgentIdentityFile); }

vx::util::ExceptionManagerConfig crashReportConfig(const Options& options) {
    vx::util::ExceptionManagerConfig config;
    config.crashReportsEnabled = options.crashReports();
    config.ipv6Allowed = options.servicesAllowIpv6();
    config.programId = "vaultaccessor";
    config.productId = "vx-vault-accessor";
    config.version = vx::build::kVersion;
    config.buildId = "";
    config.sourceRevision = vx::build::kSourceRevision;
    config.uploadUrl = options.crashUploadUrl();
    config.logFilePath = options.mainLogFilePath();
    config.securityMode = options.securityMode();
    config.uploaderName = "vx-minidump-uploader";
    return config;
}

// Creates the server and the request path, runs it and waits for good. Leaves only by
// throwing, for example when port 730 is taken or may not be bound.
void serve(const std::shared_ptr<ICurlHandleFactory>& factory, std::unique_ptr<vx::rc::HttpServer>& server) {
    VX_LOG_INFO(mainLogger(), "Starting vault accessor version " << vx::build::kVersion);
    server = std::make_unique<vx::rc::HttpServer>(kListenAddress, kListenPort, kServerThreads,
                                                  std::numeric_limits<std::size_t>::max());
    {
        auto vaultService = std::make_shared<service::VaultService>(factory);
        auto handler = std::make_shared<handlers::GetCredentialsHandler>(std::move(vaultService));
        server->registerMethod(handler, kMethodName, kHttpMethod);
    }  // the route table owns the handler, the handler the service
    server->run();
    server->waitUntilStarted();

    std::atomic<bool> running{true};  // nothing clears it: the process ends by a signal
    while (running) {
        std::this_thread::sleep_for(kWaitStep);  // resumes an interrupted sleep itself
    }
}

}  // namespace

int main(int argc, const char** argv) {
    auto outcome = parseOptions(argc, argv, std::cout, std::cerr);
    if (!outcome.options) {
        return outcome.exitStatus;
    }
    const Options& options = *outcome.options;

    // The crash handler points into the manager, so it is built in place and never moves.
    std::optional<vx::util::ExceptionManager> exceptionManager;
    try {
        setUpLogs(options);
        exceptionManager.emplace(crashReportConfig(options));
    } catch (const std::exception& e) {
        std::cerr << "Start-up failed: " << e.what() << std::endl;
        return kExitStartupFailed;
    }
    exceptionManager->setAgentId(getAgentId());

    std::shared_ptr<ICurlHandleFactory> factory = std::make_shared<StaticCurlHandleFactory>();
    if (const auto code = factory->globalInit(); code != 0) {
        VX_LOG_FATAL(mainLogger(), "Failed to initialize curl: " << code);
        return kExitStartupFailed;
    }

    std::unique_ptr<vx::rc::HttpServer> server;
    try {
        serve(factory, server);
    } catch (const std::exception& e) {
        VX_LOG_FATAL(mainLogger(), "Top level exception, exiting: " << e.what());
        std::cerr << "Top level exception, exiting: " << e.what() << std::endl;
        exceptionManager->addAnnotation("ExceptionType", "UnhandledException");
        exceptionManager->addAnnotation("ExceptionMessage", e.what());
        exceptionManager->writeMinidump();
        factory->globalCleanup();
        VX_LOG_INFO(mainLogger(), "VaultAccessor has stopped.");
    }
    // Only a failed start-up gets here; never report it to the supervisor as success.
    // The factory goes before the server, as the entry has always released them.
    factory.reset();
    server.reset();
    return kExitStartupFailed;
}
