#include <gtest/gtest.h>

#include "ClientTestHelpers.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"

namespace vx::shared::agents::measurements::http {
namespace {

using testing::prepare;
using Method = ICurlHandle::HttpMethod;
using Protocol = ICurlHandle::Protocol;

class CurlHandleWire : public ::testing::Test {
protected:
    vx::test::RecordedRequest onlyRequest() const {
        const auto requests = server.requests();
        EXPECT_EQ(1u, requests.size());
        return requests.empty() ? vx::test::RecordedRequest{} : requests.front();
    }

    vx::test::TestHttpServer server;
    CurlHandle handle;
    std::string response;
};

struct BodyCase {
    Method method;
    std::string body;
    std::string expectedVerb;
};

TEST_F(CurlHandleWire, SetBodySendsTheExactBytesWithTheRightVerb) {
    const std::string withNul("k\0ey\r\n", 6);
    const BodyCase cases[] = {
        {Method::GET, withNul, "POST"},   {Method::POST, withNul, "POST"},
        {Method::POST, "", "POST"},       {Method::DELETE, "gone", "DELETE"},
        {Method::PATCH, "{}", "PATCH"},   {Method::PUT, withNul, "PUT"},
        {Method::PUT, "", "PUT"},         {Method::PUT, std::string(70000, 'x'), "PUT"},
    };
    size_t index = 0;
    for (const auto& c : cases) {
        CurlHandle fresh;
        prepare(fresh, server.url("/body"), response);
        ASSERT_EQ(0u, fresh.setBody(c.method, c.body));
        ASSERT_EQ(0u, fresh.perform());
        const auto requests = server.requests();
        ASSERT_EQ(index + 1, requests.size());
        EXPECT_EQ(c.expectedVerb, requests[index].method) << index;
        EXPECT_EQ(c.body, requests[index].body) << index;
        ++index;
    }
}

TEST_F(CurlHandleWire, PutBodyIsRewoundWhenARedirectRepeatsIt) {
    server.respond({307, {{"Location", "/again"}}, ""});
    prepare(handle, server.url("/first"), response);
    ASSERT_EQ(0u, handle.setFollowLocation(true));
    ASSERT_EQ(0u, handle.setBody(Method::PUT, "put body"));
    ASSERT_EQ(0u, handle.perform());
    const auto requests = server.requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ("PUT", requests[1].method);
    EXPECT_EQ("/again", requests[1].target);
    EXPECT_EQ("put body", requests[1].body);
}

TEST_F(CurlHandleWire, BodyStreamPostsWhatTheReadFunctionGives) {
    UploadBody source{"streamed", 0};
    prepare(handle, server.url(), response);
    ASSERT_EQ(0u, handle.setBodyStream(Method::POST, readStringBody, &source, source.body.size()));
    ASSERT_EQ(0u, handle.perform());
    const auto request = onlyRequest();
    EXPECT_EQ("POST", request.method);
    EXPECT_EQ("streamed", request.body);
}

TEST_F(CurlHandleWire, CustomVerbStaysUntilReset) {
    prepare(handle, server.url(), response);
    ASSERT_EQ(0u, handle.setMethod(Method::DELETE));
    ASSERT_EQ(0u, handle.setMethod(Method::GET));
    ASSERT_EQ(0u, handle.perform());
    EXPECT_EQ("DELETE", onlyRequest().method);
}

TEST_F(CurlHandleWire, LaterHeaderListWinsAndAnEmptyOneRemovesCustomHeaders) {
    prepare(handle, server.url(), response);
    ASSERT_EQ(0u, handle.setHeaders({"X-First: 1"}));
    ASSERT_EQ(0u, handle.setHeaders({"X-Second: 2", "Authorization: Token token=\"abc\""}));
    ASSERT_EQ(0u, handle.perform());
    ASSERT_EQ(0u, handle.setHeaders({}));
    ASSERT_EQ(0u, handle.perform());

    const auto requests = server.requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_FALSE(requests[0].header("X-First"));
    EXPECT_EQ("2", requests[0].header("X-Second"));
    EXPECT_EQ("Token token=\"abc\"", requests[0].header("Authorization"));
    EXPECT_FALSE(requests[1].header("X-Second"));
    EXPECT_FALSE(requests[1].header("Authorization"));
}

TEST_F(CurlHandleWire, ResolvePinsAHostNameToTheGivenAddress) {
    const std::string port = std::to_string(server.port());
    prepare(handle, "http://vault.invalid:" + port + "/pinned", response);
    ASSERT_EQ(0u, handle.setResolve("vault.invalid", {"127.0.0.1"}, server.port()));
    ASSERT_EQ(0u, handle.perform());
    EXPECT_EQ("vault.invalid:" + port, onlyRequest().header("Host"));
    EXPECT_EQ("127.0.0.1", handle.getPrimaryIp());
}

TEST_F(CurlHandleWire, AllowedProtocolsLimitTheSchemes) {
    prepare(handle, server.url(), response);
    EXPECT_EQ(0u, handle.setAllowedProtocols({}));  // leaves libcurl's default: everything
    ASSERT_EQ(0u, handle.perform());

    ASSERT_EQ(0u, handle.setAllowedProtocols({Protocol::HTTPS}));
    EXPECT_EQ(static_cast<ICurlHandle::Result>(CURLE_UNSUPPORTED_PROTOCOL), handle.perform());
    EXPECT_NE("", handle.getErrorMessage());
    // A rejected list sets nothing, so HTTP stays forbidden.
    EXPECT_EQ(static_cast<ICurlHandle::Result>(CURLE_BAD_FUNCTION_ARGUMENT),
              handle.setAllowedProtocols({Protocol::HTTP, static_cast<Protocol>(6)}));
    EXPECT_EQ(static_cast<ICurlHandle::Result>(CURLE_UNSUPPORTED_PROTOCOL), handle.perform());

    ASSERT_EQ(0u, handle.setAllowedProtocols({Protocol::HTTPS, Protocol::HTTP, Protocol::HTTPS}));
    ASSERT_EQ(0u, handle.perform());
    EXPECT_EQ(2u, server.requests().size());
}

TEST_F(CurlHandleWire, AuthNoneSendsNoCredentialsAndBasicDoes) {
    prepare(handle, server.url(), response);
    ASSERT_EQ(0u, handle.setHttpAuth(ICurlHandle::AuthType::None, "user", "password"));
    ASSERT_EQ(0u, handle.perform());
    ASSERT_EQ(0u, handle.setHttpAuth(ICurlHandle::AuthType::Basic, "user", "password"));
    ASSERT_EQ(0u, handle.perform());

    const auto requests = server.requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_FALSE(requests[0].header("Authorization"));
    EXPECT_EQ("Basic dXNlcjpwYXNzd29yZA==", requests[1].header("Authorization"));
}

TEST_F(CurlHandleWire, MimePostSendsFieldsAndFiles) {
    vx::test::TempDir dir;
    const std::string path = dir.writeFile("report.txt", "file content");
    prepare(handle, server.url(), response);
    ASSERT_EQ(0u, handle.setMimePost({{"field", std::string("va\0lue", 6)}}, {{"upload", path}}));
    ASSERT_EQ(0u, handle.perform());
    const auto request = onlyRequest();
    EXPECT_EQ("POST", request.method);
    EXPECT_NE(std::string::npos, request.header("Content-Type").value_or("").find("multipart/form-data"));
    EXPECT_NE(std::string::npos, request.body.find("name=\"field\""));
    EXPECT_NE(std::string::npos, request.body.find(std::string("va\0lue", 6)));
    EXPECT_NE(std::string::npos, request.body.find("filename=\"report.txt\""));
    EXPECT_NE(std::string::npos, request.body.find("file content"));
}

}  // namespace
}  // namespace vx::shared::agents::measurements::http
