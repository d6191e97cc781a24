#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orv {

// A key as the keyboard layer hands it over: a character code 1 .. 255 of code page 437,
// or an extended key, which pollKey spells as character 255 followed by its code.
struct Key {
    std::uint8_t code = 0;
    bool extended = false;

    friend bool operator==(const Key&, const Key&) = default;
};

// The codes of the extended keys, as the second character of their key text.
namespace ext {
inline constexpr std::uint8_t Home = 71;
inline constexpr std::uint8_t Up = 72;
inline constexpr std::uint8_t PageUp = 73;
inline constexpr std::uint8_t Left = 75;
inline constexpr std::uint8_t Right = 77;
inline constexpr std::uint8_t End = 79;
inline constexpr std::uint8_t Down = 80;
inline constexpr std::uint8_t PageDown = 81;
inline constexpr std::uint8_t Insert = 82;
inline constexpr std::uint8_t Delete = 83;
inline constexpr std::uint8_t F1 = 59;  // F1 .. F10 are 59 .. 68
inline constexpr std::uint8_t F10 = 68;
inline constexpr std::uint8_t Close = 107;  // the window's close button
}  // namespace ext

// Character codes of the keys that produce control characters.
namespace chr {
inline constexpr std::uint8_t Backspace = 8;
inline constexpr std::uint8_t Tab = 9;
inline constexpr std::uint8_t LineFeed = 10;
inline constexpr std::uint8_t Enter = 13;
inline constexpr std::uint8_t Escape = 27;
}  // namespace chr

inline constexpr Key charKey(std::uint8_t code) {
    return Key{code, false};
}
inline constexpr Key extendedKey(std::uint8_t code) {
    return Key{code, true};
}

// The key text of pollKey: one character, or character 255 and the extended code.
std::string keyText(Key key);
// The key a key text stands for; nothing for the empty text or a malformed one.
std::optional<Key> keyFromText(std::string_view text);
// A key by the names the key scripts use (Enter, Esc, Up, F1, Close, one printable character, ...).
std::optional<Key> keyFromName(std::string_view name);

}  // namespace orv
