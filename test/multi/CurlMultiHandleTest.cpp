// The multi-handle wrapper on its own, around the states where libcurl has nothing to work on.

#include <gtest/gtest.h>

#include "http_client/CurlHandle.h"
#include "http_client/CurlMultiHandle.h"

namespace vx::test {
namespace {

using namespace shared::agents::measurements::http;

TEST(CurlMultiHandleTest, WithoutInitEveryCallFailsCleanly) {
    CurlMultiHandle multi;
    CurlHandle handle;
    handle.init();
    int running = 7;
    EXPECT_EQ(CURLM_BAD_HANDLE, multi.socketAction(CURL_SOCKET_TIMEOUT, 0, &running));
    EXPECT_EQ(7, running);
    EXPECT_EQ(CURLM_BAD_HANDLE, multi.addHandle(&handle));
    EXPECT_NE(CURLM_OK, multi.setSocketCallback([](void*, int, ICurlMultiHandle::CurlMultiPoll) { return 0; }));
    EXPECT_NE(CURLM_OK, multi.setTimerCallback([](void*, long) { return 0; }));
    const CurlMultiMessage message = multi.readInfo();
    EXPECT_EQ(0u, message.type);
    EXPECT_EQ(nullptr, message.handle);
    EXPECT_EQ(CURLE_OK, message.result);
    EXPECT_EQ(0, message.remaining);
}

TEST(CurlMultiHandleTest, AddAndRemoveKeepTheWrapperMapInStep) {
    CurlMultiHandle multi;
    ASSERT_TRUE(multi.init());
    ASSERT_TRUE(multi.init());  // replaces the first multi handle
    CurlHandle uninitialised;
    EXPECT_EQ(CURLM_BAD_EASY_HANDLE, multi.addHandle(&uninitialised));
    EXPECT_EQ(CURLM_BAD_EASY_HANDLE, multi.addHandle(nullptr));
    EXPECT_EQ(CURLM_BAD_EASY_HANDLE, multi.removeHandle(nullptr));

    CurlHandle handle;
    ASSERT_TRUE(handle.init());
    EXPECT_EQ(CURLM_OK, multi.addHandle(&handle));
    EXPECT_EQ(CURLM_ADDED_ALREADY, multi.addHandle(&handle));
    EXPECT_EQ(CURLM_OK, multi.removeHandle(&handle));
    // Removing again is harmless to libcurl; the wrapper is no longer known.
    EXPECT_EQ(CURLM_OK, multi.removeHandle(&handle));
    EXPECT_EQ(nullptr, multi.readInfo().handle);
}

TEST(CurlMultiHandleTest, EmptyFunctionsAnswerLibcurlWithZero) {
    CurlMultiHandle multi;
    ASSERT_TRUE(multi.init());
    ASSERT_EQ(CURLM_OK, multi.setSocketCallback(nullptr));
    ASSERT_EQ(CURLM_OK, multi.setTimerCallback(nullptr));
    CurlHandle handle;
    ASSERT_TRUE(handle.init());
    handle.setUrl("http://127.0.0.1:9/");
    // libcurl calls the timer trampoline while adding; an empty function must not break the add.
    EXPECT_EQ(CURLM_OK, multi.addHandle(&handle));
    EXPECT_EQ(CURLM_OK, multi.removeHandle(&handle));
}

}  // namespace
}  // namespace vx::test
