#include <gtest/gtest.h>

#include "http_client/StaticCurlHandleFactory.h"

namespace {

// libcurl is initialised once for the whole run, as the service does at start-up.
class CurlEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(0u, factory.globalInit()); }
    void TearDown() override { factory.globalCleanup(); }

private:
    vx::shared::agents::measurements::http::StaticCurlHandleFactory factory;
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new CurlEnvironment);
    return RUN_ALL_TESTS();
}
