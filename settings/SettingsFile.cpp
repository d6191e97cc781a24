#include "settings/SettingsFile.hpp"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <limits>

#include "ui/InputItem.hpp"
#include "ui/Interaction.hpp"
#include "ui/LineInput.hpp"
#include "ui/Palette.hpp"
#include "ui/Screen.hpp"
#include "ui/TextFormat.hpp"

namespace orv {
namespace {

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

int digitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return 99;
}

}  // namespace

std::int32_t settingsInteger(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    if (text.empty()) return 0;
    if (text.size() >= 2 && text[0] == '&') {
        unsigned base = 8;
        std::size_t start = 1;
        switch (text[1]) {
            case 'h': case 'H': base = 16; start = 2; break;
            case 'o': case 'O': base = 8; start = 2; break;
            case 'b': case 'B': base = 2; start = 2; break;
            default: break;
        }
        std::uint32_t value = 0;
        for (std::size_t i = start; i < text.size(); ++i) {
            const int d = digitValue(text[i]);
            if (d >= static_cast<int>(base)) break;
            value = value * base + static_cast<std::uint32_t>(d);
        }
        return static_cast<std::int32_t>(value);
    }
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::int64_t magnitude = 0;
    constexpr std::int64_t kLimit = std::int64_t{1} << 31;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        magnitude = std::min(magnitude * 10 + (text[i] - '0'), kLimit);
    const std::int64_t value = negative ? -magnitude : magnitude;
    return static_cast<std::int32_t>(
        std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

void applySettingsItem(Settings& settings, std::string_view item) {
    const std::size_t eq = item.find('=');
    const std::string key = lowerCase(trimBlanks(item.substr(0, eq)));
    const std::string value = lowerCase(trimBlanks(eq == std::string_view::npos ? item : item.substr(eq + 1)));
    for (const SettingsKey& k : kSettingsKeys) {
        if (k.name == key) {
            settings.*k.field = settingsInteger(value);
            return;
        }
    }
}

void applySettingsText(Settings& settings, std::string_view text) {
    std::size_t pos = 0;
    do applySettingsItem(settings, readInputItem(text, pos));
    while (pos < text.size());
}

void loadSettingsFile(Screen& screen, Settings& settings, const std::filesystem::path& directory) {
    applyPresets(settings);
    screen.setTextColor(paletteColor(15));
    screen.setCursor(7, 1);
    screen.printText(repeatChar(50, " "), true);
    screen.setCursor(8, 1);
    screen.printText(repeatChar(33, " "), true);
    screen.setCursor(7, 1);
    std::string name = promptInput(screen, " Please enter the ini file name to load: ");
    if (name.find(".ini") == std::string::npos) name += ".ini";
    std::ifstream file(directory / name, std::ios::binary);
    if (file) {
        const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        applySettingsText(settings, text);
    }
    screen.printText(" Settings loaded.", true);
    waitForKey(screen);
}

}  // namespace orv
