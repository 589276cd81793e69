// The handler behind the real server and the real curl handles, against the dev vault.
#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/value.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "DevVault.h"
#include "LogCapture.h"
#include "handlers/GetCredentialsHandler.h"
#include "http_client/StaticCurlHandleFactory.h"
#include "http_server/HttpServer.h"
#include "services/VaultService.h"
#include "support/RefusingPort.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;
using vx::test::DevVault;
using vx::test::HttpAnswer;
using vx::test::postGetCredentials;
using vx::test::TempDir;

constexpr char apiKey[] = "k3y-e2e-5b1f";
constexpr char apiKeyBase64[] = "azN5LWUyZS01YjFm";
const std::vector<std::string> secretValues = {"pw-e2e-7c2d", "value-e2e-91aa", "nulhead-e2e", "nultail-e2e"};

constexpr char fixture[] = R"({"accounts": {"acct": {
  "hosts": {"app/web 1": "k3y-e2e-5b1f"},
  "variables": {
    "prod/db/password": "pw-e2e-7c2d",
    "plain": "value-e2e-91aa",
    "with-nul": {"base64": "bnVsaGVhZC1lMmUAbnVsdGFpbC1lMmU="},
    "locked": {"status": 403},
    "invalid": {"status": 422}
  }}}, )";

std::string vaultFixture(const std::string& faults = "") {
    return std::string(fixture) + (faults.empty() ? "" : faults + ", ") + "\"x\": 0}";
}

class CurlEnvironment : public ::testing::Environment {
public:
    void SetUp() override { factory.globalInit(); }
    void TearDown() override { factory.globalCleanup(); }
    vx::shared::agents::measurements::http::StaticCurlHandleFactory factory;
};
const auto* const curlEnvironment = ::testing::AddGlobalTestEnvironment(new CurlEnvironment);

// The credential path as start-up wires it, on a free loopback port.
class Service {
public:
    explicit Service(std::chrono::seconds bound = 60s) : server_("127.0.0.1", 0, 2, 1 << 20) {
        auto factory = std::make_shared<vx::shared::agents::measurements::http::StaticCurlHandleFactory>();
        auto vaultService = std::make_shared<vx::rc::vault_accessor::service::VaultService>(factory, bound);
        server_.registerMethod(std::make_shared<vx::rc::vault_accessor::handlers::GetCredentialsHandler>(vaultService),
                               "getCredentials", "POST");
        server_.run();
        server_.waitUntilStarted();
    }
    ~Service() { server_.stop(); }
    HttpAnswer post(const std::string& body) { return postGetCredentials(server_.getListeningPort(), body); }

private:
    vx::rc::HttpServer server_;
};

std::string request(const std::string& url, const std::string& ids, const std::string& key = apiKey) {
    return R"({"vaultType":"conjur","vaultUrl":")" + url +
           R"(","vaultAuthentication":{"account":"acct","hostId":"app/web 1","apiKey":")" + key +
           R"("},"vaultCredentials":)" + ids + "}";
}

Json::Value parse(const std::string& text) {
    Json::Value value;
    std::istringstream stream(text);
    Json::CharReaderBuilder builder;
    std::string errors;
    Json::parseFromStream(builder, stream, &value, &errors);
    return value;
}

class VaultEndToEndTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (https() && std::getenv("VX_TEST_CA_DIR") == nullptr) {
            GTEST_SKIP() << "HTTPS runs inside tools/dev-vault/run-with-test-ca.sh (ctest: vault.e2e.https)";
        }
    }

    void TearDown() override {
        // Whatever happened, no log line may show the key, a token or a secret value.
        const auto logText = logs.allText();
        EXPECT_EQ(logText.find(apiKey), std::string::npos);
        for (const auto& value : secretValues) {
            EXPECT_EQ(logText.find(value), std::string::npos) << value;
        }
        if (vault_) {
            for (const auto& line : vault_->recordedRequests()) {
                for (const auto& header : parse(line)["headers"]) {
                    if (header[0].asString() == "Authorization") {
                        const auto token = header[1].asString().substr(13, 40);
                        EXPECT_EQ(logText.find(token), std::string::npos);
                    }
                }
            }
        }
    }

    bool https() const { return GetParam() == "https"; }

    DevVault& startVault(const std::string& faults = "") {
        const char* caDir = std::getenv("VX_TEST_CA_DIR");
        vault_ = std::make_unique<DevVault>(work.str(), vaultFixture(faults), https() ? caDir : "");
        return *vault_;
    }
    std::string vaultUrl() const { return https() ? vault_->httpsUrl() : vault_->httpUrl(); }

    std::vector<std::string> errorLines() const {
        std::vector<std::string> lines;
        for (const auto& line : logs.lines()) {
            if (line.level == "ERROR") {
                lines.push_back(line.message);
            }
        }
        return lines;
    }

    TempDir work;
    vx::test::LogCapture logs;
    std::unique_ptr<DevVault> vault_;
};

TEST_P(VaultEndToEndTest, ReadsSeveralSecrets) {
    startVault();
    Service service;
    // The trailing slash of the URL must not double the path separator.
    const auto answer =
        service.post(request(vaultUrl() + "/", R"(["prod/db/password","plain","with-nul","invalid","plain"])"));
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body,
              "{\"data\":{\"invalid\":\"\",\"plain\":\"value-e2e-91aa\",\"prod/db/password\":\"pw-e2e-7c2d\","
              "\"with-nul\":\"nulhead-e2e\"}}\n");
    EXPECT_TRUE(errorLines().empty());

    const auto requests = vault_->recordedRequests();
    ASSERT_EQ(requests.size(), 6u);
    const auto login = parse(requests[0]);
    EXPECT_EQ(login["path"].asString(), "/authn/acct/host%2Fapp%2Fweb%201/authenticate");
    EXPECT_EQ(parse(requests[1])["path"].asString(), "/secrets/acct/variable/prod%2Fdb%2Fpassword");
}

TEST_P(VaultEndToEndTest, SendsTheKeyAsRawBodyWithTwoHeaderLinesOnFreshConnections) {
    startVault();
    Service service;
    EXPECT_EQ(service.post(request(vaultUrl(), R"(["plain","plain"])")).status, 200);

    const auto requests = vault_->recordedRequests();
    ASSERT_EQ(requests.size(), 3u);
    const auto login = parse(requests[0]);
    EXPECT_EQ(login["method"].asString(), "POST");
    EXPECT_EQ(login["body_base64"].asString(), apiKeyBase64);
    std::vector<std::string> ownLines;
    for (const auto& header : login["headers"]) {
        const auto name = header[0].asString();
        if (name != "Host" && name != "Accept" && name != "Content-Length") {  // libcurl's own
            ownLines.push_back(name + ": " + header[1].asString());
        }
    }
    EXPECT_EQ(ownLines, (std::vector<std::string>{"Accept-Encoding: base64",
                                                  "Content-Type: application/x-www-form-urlencoded"}));

    std::set<int> connections;
    for (const auto& line : requests) {
        connections.insert(parse(line)["connection"].asInt());
    }
    EXPECT_EQ(connections.size(), requests.size()) << "every exchange opens its own connection";
}

TEST_P(VaultEndToEndTest, RefusedLoginIs401) {
    startVault();
    Service service;
    const auto answer = service.post(request(vaultUrl(), R"(["plain"])", "wrong-key"));
    EXPECT_EQ(answer.status, 401);
    EXPECT_EQ(answer.body, "{\"error\":{\"message\":\"Vault authentication failed\"}}\n");
    EXPECT_EQ(errorLines(), (std::vector<std::string>{"Authentication failed with response code: 401",
                                                      "Vault Authentication failed, URL: " + vaultUrl()}));
}

TEST_P(VaultEndToEndTest, MissingSecretIs404WithItsId) {
    startVault();
    Service service;
    const auto answer = service.post(request(vaultUrl(), R"(["plain","no/such","prod/db/password"])"));
    EXPECT_EQ(answer.status, 404);
    EXPECT_EQ(answer.body,
              "{\"error\":{\"message\":\"Vault credential not found: no/such\",\"secret_id\":\"no/such\"}}\n");
    EXPECT_EQ(errorLines(), (std::vector<std::string>{"Failed to get credential [no/such]: Secret not found",
                                                      "Vault Credential not found: no/such"}));
    EXPECT_EQ(vault_->recordedRequests().size(), 3u) << "the id after the missing one is not read";
}

TEST_P(VaultEndToEndTest, ForbiddenSecretIs500) {
    startVault();
    Service service;
    const auto answer = service.post(request(vaultUrl(), R"(["locked"])"));
    EXPECT_EQ(answer.status, 500);
    EXPECT_EQ(answer.body, "{\"error\":{\"message\":\"Internal server error\"}}\n");
    EXPECT_EQ(errorLines(),
              (std::vector<std::string>{"Failed to get credential [locked]: Token is not authorized to access the secret",
                                        "Vault Service exception, URL: " + vaultUrl()}));
}

TEST_P(VaultEndToEndTest, LoginWithEmptyBodyIs401) {
    startVault("\"login_empty_body\": true");
    Service service;
    const auto answer = service.post(request(vaultUrl(), R"(["plain"])"));
    EXPECT_EQ(answer.status, 401);
    EXPECT_EQ(vault_->recordedRequests().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Http, VaultEndToEndTest, ::testing::Values("http"));
INSTANTIATE_TEST_SUITE_P(Https, VaultEndToEndTest, ::testing::Values("https"));

class VaultEndToEndHttpTest : public VaultEndToEndTest {};

TEST_P(VaultEndToEndHttpTest, UnreachableVaultIs502) {
    Service service;
    const vx::test::RefusingPort refusing;
    for (const std::string& url :
         {"http://127.0.0.1:" + std::to_string(refusing.port()), std::string("http://vault.invalid")}) {
        const auto answer = service.post(request(url, R"(["plain"])"));
        EXPECT_EQ(answer.status, 502) << url;
        EXPECT_EQ(answer.body, "{\"error\":{\"message\":\"Vault is inaccessible\"}}\n");
    }
}

TEST_P(VaultEndToEndHttpTest, StalledVaultIsAnsweredWithinTheBound) {
    startVault("\"stall\": true");
    Service service(2s);
    const auto start = std::chrono::steady_clock::now();
    const auto answer = service.post(request(vaultUrl(), R"(["plain"])"));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(answer.status, 500);
    EXPECT_GE(elapsed, 1500ms);
    EXPECT_LT(elapsed, 45s);
    const auto errors = errorLines();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].rfind("Failed to perform transfer: ", 0), 0u) << errors[0];
}

TEST_P(VaultEndToEndHttpTest, FileUrlIsRefused) {
    // Were file:// allowed, libcurl would read this file as the login answer (status 0 -> 401).
    const auto loginFile = std::filesystem::path(work.path()) / "authn/acct/host/app/web 1/authenticate";
    std::filesystem::create_directories(loginFile.parent_path());
    std::ofstream(loginFile) << "file-content";
    Service service;
    const auto answer = service.post(request("file://" + work.str(), R"(["plain"])"));
    EXPECT_EQ(answer.status, 500);
    const auto errors = errorLines();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].rfind("Failed to perform transfer: ", 0), 0u) << errors[0];
    EXPECT_EQ(errors[1], "Vault Service exception, URL: file://" + work.str());
}

TEST_P(VaultEndToEndHttpTest, TwoRequestsAreServedAtTheSameTime) {
    startVault("\"stall\": true");
    const auto bound = 4s;
    Service service(bound);
    const auto start = std::chrono::steady_clock::now();
    auto first = std::async(std::launch::async, [&] { return service.post(request(vaultUrl(), "[]")); });
    auto second = std::async(std::launch::async, [&] { return service.post(request(vaultUrl(), "[]")); });
    EXPECT_EQ(first.get().status, 500);
    EXPECT_EQ(second.get().status, 500);
    // One after the other would take two whole bounds.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2 * bound - 500ms);
    EXPECT_EQ(vault_->recordedRequests().size(), 2u);
}

TEST_P(VaultEndToEndHttpTest, UntrustedCertificateIs500) {
    if (std::getenv("VX_TEST_CA_DIR") != nullptr) {
        GTEST_SKIP() << "the test CA is trusted in this namespace";
    }
    vault_ = std::make_unique<DevVault>(work.str(), vaultFixture(), work.file("ca"));
    Service service;
    const auto answer = service.post(request(vault_->httpsUrl(), R"(["plain"])"));
    EXPECT_EQ(answer.status, 500);
    EXPECT_TRUE(vault_->recordedRequests().empty()) << "nothing may be sent to an unverified vault";
}

INSTANTIATE_TEST_SUITE_P(Http, VaultEndToEndHttpTest, ::testing::Values("http"));

}  // namespace
