#include "app/KeyScript.hpp"

#include <charconv>

#include "ui/Cp437.hpp"

namespace orv {

KeyScript KeyScript::parse(std::string_view text) {
    KeyScript script;
    int lineNumber = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line.front() == '#') continue;

        const std::size_t blank = line.find(' ');
        const std::string_view command = line.substr(0, blank);
        const std::string_view rest = blank == std::string_view::npos ? std::string_view{} : line.substr(blank + 1);
        auto fail = [&](const std::string& why) {
            throw std::invalid_argument("line " + std::to_string(lineNumber) + ": " + why);
        };
        if (command == "key") {
            std::optional<Key> key = keyFromName(rest);
            if (!key) {
                const std::string code = utf8ToCp437(rest);
                if (code.size() == 1 && static_cast<unsigned char>(code[0]) > 32)
                    key = charKey(static_cast<std::uint8_t>(code[0]));
            }
            if (!key) fail("unknown key name '" + std::string(rest) + "'");
            script.steps_.push_back({key, 0});
        } else if (command == "type") {
            for (char c : utf8ToCp437(rest)) script.steps_.push_back({charKey(static_cast<std::uint8_t>(c)), 0});
        } else if (command == "wait") {
            long long n = -1;
            const auto [ptr, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), n);
            if (ec != std::errc{} || ptr != rest.data() + rest.size() || n < 0) fail("wait needs a count of 0 or more");
            script.steps_.push_back({std::nullopt, n});
        } else {
            fail("unknown command '" + std::string(command) + "' (use key, type or wait)");
        }
    }
    return script;
}

bool KeyScript::keyNext() const {
    for (const Step& step : steps_) {
        if (step.key) return true;
        if (step.waits > 0) return false;
    }
    return true;  // used up: the next poll ends the run, so nothing is worth waiting for
}

std::optional<Key> KeyScript::offerKey() {
    while (!steps_.empty()) {
        Step& step = steps_.front();
        if (step.key) {
            const Key key = *step.key;
            steps_.pop_front();
            return key;
        }
        if (step.waits > 0) {
            --step.waits;
            return std::nullopt;
        }
        steps_.pop_front();
    }
    throw ScriptExhausted();
}

}  // namespace orv
