#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/InputItem.hpp"

namespace orv {
namespace {

// Every item of a text, read one after the other the way the settings file is read.
std::vector<std::string> items(std::string_view text) {
    std::vector<std::string> result;
    std::size_t pos = 0;
    do result.push_back(readInputItem(text, pos));
    while (pos < text.size());
    return result;
}

using Items = std::vector<std::string>;

TEST(InputItem, FirstItemOfATypedLine) {
    EXPECT_EQ(firstInputItem("  abc, def"), "abc");
    EXPECT_EQ(firstInputItem("\"a, b\" c"), "a, b");  // the rest after the closing quote is dropped
    EXPECT_EQ(firstInputItem("abc  "), "abc  ");      // blanks at the end stay
    EXPECT_EQ(firstInputItem(""), "");
    EXPECT_EQ(firstInputItem("\t \tx\ty "), "x\ty ");
    EXPECT_EQ(firstInputItem("ab\"c\",d"), "ab\"c\"");  // a quote inside is an ordinary character
    EXPECT_EQ(firstInputItem("\"open to the end, of it"), "open to the end, of it");
    EXPECT_EQ(firstInputItem(","), "");
}

TEST(InputItem, CommasAndLineEndsSeparateItems) {
    EXPECT_EQ(items("a=1,b=2\nc=3"), (Items{"a=1", "b=2", "c=3"}));
    EXPECT_EQ(items("a\n\nb"), (Items{"a", "", "b"}));  // an empty line is an empty item
    EXPECT_EQ(items(""), (Items{""}));
    EXPECT_EQ(items("a,"), (Items{"a"}));
    EXPECT_EQ(items("a,,b"), (Items{"a", "", "b"}));
    EXPECT_EQ(items("  a ,\t b\t"), (Items{"a ", "b\t"}));
}

TEST(InputItem, LfCrLfAndLoneCrAreEachOneLineEnd) {
    const Items expected{"x=1", "y=2", "", "z"};
    EXPECT_EQ(items("x=1\ny=2\n\nz\n"), expected);
    EXPECT_EQ(items("x=1\r\ny=2\r\n\r\nz\r\n"), expected);
    EXPECT_EQ(items("x=1\ry=2\r\rz\r"), expected);
    EXPECT_EQ(items("x=1\ry=2\n\r\nz"), expected);      // mixed, and no line end after the last
    EXPECT_EQ(items("a\n\rb"), (Items{"a", "", "b"}));  // LF then CR: two line ends
    EXPECT_EQ(items("a\r\r\nb"), (Items{"a", "", "b"}));
}

TEST(InputItem, QuotedItemsKeepCommasAndEndAtTheQuoteOrLineEnd) {
    EXPECT_EQ(items("\"a, b\" ,c"), (Items{"a, b", "c"}));
    EXPECT_EQ(items("\"a, b\"\t\nc"), (Items{"a, b", "c"}));
    EXPECT_EQ(items("\"ab\"cd,e"), (Items{"ab", "cd", "e"}));  // text after the quote starts the next item
    EXPECT_EQ(items("\"ab\ncd\""), (Items{"ab", "cd\""}));     // a line end closes the quote
    EXPECT_EQ(items("\"ab\r\ncd"), (Items{"ab", "cd"}));
    EXPECT_EQ(items("\"\""), (Items{""}));
    EXPECT_EQ(items("\"unclosed"), (Items{"unclosed"}));
}

TEST(InputItem, ItemsHoldAtMost4096CharactersAndTheRestIsTheNextItem) {
    const std::string x4096(4096, 'x');
    EXPECT_EQ(items(x4096 + ",y"), (Items{x4096, "y"}));
    EXPECT_EQ(items(x4096 + "\ny"), (Items{x4096, "y"}));
    EXPECT_EQ(items(x4096 + "z"), (Items{x4096, "z"}));
    EXPECT_EQ(items(x4096 + " \t z,w"), (Items{x4096, "z", "w"}));  // leading blanks of the rest go
    EXPECT_EQ(items(std::string(10000, 'q')),
              (Items{std::string(4096, 'q'), std::string(4096, 'q'), std::string(1808, 'q')}));
    EXPECT_EQ(items("\"" + x4096 + "\""), (Items{x4096}));
    EXPECT_EQ(items("\"" + x4096 + "ab\",c"), (Items{x4096, "ab\"", "c"}));
    EXPECT_EQ(firstInputItem(x4096 + "tail"), x4096);
}

}  // namespace
}  // namespace orv
