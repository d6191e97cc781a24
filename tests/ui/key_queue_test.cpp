#include <gtest/gtest.h>

#include "ui/KeyQueue.hpp"
#include "ui/Keys.hpp"

namespace orv {
namespace {

TEST(KeyQueue, HoldsFifteenKeysAndDropsTheOldest) {
    KeyQueue queue;
    for (int i = 1; i <= 16; ++i) queue.push(charKey(static_cast<std::uint8_t>('a' + i - 1)));
    EXPECT_EQ(queue.size(), 15u);
    // 'a' was pushed out by the sixteenth key; the rest come out oldest first.
    for (int i = 2; i <= 16; ++i) EXPECT_EQ(queue.pop(), charKey(static_cast<std::uint8_t>('a' + i - 1)));
    EXPECT_FALSE(queue.pop().has_value());
}

TEST(KeyQueue, KeepsWorkingAfterWrappingAroundManyTimes) {
    KeyQueue queue;
    for (int round = 0; round < 100; ++round) {
        queue.push(charKey(1));
        queue.push(extendedKey(ext::Up));
        EXPECT_EQ(queue.pop(), charKey(1));
        EXPECT_EQ(queue.pop(), extendedKey(ext::Up));
        EXPECT_TRUE(queue.empty());
    }
}

TEST(KeyText, SpellsCharactersAndExtendedKeys) {
    EXPECT_EQ(keyText(charKey(chr::Enter)), std::string(1, '\r'));
    EXPECT_EQ(keyText(extendedKey(ext::Up)), std::string("\xFF"
                                                         "H"));
    EXPECT_EQ(keyFromText(std::string("\xFF"
                                      "k")),
              extendedKey(ext::Close));
    EXPECT_FALSE(keyFromText("").has_value());
    EXPECT_EQ(keyFromName("F10"), extendedKey(68));
    EXPECT_EQ(keyFromName("PgDn"), extendedKey(ext::PageDown));
    EXPECT_EQ(keyFromName("x"), charKey('x'));
    EXPECT_FALSE(keyFromName("F11").has_value());
    EXPECT_FALSE(keyFromName("Enterprise").has_value());
}

}  // namespace
}  // namespace orv
