#include <gtest/gtest.h>

#include <openssl/ssl.h>

#include "ClientTestHelpers.h"
#include "support/TestHttpServer.h"

namespace vx::shared::agents::measurements::http {
namespace {

using testing::prepare;
constexpr uint64_t kLegacyBits = SSL_OP_LEGACY_SERVER_CONNECT | SSL_OP_ALLOW_UNSAFE_LEGACY_RENEGOTIATION;

// Wraps whatever TLS-context function the handle installs, to look at the context afterwards.
class ObservedHandle : public CurlHandle {
public:
    Result setSslCtxCallback(SslContextFunction function, void* userdata) override {
        ++registrations;
        wrapped = function;
        wrappedData = userdata;
        return CurlHandle::setSslCtxCallback(&observe, this);
    }

    int registrations = 0;
    int contextsBuilt = 0;
    int securityLevel = -1;
    uint64_t legacyBits = 0;

private:
    static CURLcode observe(CURL* curl, void* sslContext, void* self) {
        auto* handle = static_cast<ObservedHandle*>(self);
        const CURLcode code = handle->wrapped(curl, sslContext, handle->wrappedData);
        auto* context = static_cast<SSL_CTX*>(sslContext);
        ++handle->contextsBuilt;
        handle->securityLevel = SSL_CTX_get_security_level(context);
        handle->legacyBits = SSL_CTX_get_options(context) & kLegacyBits;
        return code;
    }

    SslContextFunction wrapped = nullptr;
    void* wrappedData = nullptr;
};

class CurlHandleTls : public ::testing::Test {
protected:
    void SetUp() override {
        prepare(handle, server.url("/tls"), response);
        ASSERT_EQ(0u, handle.setCaInfo(server.caFile()));
        // Every transfer then builds a new connection, and with it a new TLS context.
        ASSERT_EQ(0u, handle.setConnectionReuse(false));
    }

    vx::test::TestHttpServer server{vx::test::TestHttpServer::Tls::On};
    ObservedHandle handle;
    std::string response;
};

TEST_F(CurlHandleTls, VerifiesTheServerAgainstTheGivenCa) {
    ASSERT_EQ(0u, handle.perform());
    EXPECT_EQ(200, handle.getResponseCode());
    EXPECT_GT(handle.getAppConnectTimeUs(), 0);

    CurlHandle untrusting;
    std::string ignored;
    prepare(untrusting, server.url("/tls"), ignored);
    EXPECT_EQ(static_cast<ICurlHandle::Result>(CURLE_PEER_FAILED_VERIFICATION), untrusting.perform());
    EXPECT_NE("", untrusting.getErrorMessage());
}

TEST_F(CurlHandleTls, LegacyTlsIsInstalledOnceAndReadPerConnection) {
    ASSERT_EQ(0u, handle.setLegacyTls({false, true}));
    ASSERT_EQ(0u, handle.perform());
    EXPECT_EQ(1, handle.contextsBuilt);
    EXPECT_EQ(0, handle.securityLevel);
    EXPECT_EQ(0u, handle.legacyBits);  // cleared, though libcurl's defaults include one of them

    ASSERT_EQ(0u, handle.setLegacyTls({true, false}));
    ASSERT_EQ(0u, handle.perform());
    EXPECT_EQ(1, handle.registrations);
    EXPECT_EQ(2, handle.contextsBuilt);
    EXPECT_GT(handle.securityLevel, 0);
    EXPECT_EQ(kLegacyBits, handle.legacyBits);
    EXPECT_EQ(2u, server.requests().size());
}

TEST_F(CurlHandleTls, ResetForgetsTheLegacyTlsFunction) {
    ASSERT_EQ(0u, handle.setLegacyTls({true, true}));
    handle.reset();
    ASSERT_EQ(0u, handle.setUrl(server.url("/tls")));
    ASSERT_EQ(0u, handle.setCaInfo(server.caFile()));
    ASSERT_EQ(0u, handle.perform());
    EXPECT_EQ(0, handle.contextsBuilt);

    ASSERT_EQ(0u, handle.setLegacyTls({false, false}));
    EXPECT_EQ(2, handle.registrations);
}

TEST(CurlHandleTlsContext, RejectsMissingContextOrHandle) {
    CurlHandle handle;
    int notAContext = 0;
    EXPECT_EQ(CURLE_BAD_FUNCTION_ARGUMENT, CurlHandle::tlsContextCallback(nullptr, nullptr, &handle));
    EXPECT_EQ(CURLE_BAD_FUNCTION_ARGUMENT, CurlHandle::tlsContextCallback(nullptr, &notAContext, nullptr));
}

}  // namespace
}  // namespace vx::shared::agents::measurements::http
