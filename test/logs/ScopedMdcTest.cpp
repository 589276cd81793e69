#include "LogTestSupport.h"

#include "vx/util/LogManager.h"
#include "vx/util/ScopedMdc.h"

#include <log4cxx/mdc.h>

#include <thread>

namespace vx::util::test {
namespace {

namespace lm = vx::util::log_manager;
using Mdc = lm::Mdc;

class ScopedMdcTest : public LogHierarchyTest {};

TEST_F(ScopedMdcTest, RestoresEarlierValuesAndRemovesItsOwnKeys) {
    log4cxx::MDC::put("request", "outer");
    log4cxx::MDC::put("untouched", "1");
    {
        lm::ScopedMdc guard({{"request", "inner"}, {"vault", "conjur"}});
        EXPECT_EQ(lm::currentMdc(),
                  (Mdc{{"request", "inner"}, {"untouched", "1"}, {"vault", "conjur"}}));
        {
            lm::ScopedMdc nested(Mdc{{"vault", "other"}});
            EXPECT_EQ(lm::currentMdc().at("vault"), "other");
        }
        EXPECT_EQ(lm::currentMdc().at("vault"), "conjur");
    }
    EXPECT_EQ(lm::currentMdc(), (Mdc{{"request", "outer"}, {"untouched", "1"}}));
}

TEST_F(ScopedMdcTest, EmptyGuardChangesNothing) {
    log4cxx::MDC::put("key", "value");
    { lm::ScopedMdc guard(Mdc{}); }
    EXPECT_EQ(lm::currentMdc(), (Mdc{{"key", "value"}}));
}

TEST_F(ScopedMdcTest, ContextBelongsToTheCallingThread) {
    lm::ScopedMdc guard(Mdc{{"thread", "main"}});
    Mdc seenElsewhere{{"not", "read"}};
    std::thread other([&seenElsewhere] { seenElsewhere = lm::currentMdc(); });
    other.join();
    EXPECT_TRUE(seenElsewhere.empty());
    EXPECT_EQ(lm::currentMdc(), (Mdc{{"thread", "main"}}));
}

}  // namespace
}  // namespace vx::util::test
