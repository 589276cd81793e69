#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "FakeCurlHandle.h"
#include "LogCapture.h"
#include "services/VaultExceptions.h"
#include "services/VaultService.h"

namespace {

using vx::rc::vault_accessor::clients::CredentialResponse;
using vx::rc::vault_accessor::clients::CredentialResponseError;
using vx::rc::vault_accessor::clients::IConjurVaultClient;
using vx::rc::vault_accessor::clients::SecureBuffer;
using namespace vx::rc::vault_accessor::service;
using ::testing::_;
using ::testing::Return;

class MockConjurVaultClient : public IConjurVaultClient {
public:
    MOCK_METHOD(CredentialResponseError, authenticate, (const std::string&, const std::string&), (override));
    MOCK_METHOD(CredentialResponse, getCredential, (const std::string&), (override));
};

// Hands out a prepared mock instead of a real client and keeps the arguments it got.
class TestVaultService : public VaultService {
public:
    TestVaultService() : VaultService(std::make_shared<vx::test::FakeCurlHandleFactory>()) {}

    std::unique_ptr<IConjurVaultClient> createConjurVaultClient(const std::string& vaultUrl,
                                                                const std::string& account) const override {
        createdFor.emplace_back(vaultUrl, account);
        return std::move(client);
    }

    mutable std::unique_ptr<MockConjurVaultClient> client = std::make_unique<MockConjurVaultClient>();
    mutable std::vector<std::pair<std::string, std::string>> createdFor;
};

CredentialResponse value(const std::string& text) {
    SecureBuffer buffer;
    buffer.append(text);
    return CredentialResponse(std::move(buffer));
}

Json::Value authentication() {
    Json::Value auth;
    auth["account"] = "acct";
    auth["hostId"] = "app/web";
    auth["apiKey"] = "k3y";
    return auth;
}

// Runs getCredentials and names the exception type it ended with.
template <typename Call>
std::string outcomeOf(Call call) {
    try {
        call();
        return "none";
    } catch (const VaultServiceException&) {
        return "VaultServiceException";
    } catch (const VaultTypeNotSupportedException&) {
        return "VaultTypeNotSupportedException";
    } catch (const VaultCredentialNotFoundException& error) {
        return "VaultCredentialNotFoundException(" + error.getSecretId() + ")";
    } catch (const VaultAuthenticationException&) {
        return "VaultAuthenticationException";
    } catch (const VaultInaccessibleException&) {
        return "VaultInaccessibleException";
    }
}

TEST(VaultServiceTest, LoginResultTable) {
    const std::vector<std::pair<int32_t, std::string>> table = {
        {3, "VaultAuthenticationException"}, {5, "VaultInaccessibleException"}, {1, "VaultServiceException"},
        {2, "VaultServiceException"},        {4, "VaultServiceException"},      {-1, "VaultServiceException"},
    };
    for (const auto& [code, expected] : table) {
        vx::test::LogCapture logs;
        TestVaultService service;
        EXPECT_CALL(*service.client, authenticate(_, _)).WillOnce(Return(static_cast<CredentialResponseError>(code)));
        EXPECT_CALL(*service.client, getCredential(_)).Times(0);
        EXPECT_EQ(outcomeOf([&] { service.getConjurCredentials("https://v", authentication(), {"a"}); }), expected)
            << code;
        EXPECT_TRUE(logs.lines().empty()) << "the client has logged the cause";
    }
}

TEST(VaultServiceTest, ReadResultTable) {
    const std::vector<std::pair<int32_t, std::string>> table = {
        {2, "VaultAuthenticationException"},
        {4, "VaultCredentialNotFoundException(b)"},
        {5, "VaultInaccessibleException"},
        {1, "VaultServiceException"},
        {3, "VaultServiceException"},
        {9, "VaultServiceException"},
    };
    for (const auto& [code, expected] : table) {
        vx::test::LogCapture logs;
        TestVaultService service;
        EXPECT_CALL(*service.client, authenticate("app/web", "k3y")).WillOnce(Return(CredentialResponseError::Success));
        EXPECT_CALL(*service.client, getCredential("a")).WillOnce(Return(value("1")));
        EXPECT_CALL(*service.client, getCredential("b"))
            .WillOnce(Return(CredentialResponse(static_cast<CredentialResponseError>(code), "why")));
        EXPECT_CALL(*service.client, getCredential("c")).Times(0);
        EXPECT_EQ(outcomeOf([&] { service.getConjurCredentials("https://v", authentication(), {"a", "b", "c"}); }),
                  expected);
        const auto lines = logs.lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].level, "ERROR");
        EXPECT_EQ(lines[0].logger, "vx.vault.services.VaultService");
        EXPECT_EQ(lines[0].message, "Failed to get credential [b]: why");
    }
}

TEST(VaultServiceTest, RepeatedIdsAreReadEachTimeAndTheFirstValueStays) {
    TestVaultService service;
    ::testing::InSequence order;
    EXPECT_CALL(*service.client, authenticate(_, _)).WillOnce(Return(CredentialResponseError::Success));
    EXPECT_CALL(*service.client, getCredential("a")).WillOnce(Return(value("first")));
    EXPECT_CALL(*service.client, getCredential("b")).WillOnce(Return(value("bee")));
    EXPECT_CALL(*service.client, getCredential("a")).WillOnce(Return(value("second")));

    const auto credentials =
        service.getCredentials(VaultType::Conjur, "https://v", authentication(), {"a", "b", "a"});
    ASSERT_EQ(credentials.size(), 2u);
    EXPECT_EQ(credentials.at("a").view(), "first");
    EXPECT_EQ(credentials.at("b").view(), "bee");
    EXPECT_EQ(service.createdFor, (std::vector<std::pair<std::string, std::string>>{{"https://v", "acct"}}));
}

TEST(VaultServiceTest, AuthenticationMembersAreReadAsText) {
    TestVaultService service;
    Json::Value auth;
    auth["hostId"] = "h";
    auth["apiKey"] = 12345;
    EXPECT_CALL(*service.client, authenticate("h", "12345")).WillOnce(Return(CredentialResponseError::Success));
    EXPECT_TRUE(service.getConjurCredentials("u", auth, {}).empty());
    EXPECT_EQ(service.createdFor.at(0).second, "");  // missing account: empty, the vault decides
}

TEST(VaultServiceTest, UnknownVaultTypeMakesNoClient) {
    TestVaultService service;
    EXPECT_EQ(outcomeOf([&] { service.getCredentials(static_cast<VaultType>(1), "u", authentication(), {}); }),
              "VaultTypeNotSupportedException");
    EXPECT_TRUE(service.createdFor.empty());
}

}  // namespace
