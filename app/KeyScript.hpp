#pragma once

#include <deque>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "ui/Screen.hpp"

namespace orv {

// Thrown when the program polls for a key and the script has none left.
struct ScriptExhausted : std::runtime_error {
    ScriptExhausted() : std::runtime_error("the key script is used up") {}
};

// A key script for the headless runner, one command a line:
//   key NAME     one key: Enter, Esc, Backspace, Tab, Space, Up, Down, Left, Right, Home, End,
//                PgUp, PgDn, Ins, Del, F1 .. F10, Close, or one printable character
//   type TEXT    every character after the one blank, literally, one key each
//   wait N       the next N polls find no key
// Empty lines and lines starting with '#' are ignored. Keys are offered one per poll, only
// when the program polls, in script order.
class KeyScript : public KeySource {
public:
    // Parses a script; throws std::invalid_argument naming the line of a malformed command.
    static KeyScript parse(std::string_view text);

    std::optional<Key> offerKey() override;
    bool keyNext() const override;
    bool finished() const { return steps_.empty(); }

private:
    struct Step {
        std::optional<Key> key;  // a key, or else a wait
        long long waits = 0;
    };
    std::deque<Step> steps_;
};

}  // namespace orv
