#include <gtest/gtest.h>

#include "app/KeyScript.hpp"

namespace orv {
namespace {

TEST(KeyScriptFormat, ParsesKeysTextAndWaits) {
    KeyScript script =
        KeyScript::parse("# comment\n\nkey Enter\r\ntype a, \"b\" \nwait 2\nkey Close\nkey F10\nkey #\n");
    std::vector<std::string> offered;
    for (;;) {
        try {
            std::optional<Key> key = script.offerKey();
            offered.push_back(key ? keyText(*key) : "-");
        } catch (const ScriptExhausted&) {
            break;
        }
    }
    EXPECT_EQ(offered, (std::vector<std::string>{"\r", "a", ",", " ", "\"", "b", "\"", " ", "-", "-", "\xFFk",
                                                 "\xFF\x44", "#"}));
}

TEST(KeyScriptFormat, RejectsMalformedLinesNamingThem) {
    for (const char* bad : {"press Enter\n", "key Return\n", "key\n", "wait x\n", "wait -1\n", "wait 2 3\n"}) {
        try {
            KeyScript::parse(std::string("key Up\n") + bad);
            ADD_FAILURE() << "accepted: " << bad;
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find("line 2"), std::string::npos) << e.what();
        }
    }
}

}  // namespace
}  // namespace orv
