#include <gtest/gtest.h>

#include "tests/Session.hpp"

namespace orv::test {
namespace {

TEST(Session, ExitInTheMenuEndsAtOnceWithoutSettingsOrRandomNumbers) {
    Session s = runSession("key Down\nkey Enter\n");
    EXPECT_EQ(s.status, 0);
    EXPECT_FALSE(s.exhausted);
    EXPECT_EQ(s.program->settings, Settings{});  // nothing was read or applied
    EXPECT_FALSE(s.program->random.seeded());
    EXPECT_EQ(s.row(7), " Use pre-set conditions? (use arrow keys) exit");
}

TEST(Session, ScriptRunningOutEndsTheRun) {
    Session s = runSession("key Up\n");
    EXPECT_TRUE(s.exhausted);
    EXPECT_EQ(s.row(7), " Use pre-set conditions? (use arrow keys) yes");
}

}  // namespace
}  // namespace orv::test
