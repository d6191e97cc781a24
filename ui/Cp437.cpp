#include "ui/Cp437.hpp"

#include <array>

namespace orv {
namespace {

// Unicode characters of codes 128 .. 255.
constexpr std::array<char16_t, 128> kHigh{
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

// Unicode characters of codes 1 .. 31, and of 127.
constexpr std::array<char16_t, 31> kLow{
    0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022, 0x25D8, 0x25CB, 0x25D9, 0x2642,
    0x2640, 0x266A, 0x266B, 0x263C, 0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7, 0x25AC,
    0x21A8, 0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC,
};
constexpr char16_t kHouse = 0x2302;

}  // namespace

std::optional<std::uint8_t> unicodeToCp437(char32_t c) {
    if (c >= 32 && c < 127) return static_cast<std::uint8_t>(c);
    if (c == kHouse) return std::uint8_t{127};
    for (std::size_t i = 0; i < kHigh.size(); ++i)
        if (kHigh[i] == c) return static_cast<std::uint8_t>(128 + i);
    for (std::size_t i = 0; i < kLow.size(); ++i)
        if (kLow[i] == c) return static_cast<std::uint8_t>(1 + i);
    return std::nullopt;
}

namespace {

// Decodes UTF-8 into code page 437; missing gives the text for a character the code page lacks,
// invalid the text for a byte that is not valid UTF-8.
template <class Missing, class Invalid>
std::string decodeToCp437(std::string_view utf8, Missing missing, Invalid invalid) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        std::size_t length = lead < 0x80           ? 1
                             : (lead >> 5) == 0x6  ? 2
                             : (lead >> 4) == 0xE  ? 3
                             : (lead >> 3) == 0x1E ? 4
                                                   : 0;
        char32_t c = length == 1 ? lead : length == 2 ? (lead & 0x1F) : length == 3 ? (lead & 0x0F) : (lead & 0x07);
        bool valid = length != 0 && i + length <= utf8.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto cont = static_cast<unsigned char>(utf8[i + k]);
            valid = (cont & 0xC0) == 0x80;
            c = (c << 6) | (cont & 0x3F);
        }
        if (!valid) {
            out += invalid(lead);
            ++i;
            continue;
        }
        if (length == 1)
            out.push_back(static_cast<char>(lead));
        else if (std::optional<std::uint8_t> code = unicodeToCp437(c))
            out.push_back(static_cast<char>(*code));
        else
            out += missing(c);
        i += length;
    }
    return out;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

}  // namespace

std::string utf8ToCp437(std::string_view utf8) {
    return decodeToCp437(
        utf8, [](char32_t) { return std::string(); },
        [](unsigned char byte) { return std::string(1, static_cast<char>(byte)); });
}

std::string shownName(std::string_view utf8) {
    return decodeToCp437(
        utf8, [](char32_t) { return std::string("?"); }, [](unsigned char) { return std::string("?"); });
}

char32_t cp437ToUnicode(std::uint8_t code) {
    if (code >= 32 && code < 127) return code;
    if (code == 127) return kHouse;
    if (code >= 128) return kHigh[code - 128u];
    if (code >= 1) return kLow[code - 1u];
    return U'?';
}

std::string cp437ToUtf8(std::string_view codes) {
    std::string out;
    out.reserve(codes.size());
    for (char c : codes) appendUtf8(out, cp437ToUnicode(static_cast<std::uint8_t>(c)));
    return out;
}

}  // namespace orv
