#include "ui/Keys.hpp"

#include <array>
#include <utility>

namespace orv {

std::string keyText(Key key) {
    if (key.extended) return std::string{'\xFF', static_cast<char>(key.code)};
    return std::string(1, static_cast<char>(key.code));
}

std::optional<Key> keyFromText(std::string_view text) {
    if (text.size() == 1 && text[0] != '\0') return charKey(static_cast<std::uint8_t>(text[0]));
    if (text.size() == 2 && static_cast<std::uint8_t>(text[0]) == 255)
        return extendedKey(static_cast<std::uint8_t>(text[1]));
    return std::nullopt;
}

std::optional<Key> keyFromName(std::string_view name) {
    static constexpr std::array<std::pair<std::string_view, Key>, 16> kNamed{{
        {"Enter", charKey(chr::Enter)},
        {"Esc", charKey(chr::Escape)},
        {"Backspace", charKey(chr::Backspace)},
        {"Tab", charKey(chr::Tab)},
        {"Space", charKey(' ')},
        {"Up", extendedKey(ext::Up)},
        {"Down", extendedKey(ext::Down)},
        {"Left", extendedKey(ext::Left)},
        {"Right", extendedKey(ext::Right)},
        {"Home", extendedKey(ext::Home)},
        {"End", extendedKey(ext::End)},
        {"PgUp", extendedKey(ext::PageUp)},
        {"PgDn", extendedKey(ext::PageDown)},
        {"Ins", extendedKey(ext::Insert)},
        {"Del", extendedKey(ext::Delete)},
        {"Close", extendedKey(ext::Close)},
    }};
    for (const auto& [keyName, key] : kNamed)
        if (keyName == name) return key;
    if (name.size() >= 2 && name.size() <= 3 && name[0] == 'F') {
        int n = 0;
        for (char c : name.substr(1)) {
            if (c < '0' || c > '9') return std::nullopt;
            n = n * 10 + (c - '0');
        }
        if (n >= 1 && n <= 10) return extendedKey(static_cast<std::uint8_t>(ext::F1 + n - 1));
        return std::nullopt;
    }
    if (name.size() == 1 && static_cast<unsigned char>(name[0]) > 32)
        return charKey(static_cast<std::uint8_t>(name[0]));
    return std::nullopt;
}

}  // namespace orv
