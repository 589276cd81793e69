#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "FakeRequest.h"
#include "LogCapture.h"
#include "handlers/GetCredentialsHandler.h"
#include "handlers/HttpResponse.h"
#include "services/VaultExceptions.h"

namespace {

using vx::rc::IHttpResponse;
using vx::rc::vault_accessor::clients::SecureBuffer;
using vx::rc::vault_accessor::handlers::GetCredentialsHandler;
using vx::rc::vault_accessor::handlers::HttpResponse;
using namespace vx::rc::vault_accessor::service;
using ::testing::_;
using ::testing::Return;

class MockVaultService : public IVaultService {
public:
    MOCK_METHOD(Credentials, getCredentials,
                (VaultType, const std::string&, const Json::Value&, const std::vector<std::string>&), (const, override));
};

struct Answer {
    int32_t status = 0;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
};

constexpr char validRequest[] =
    R"({"vaultType":"conjur","vaultUrl":"https://vault.example","extra":1,)"
    R"("vaultAuthentication":{"account":"acct","hostId":"h","apiKey":"k"},"vaultCredentials":["b","a"]})";

class GetCredentialsHandlerTest : public ::testing::Test {
protected:
    std::shared_ptr<MockVaultService> service = std::make_shared<MockVaultService>();
    GetCredentialsHandler handler{service};
    vx::test::LogCapture logs;

    std::vector<Answer> run(const std::string& body) {
        std::vector<Answer> answers;
        handler.execute(vx::test::FakeRequest(body), [&](const IHttpResponse& response) {
            answers.push_back({response.getStatusCode(), response.getBody(), response.getHeaders()});
        });
        return answers;
    }

    std::vector<std::string> errorLines() const {
        std::vector<std::string> lines;
        for (const auto& line : logs.lines()) {
            EXPECT_EQ(line.logger, "vx.vault.handlers.GetCredentials");
            EXPECT_EQ(line.level, "ERROR");
            lines.push_back(line.message);
        }
        return lines;
    }
};

Credentials secrets(const std::vector<std::pair<std::string, std::string>>& entries) {
    Credentials credentials;
    for (const auto& [id, text] : entries) {
        credentials[id].append(text);
    }
    return credentials;
}

TEST_F(GetCredentialsHandlerTest, SuccessAnswersSortedCompactData) {
    EXPECT_CALL(*service, getCredentials(VaultType::Conjur, "https://vault.example", _,
                                         std::vector<std::string>{"b", "a"}))
        .WillOnce(Return(secrets({{"b", "two"}, {"a", std::string("one\0hidden", 10)}})));
    const auto answers = run(validRequest);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].status, 200);
    EXPECT_EQ(answers[0].body, "{\"data\":{\"a\":\"one\",\"b\":\"two\"}}\n");
    EXPECT_EQ(answers[0].headers,
              (std::vector<std::pair<std::string, std::string>>{{"Content-Type", "application/json"}}));
    EXPECT_TRUE(logs.lines().empty());
}

TEST_F(GetCredentialsHandlerTest, EmptyResultIsNull) {
    EXPECT_CALL(*service, getCredentials(_, _, _, std::vector<std::string>{})).WillOnce(Return(Credentials()));
    const auto answers = run(
        R"({"vaultType":"conjur","vaultUrl":"u","vaultAuthentication":{},"vaultCredentials":[]})");
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].status, 200);
    EXPECT_EQ(answers[0].body, "null\n");
}

TEST_F(GetCredentialsHandlerTest, ScalarIdsBecomeText) {
    EXPECT_CALL(*service, getCredentials(_, _, _, std::vector<std::string>{"7", "true", "", "x"}))
        .WillOnce(Return(Credentials()));
    run(R"({"vaultType":"conjur","vaultUrl":"u","vaultAuthentication":{},"vaultCredentials":[7,true,null,"x"]})");
}

TEST_F(GetCredentialsHandlerTest, RequestsRejectedBeforeTheVault) {
    const std::string invalidJson = "{\"error\":{\"message\":\"Invalid JSON request body\"}}\n";
    const std::string invalidData = "{\"error\":{\"message\":\"Invalid request data\"}}\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", invalidJson},
        {"abc", invalidJson},
        {"[]", invalidData},
        {"{}", invalidData},
        {R"({"vaultType":1,"vaultUrl":"u","vaultAuthentication":{},"vaultCredentials":[]})", invalidData},
        {R"({"vaultType":"conjur","vaultAuthentication":{},"vaultCredentials":[]})", invalidData},
        {R"({"vaultType":"conjur","vaultUrl":"u","vaultAuthentication":"x","vaultCredentials":[]})", invalidData},
        {R"({"vaultType":"conjur","vaultUrl":"u","vaultAuthentication":{}})", invalidData},
        {R"({"vaultType":"conjur","vaultUrl":"u","vaultAuthentication":{},"vaultCredentials":"a"})", invalidData},
        // A nested array or object has no text form.
        {R"({"vaultType":"conjur","vaultUrl":"u","vaultAuthentication":{},"vaultCredentials":["a",["b"]]})",
         invalidData},
        {R"({"vaultType":"conjur","vaultUrl":"u","vaultAuthentication":{},"vaultCredentials":[{"id":"b"}]})",
         invalidData},
    };
    EXPECT_CALL(*service, getCredentials).Times(0);
    for (const auto& [request, body] : cases) {
        const auto answers = run(request);
        ASSERT_EQ(answers.size(), 1u) << request;
        EXPECT_EQ(answers[0].status, 400) << request;
        EXPECT_EQ(answers[0].body, body) << request;
    }
    EXPECT_TRUE(logs.lines().empty());
}

TEST_F(GetCredentialsHandlerTest, UnknownVaultTypeIsCaseSensitive) {
    EXPECT_CALL(*service, getCredentials).Times(0);
    const auto answers =
        run(R"({"vaultType":"Conjur","vaultUrl":"u","vaultAuthentication":{},"vaultCredentials":[]})");
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].status, 400);
    EXPECT_EQ(answers[0].body, "{\"error\":{\"message\":\"Unknown vault type: Conjur\"}}\n");
    EXPECT_EQ(errorLines(), std::vector<std::string>{"Vault type not supported: Conjur"});
}

TEST_F(GetCredentialsHandlerTest, VaultFailureTable) {
    struct Row {
        std::function<void()> raise;
        int32_t status;
        std::string body;
        std::string logLine;
    };
    const std::string url = "https://vault.example";
    const std::string internal = "{\"error\":{\"message\":\"Internal server error\"}}\n";
    const std::vector<Row> rows = {
        {[] { throw VaultInaccessibleException(); }, 502, "{\"error\":{\"message\":\"Vault is inaccessible\"}}\n",
         "Vault inaccessible, URL: " + url},
        {[] { throw VaultAuthenticationException(); }, 401,
         "{\"error\":{\"message\":\"Vault authentication failed\"}}\n", "Vault Authentication failed, URL: " + url},
        {[] { throw VaultCredentialNotFoundException("db/pw"); }, 404,
         "{\"error\":{\"message\":\"Vault credential not found: db/pw\",\"secret_id\":\"db/pw\"}}\n",
         "Vault Credential not found: db/pw"},
        {[] { throw VaultTypeNotSupportedException(); }, 500, internal,
         "Vault type not supported, URL: " + url + ", type: 0"},
        {[] { throw VaultServiceException(); }, 500, internal, "Vault Service exception, URL: " + url},
        {[] { throw std::runtime_error("boom"); }, 500, internal, "Internal Server Error: boom, URL: " + url},
    };
    for (const auto& row : rows) {
        vx::test::LogCapture rowLogs;
        EXPECT_CALL(*service, getCredentials).WillOnce([&row](auto&&...) -> Credentials {
            row.raise();
            return {};
        });
        const auto answers = run(validRequest);
        ASSERT_EQ(answers.size(), 1u) << row.logLine;
        EXPECT_EQ(answers[0].status, row.status);
        EXPECT_EQ(answers[0].body, row.body);
        const auto lines = rowLogs.lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].message, row.logLine);
        EXPECT_EQ(lines[0].level, "ERROR");
    }
}

TEST_F(GetCredentialsHandlerTest, FailedDeliveryOfTheSuccessAnswerBecomes500) {
    EXPECT_CALL(*service, getCredentials).WillOnce(Return(secrets({{"a", "v"}})));
    std::vector<Answer> answers;
    handler.execute(vx::test::FakeRequest(validRequest), [&](const IHttpResponse& response) {
        answers.push_back({response.getStatusCode(), response.getBody(), {}});
        if (response.getStatusCode() == 200) {
            throw std::runtime_error("write failed");
        }
    });
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[1].status, 500);
    EXPECT_EQ(errorLines(), std::vector<std::string>{"Internal Server Error: write failed, URL: https://vault.example"});
}

TEST(HttpResponseTest, ErrorWithoutSecretIdHasNoSecretIdMember) {
    const HttpResponse response(502, "m", "", secrets({{"a", "never shown"}}));
    EXPECT_EQ(response.getBody(), "{\"error\":{\"message\":\"m\"}}\n");
}

}  // namespace
