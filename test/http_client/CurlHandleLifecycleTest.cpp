#include <gtest/gtest.h>

#include <cerrno>

#include "ClientTestHelpers.h"
#include "http_client/StaticCurlHandleFactory.h"
#include "support/RefusingPort.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"

namespace vx::shared::agents::measurements::http {
namespace {

using testing::appendToString;
using testing::prepare;
using Method = ICurlHandle::HttpMethod;
constexpr ICurlHandle::Result kBadArgument = CURLE_BAD_FUNCTION_ARGUMENT;

std::string refusedUrl(const vx::test::RefusingPort& refusing) {
    return "http://127.0.0.1:" + std::to_string(refusing.port()) + "/";
}

TEST(CurlHandleLifecycle, FreshHandleReportsNothingAndRefusesWorkUntilInit) {
    CurlHandle handle;
    EXPECT_EQ("", handle.getErrorMessage());
    EXPECT_EQ(nullptr, handle.getNativeHandle());
    EXPECT_EQ(0, handle.getResponseCode());
    EXPECT_EQ("", handle.getEffectiveUrl());
    EXPECT_EQ(0, handle.getTotalTimeUs());
    EXPECT_EQ(kBadArgument, handle.setUrl("http://127.0.0.1/"));
    EXPECT_EQ(kBadArgument, handle.setTimeout(5));
    EXPECT_EQ(kBadArgument, handle.setHeaders({"X-A: 1"}));
    EXPECT_EQ(kBadArgument, handle.setBody(Method::POST, "body"));
    EXPECT_EQ(kBadArgument, handle.setBody(Method::PUT, "body"));
    EXPECT_EQ(kBadArgument, handle.setWriteCallback(appendToString, nullptr));
    EXPECT_EQ(kBadArgument, handle.setLegacyTls({true, true}));
    EXPECT_EQ(kBadArgument, handle.setResolve("vault.test", {"192.0.2.7"}, 8443));
    EXPECT_EQ(kBadArgument, handle.setMimePost({{"field", "value"}}, {}));
    EXPECT_EQ(kBadArgument, handle.setCaInfoBlob(handle.createBlob("pem")));
    EXPECT_EQ(kBadArgument, handle.perform());
    handle.reset();  // nothing to reset in libcurl yet; must still be safe
    EXPECT_EQ(nullptr, handle.getNativeHandle());
}

TEST(CurlHandleLifecycle, SecondInitReplacesTheEasyHandleAndStartsUnconfigured) {
    vx::test::RefusingPort refusing;
    CurlHandle handle;
    ASSERT_TRUE(handle.init());
    CURL* first = handle.getNativeHandle();
    ASSERT_EQ(0u, handle.setUrl(refusedUrl(refusing)));

    ASSERT_TRUE(handle.init());
    EXPECT_NE(first, handle.getNativeHandle());
    // The URL belonged to the first easy handle.
    EXPECT_EQ(static_cast<ICurlHandle::Result>(CURLE_URL_MALFORMAT), handle.perform());

    // The error buffer is registered on the new easy handle.
    ASSERT_EQ(0u, handle.setUrl(refusedUrl(refusing)));
    EXPECT_EQ(static_cast<ICurlHandle::Result>(CURLE_COULDNT_CONNECT), handle.perform());
    EXPECT_NE("", handle.getErrorMessage());
}

TEST(CurlHandleLifecycle, ResetReleasesAFullSetUpAndTheHandleWorksWithoutInit) {
    vx::test::TestHttpServer server;
    vx::test::TempDir dir;
    const std::string upload = dir.writeFile("upload.txt", "file bytes");
    CurlHandle handle;
    std::string body;
    prepare(handle, server.url("/before"), body);
    ASSERT_EQ(0u, handle.setBody(Method::POST, "secret-body"));
    ASSERT_EQ(0u, handle.setHeaders({"X-Before: 1"}));
    ASSERT_EQ(0u, handle.setHeaders({"X-Before: 2"}));
    ASSERT_EQ(0u, handle.setResolve("vault.test", {"127.0.0.1"}, server.port()));
    ASSERT_EQ(0u, handle.setMimePost({{"field", "value"}}, {{"file", upload}}));
    ASSERT_EQ(0u, handle.setCaInfoBlob(handle.createBlob("not a certificate")));
    ASSERT_EQ(0u, handle.setHttpAuth(ICurlHandle::AuthType::Basic, "user", "password"));
    ASSERT_EQ(0u, handle.setLegacyTls({true, true}));
    ASSERT_EQ(0u, handle.setBody(Method::PUT, "upload-body"));

    handle.reset();

    std::string after;
    ASSERT_EQ(0u, handle.setUrl(server.url("/after")));
    ASSERT_EQ(0u, handle.setWriteCallback(appendToString, &after));
    ASSERT_EQ(0u, handle.perform());
    const auto requests = server.requests();
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ("GET", requests[0].method);
    EXPECT_EQ("/after", requests[0].target);
    EXPECT_EQ("", requests[0].body);
    EXPECT_FALSE(requests[0].header("X-Before"));
    EXPECT_FALSE(requests[0].header("Authorization"));
    EXPECT_EQ("", handle.getErrorMessage());

    // The error buffer is registered again.
    vx::test::RefusingPort refusing;
    ASSERT_EQ(0u, handle.setUrl(refusedUrl(refusing)));
    EXPECT_NE(0u, handle.perform());
    EXPECT_NE("", handle.getErrorMessage());
}

TEST(CurlHandleLifecycle, RefusedConnectionFillsTheErrorTextAndASuccessEmptiesIt) {
    vx::test::TestHttpServer server;
    vx::test::RefusingPort refusing;
    CurlHandle handle;
    std::string body;
    prepare(handle, refusedUrl(refusing), body);

    EXPECT_EQ(static_cast<ICurlHandle::Result>(CURLE_COULDNT_CONNECT), handle.perform());
    EXPECT_NE("", handle.getErrorMessage());
    EXPECT_EQ(ECONNREFUSED, handle.getOsErrno());
    EXPECT_EQ(0, handle.getResponseCode());

    ASSERT_EQ(0u, handle.setUrl(server.url()));
    EXPECT_EQ(0u, handle.perform());
    EXPECT_EQ("", handle.getErrorMessage());
    EXPECT_EQ(200, handle.getResponseCode());
}

TEST(CurlHandleLifecycle, QueriesAfterATransferDescribeIt) {
    vx::test::TestHttpServer server;
    server.respond({302, {{"Location", "/next"}}, "moved", std::chrono::milliseconds(20)});
    CurlHandle handle;
    std::string body;
    prepare(handle, server.url("/first?x=1"), body);
    ASSERT_EQ(0u, handle.perform());

    EXPECT_EQ(302, handle.getResponseCode());
    EXPECT_EQ("moved", body);
    EXPECT_EQ("127.0.0.1", handle.getPrimaryIp());
    EXPECT_EQ(server.url("/first?x=1"), handle.getEffectiveUrl());
    EXPECT_EQ(server.url("/next"), handle.getRedirectUrl());
    EXPECT_EQ(0, handle.getOsErrno());
    // Timings are cumulative from the start; the server waited 20 ms before answering.
    EXPECT_GE(handle.getTotalTimeUs(), 20000);
    EXPECT_LE(handle.getConnectTimeUs(), handle.getPreTransferTimeUs());
    EXPECT_LE(handle.getPreTransferTimeUs(), handle.getStartTransferTimeUs());
    EXPECT_LE(handle.getStartTransferTimeUs(), handle.getTotalTimeUs());
    EXPECT_LE(handle.getNameLookupTimeUs(), handle.getConnectTimeUs());
    EXPECT_EQ(0, handle.getAppConnectTimeUs());  // plain HTTP
    EXPECT_NEAR(handle.getTotalTime(), static_cast<double>(handle.getTotalTimeUs()) / 1e6, 1e-3);
    EXPECT_GT(handle.getStartTransferTime(), 0.0);
    EXPECT_GE(handle.getConnectTime(), handle.getNameLookupTime());
    EXPECT_GE(handle.getPreTransferTime(), handle.getConnectTime());
    EXPECT_EQ(0.0, handle.getAppConnectTime());
}

TEST(CurlHandleLifecycle, UnsupportedOptionReportsNotBuiltIn) {
    CurlHandle handle;
    EXPECT_EQ(static_cast<ICurlHandle::Result>(CURLE_NOT_BUILT_IN), handle.unsupportedOption());
    ASSERT_TRUE(handle.init());
    EXPECT_EQ(static_cast<ICurlHandle::Result>(CURLE_NOT_BUILT_IN), handle.unsupportedOption());
}

TEST(StaticCurlHandleFactory, CreatesIndependentUninitialisedHandles) {
    StaticCurlHandleFactory factory;
    CurlHandlePtr first = factory.createHandle();
    CurlHandlePtr second = factory.createHandle();
    ASSERT_TRUE(first && second);
    EXPECT_NE(first.get(), second.get());
    EXPECT_EQ(nullptr, first->getNativeHandle());
    EXPECT_EQ(kBadArgument, first->setUrl("http://127.0.0.1/"));

    ASSERT_TRUE(first->init());
    EXPECT_NE(nullptr, first->getNativeHandle());
    EXPECT_EQ(nullptr, second->getNativeHandle());
    EXPECT_EQ(kBadArgument, second->setUrl("http://127.0.0.1/"));
    first.reset();
    EXPECT_EQ(kBadArgument, second->perform());
}

TEST(StaticCurlHandleFactory, ReleasingANullPointerDoesNothing) {
    CurlHandlePtr empty(nullptr, &destroyFactoryObject<ICurlHandle>);
    empty.reset();
    destroyFactoryObject<ICurlHandle>(nullptr);
    SUCCEED();
}

TEST(StaticCurlHandleFactory, GlobalInitIsCountedAndBalanced) {
    StaticCurlHandleFactory factory;
    EXPECT_EQ(0u, factory.globalInit());
    factory.globalCleanup();  // the test environment's own initialisation is still outstanding
    CurlHandlePtr handle = factory.createHandle();
    EXPECT_TRUE(handle->init());
}

}  // namespace
}  // namespace vx::shared::agents::measurements::http
