#include "settings/SettingsFile.hpp"

#include <string>
#include <vector>

#include "ui/Interaction.hpp"
#include "ui/LineInput.hpp"
#include "ui/Palette.hpp"
#include "ui/Screen.hpp"
#include "ui/TextFormat.hpp"

namespace orv {

void loadSettingsFile(Screen& screen, Settings& settings, const std::filesystem::path& directory,
                      std::int32_t gridWidth, std::int32_t gridHeight) {
    applyPresets(settings);
    screen.setTextColor(paletteColor(15));
    screen.setCursor(7, 1);
    screen.printText(repeatChar(50, " "), true);
    screen.setCursor(8, 1);
    screen.printText(repeatChar(33, " "), true);
    screen.setCursor(7, 1);
    const std::string name = settingsFileName(promptInput(screen, " Please enter the ini file name to load: "));

    std::string text;
    if (const std::error_code error = readSettingsFile(directory / name, text)) {
        screen.printText(unreadableFileNotice(name, error, kNoticeWidth), true);
    } else {
        applySettingsText(settings, text);
        const std::vector<ClampedSetting> changes = clampToGrid(settings, gridWidth, gridHeight);
        screen.printText(" Settings loaded.", true);
        if (!changes.empty()) screen.printText(clampNotice(changes, kNoticeWidth), true);
    }
    waitForKey(screen);
}

}  // namespace orv
