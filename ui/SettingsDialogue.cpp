#include "ui/SettingsDialogue.hpp"

#include <string>
#include <vector>

#include "settings/Palette.hpp"
#include "settings/SettingsFile.hpp"
#include "settings/TextFormat.hpp"
#include "ui/Cp437.hpp"
#include "ui/Interaction.hpp"
#include "ui/LineInput.hpp"
#include "ui/Screen.hpp"

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
    // Typed in code page 437; on disk names are UTF-8.
    const std::string name =
        cp437ToUtf8(settingsFileName(promptInput(screen, " Please enter the ini file name to load: ")));

    std::string text;
    if (const std::error_code error = readSettingsFile(directory / name, text)) {
        screen.printText(unreadableFileNotice(shownName(name), error, kNoticeWidth), true);
    } else {
        applySettingsText(settings, text);
        const std::vector<ClampedSetting> changes = clampToGrid(settings, gridWidth, gridHeight);
        screen.printText(" Settings loaded.", true);
        if (!changes.empty()) screen.printText(clampNotice(changes, kNoticeWidth), true);
    }
    waitForKey(screen);
    // The seed prompt wipes only 80 columns of rows 7 and 8: the end of a long name or notice,
    // and a notice below row 8, would stay on its screen. What this dialogue wrote goes now.
    wipeRows(screen, 7, screen.cursorRow() - 1);
}

}  // namespace orv
