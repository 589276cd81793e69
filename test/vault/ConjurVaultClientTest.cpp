#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FakeCurlHandle.h"
#include "LogCapture.h"
#include "clients/ConjurVaultClient.h"

namespace {

using vx::rc::vault_accessor::clients::ConjurVaultClient;
using vx::rc::vault_accessor::clients::CredentialResponseError;
using vx::test::FakeCurlHandleFactory;
using vx::test::ICurlHandle;
using vx::test::LogCapture;
using vx::test::Reply;

constexpr char apiKey[] = "key-9f8e7d";
constexpr char token[] = "eyJ0b2tlbiI6ImFiYyJ9";
constexpr char secret[] = "s3cr3t-value";

TEST(ConjurUrlEncodeTest, KeepsOnlyUnreservedBytes) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"AZaz09-._~", "AZaz09-._~"},
        {"prod/db/password", "prod%2Fdb%2Fpassword"},
        {"app/web 1", "app%2Fweb%201"},
        {"a+b@c&d%e", "a%2Bb%40c%26d%25e"},
        {"", ""},
        {std::string("\x00\x7f\x80\xff", 4), "%00%7F%80%FF"},
        {"\xc3\xa9", "%C3%A9"},
    };
    for (const auto& [text, encoded] : cases) {
        EXPECT_EQ(ConjurVaultClient::urlEncode(text), encoded) << text;
    }
}

TEST(ConjurUrlTest, BaseUrlLosesOneTrailingSlash) {
    auto factory = std::make_shared<FakeCurlHandleFactory>();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"https://vault.example", "https://vault.example"},
        {"https://vault.example/", "https://vault.example"},
        {"https://vault.example//", "https://vault.example/"},
        {"", ""},
    };
    for (const auto& [url, base] : cases) {
        const ConjurVaultClient client(factory, url, "acct");
        EXPECT_EQ(client.loginUrl("app/web 1"), base + "/authn/acct/host%2Fapp%2Fweb%201/authenticate") << url;
        EXPECT_EQ(client.secretUrl("prod/db/password"), base + "/secrets/acct/variable/prod%2Fdb%2Fpassword")
            << url;
    }
}

class ConjurVaultClientTest : public ::testing::Test {
protected:
    std::shared_ptr<FakeCurlHandleFactory> factory = std::make_shared<FakeCurlHandleFactory>();
    LogCapture logs;

    Reply loginReply() {
        Reply reply;
        reply.bodyPieces = {std::string(token, 8), std::string(token + 8)};
        return reply;
    }
};

TEST_F(ConjurVaultClientTest, LoginAndReadSendExactlyTheDocumentedRequests) {
    factory->replies = {loginReply(), Reply{CURLE_OK, 200, {"s3cr3t", "-value"}, "", ""}};
    ConjurVaultClient client(factory, "https://vault.example/", "acct", std::chrono::seconds(7));

    ASSERT_EQ(client.authenticate("app/web 1", apiKey), CredentialResponseError::Success);
    const auto response = client.getCredential("prod/db/password");
    EXPECT_EQ(response.error, CredentialResponseError::Success);
    EXPECT_EQ(response.value.view(), secret);
    EXPECT_EQ(response.message, "");

    ASSERT_EQ(factory->exchanges.size(), 2u);
    const auto& login = factory->exchanges[0];
    EXPECT_TRUE(login.initialised);
    EXPECT_EQ(login.url, "https://vault.example/authn/acct/host%2Fapp%2Fweb%201/authenticate");
    EXPECT_TRUE(login.hasBody);
    EXPECT_EQ(login.method, ICurlHandle::HttpMethod::POST);
    EXPECT_EQ(login.body, apiKey);
    EXPECT_EQ(login.headers, (std::vector<std::string>{"Accept-Encoding: base64",
                                                       "Content-Type: application/x-www-form-urlencoded"}));
    const auto& read = factory->exchanges[1];
    EXPECT_EQ(read.url, "https://vault.example/secrets/acct/variable/prod%2Fdb%2Fpassword");
    EXPECT_FALSE(read.hasBody);
    EXPECT_EQ(read.headers, std::vector<std::string>{std::string("Authorization: Token token=\"") + token + "\""});
    for (const auto& exchange : factory->exchanges) {
        EXPECT_EQ(exchange.protocols,
                  (std::vector<ICurlHandle::Protocol>{ICurlHandle::Protocol::HTTPS, ICurlHandle::Protocol::HTTP}));
        EXPECT_EQ(exchange.timeoutSeconds, 7);
    }

    const auto lines = logs.lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].message, "Authenticating with Conjur at: " + login.url);
    EXPECT_EQ(lines[1].message, "Authentication successful");
    EXPECT_EQ(lines[2].message, "Retrieving secret from Conjur at: " + read.url);
    EXPECT_EQ(lines[3].message, "Successfully retrieved secret: prod/db/password");
    for (const auto& line : lines) {
        EXPECT_EQ(line.level, "DEBUG");
        EXPECT_EQ(line.logger, "vx.vault.clients.ConjurVaultClient");
    }
}

TEST_F(ConjurVaultClientTest, DefaultBoundIsSixtySeconds) {
    ConjurVaultClient client(factory, "https://v", "a");
    client.authenticate("h", apiKey);
    EXPECT_EQ(factory->exchanges.at(0).timeoutSeconds, 60);
}

TEST_F(ConjurVaultClientTest, ReadBeforeLoginTakesNoHandle) {
    ConjurVaultClient client(factory, "https://v", "a");
    const auto response = client.getCredential("x");
    EXPECT_EQ(response.error, CredentialResponseError::NotAuthenticated);
    EXPECT_EQ(response.message, "Token is not set. Please authenticate first.");
    EXPECT_TRUE(factory->exchanges.empty());
    EXPECT_TRUE(logs.lines().empty());
}

TEST_F(ConjurVaultClientTest, LoginWithEmptyBodyLeavesNoToken) {
    factory->replies = {Reply{}};
    ConjurVaultClient client(factory, "https://v", "a");
    EXPECT_EQ(client.authenticate("h", apiKey), CredentialResponseError::Success);
    EXPECT_EQ(client.getCredential("x").error, CredentialResponseError::NotAuthenticated);
    EXPECT_EQ(factory->exchanges.size(), 1u);
}

TEST_F(ConjurVaultClientTest, LoginOutcomes) {
    struct Case {
        Reply reply;
        bool noHandle;
        CredentialResponseError expected;
        std::string errorLine;
    };
    const std::vector<Case> cases = {
        {Reply{CURLE_OK, 401, {}, "", ""}, false, CredentialResponseError::Unauthorized,
         "Authentication failed with response code: 401"},
        {Reply{CURLE_OK, 404, {}, "", ""}, false, CredentialResponseError::Unauthorized,
         "Authentication failed with response code: 404"},
        {Reply{CURLE_OK, 500, {"oops"}, "", ""}, false, CredentialResponseError::Unauthorized,
         "Authentication failed with response code: 500"},
        {Reply{CURLE_COULDNT_RESOLVE_HOST, 0, {}, "", "no such host"}, false, CredentialResponseError::Inaccessible,
         "Failed to perform transfer: no such host"},
        {Reply{CURLE_COULDNT_CONNECT, 0, {}, "", "refused"}, false, CredentialResponseError::Inaccessible,
         "Failed to perform transfer: refused"},
        {Reply{CURLE_PEER_FAILED_VERIFICATION, 0, {}, "", "bad cert"}, false, CredentialResponseError::Failure,
         "Failed to perform transfer: bad cert"},
        {Reply{CURLE_OPERATION_TIMEDOUT, 0, {}, "", "timed out"}, false, CredentialResponseError::Failure,
         "Failed to perform transfer: timed out"},
        {Reply{}, true, CredentialResponseError::Failure, "Failed to create handle"},
        {Reply{CURLE_OK, 200, {}, "setAllowedProtocols", "e"}, false, CredentialResponseError::Failure,
         "Failed to set allowed protocols: e"},
        {Reply{CURLE_OK, 200, {}, "setTimeout", "e"}, false, CredentialResponseError::Failure,
         "Failed to set timeout: e"},
        {Reply{CURLE_OK, 200, {}, "setUrl", "e"}, false, CredentialResponseError::Failure, "Failed to set URL: e"},
        {Reply{CURLE_OK, 200, {}, "setBody", "e"}, false, CredentialResponseError::Failure,
         "Failed to set post body: e"},
        {Reply{CURLE_OK, 200, {}, "setHeaders", "e"}, false, CredentialResponseError::Failure,
         "Failed to set headers: e"},
        {Reply{CURLE_OK, 200, {}, "setWriteCallback", "e"}, false, CredentialResponseError::Failure,
         "Failed to set write callback: e"},
    };
    for (const auto& c : cases) {
        LogCapture local;
        auto caseFactory = std::make_shared<FakeCurlHandleFactory>();
        caseFactory->replies = {c.reply};
        caseFactory->giveNoHandle = c.noHandle;
        ConjurVaultClient client(caseFactory, "https://v", "a");
        EXPECT_EQ(client.authenticate("h", apiKey), c.expected) << c.errorLine;
        std::vector<std::string> errors;
        for (const auto& line : local.lines()) {
            if (line.level == "ERROR") {
                errors.push_back(line.message);
            }
        }
        EXPECT_EQ(errors, std::vector<std::string>{c.errorLine});
    }
}

TEST_F(ConjurVaultClientTest, ReadOutcomes) {
    struct Case {
        Reply reply;
        CredentialResponseError expected;
        std::string message;
        std::string errorLine;  // empty: no ERROR line
    };
    const std::vector<Case> cases = {
        {Reply{CURLE_OK, 401, {"x"}, "", ""}, CredentialResponseError::Unauthorized, "Authentication failed", ""},
        {Reply{CURLE_OK, 403, {}, "", ""}, CredentialResponseError::Unauthorized,
         "Token is not authorized to access the secret", ""},
        {Reply{CURLE_OK, 404, {"{\"error\":1}"}, "", ""}, CredentialResponseError::NotFound, "Secret not found", ""},
        {Reply{CURLE_OK, 422, {"ignored"}, "", ""}, CredentialResponseError::Success, "", ""},
        {Reply{CURLE_OK, 502, {}, "", ""}, CredentialResponseError::Inaccessible, "Vault is inaccessible", ""},
        {Reply{CURLE_OK, 500, {}, "", ""}, CredentialResponseError::Failure,
         "Failed to retrieve secret, response code: 500", ""},
        {Reply{CURLE_COULDNT_CONNECT, 0, {}, "", "refused"}, CredentialResponseError::Inaccessible,
         "Curl couldn't connect (refused)", "Failed to perform transfer: refused"},
        {Reply{CURLE_OPERATION_TIMEDOUT, 0, {}, "", "slow"}, CredentialResponseError::Failure,
         "Failed to perform transfer(slow)", "Failed to perform transfer: slow"},
        {Reply{CURLE_OK, 200, {}, "setUrl", "e"}, CredentialResponseError::Failure, "Failed to set URL(e)",
         "Failed to set URL: e"},
        {Reply{CURLE_OK, 200, {}, "setHeaders", "e"}, CredentialResponseError::Failure, "Failed to set headers(e)",
         "Failed to set headers: e"},
        {Reply{CURLE_OK, 200, {}, "setWriteCallback", "e"}, CredentialResponseError::Failure,
         "Failed to set write callback(e)", "Failed to set write callback: e"},
        {Reply{CURLE_OK, 200, {}, "setAllowedProtocols", "e"}, CredentialResponseError::Failure,
         "Failed to set allowed protocols(e)", "Failed to set allowed protocols: e"},
    };
    for (const auto& c : cases) {
        auto caseFactory = std::make_shared<FakeCurlHandleFactory>();
        caseFactory->replies = {loginReply(), c.reply};
        ConjurVaultClient client(caseFactory, "https://v", "a");
        ASSERT_EQ(client.authenticate("h", apiKey), CredentialResponseError::Success);
        LogCapture local;
        const auto response = client.getCredential("id");
        EXPECT_EQ(response.error, c.expected) << c.message;
        EXPECT_EQ(response.message, c.message);
        EXPECT_TRUE(response.value.empty()) << c.message;
        std::vector<std::string> errors;
        for (const auto& line : local.lines()) {
            if (line.level == "ERROR") {
                errors.push_back(line.message);
            }
        }
        EXPECT_EQ(errors, c.errorLine.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.errorLine});
    }
    EXPECT_EQ(logs.allText().find(token), std::string::npos);
    EXPECT_EQ(logs.allText().find(apiKey), std::string::npos);
}

TEST_F(ConjurVaultClientTest, EveryExchangeTakesItsOwnHandleAndLoginDropsTheOldToken) {
    factory->replies = {loginReply(), Reply{CURLE_OK, 401, {}, "", ""}, Reply{}, Reply{}};
    ConjurVaultClient client(factory, "https://v", "a");
    ASSERT_EQ(client.authenticate("h", apiKey), CredentialResponseError::Success);
    EXPECT_EQ(client.authenticate("h", apiKey), CredentialResponseError::Unauthorized);
    EXPECT_EQ(client.getCredential("x").error, CredentialResponseError::NotAuthenticated);
    EXPECT_EQ(factory->exchanges.size(), 2u);
}

TEST(ConjurWriteCallbackTest, AppendsTheWholePieceAndNeverStops) {
    vx::rc::vault_accessor::clients::SecureBuffer buffer;
    char piece[] = {'a', '\0', 'b', 'c'};
    EXPECT_EQ(ConjurVaultClient::writeToSecureBuffer(piece, 2, 2, &buffer), 4u);
    EXPECT_EQ(buffer.view(), std::string("a\0bc", 4));
}

}  // namespace
