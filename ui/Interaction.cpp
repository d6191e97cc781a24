#include "ui/Interaction.hpp"

#include <algorithm>

#include "ui/Keys.hpp"
#include "ui/Screen.hpp"

namespace orv {

int chooseOption(Screen& screen, const std::vector<std::string>& optionTexts, int row, int column, int count) {
    count = std::clamp(count, 1, static_cast<int>(std::max<std::size_t>(optionTexts.size(), 1)));
    std::size_t width = 0;
    for (int i = 0; i < count && i < static_cast<int>(optionTexts.size()); ++i)
        width = std::max(width, optionTexts[static_cast<std::size_t>(i)].size());
    int choice = 0;
    for (;;) {
        std::string shown = choice < static_cast<int>(optionTexts.size()) ? optionTexts[static_cast<std::size_t>(choice)] : "";
        shown.append(width - shown.size(), ' ');
        screen.setCursor(row, column);
        screen.printText(shown, true);

        const Key key = screen.waitKey();
        if (key.extended && (key.code == ext::Right || key.code == ext::Up)) ++choice;
        else if (key.extended && (key.code == ext::Left || key.code == ext::Down)) --choice;
        else if (key == charKey(chr::Enter)) return choice;
        if (choice < 0) choice = count - 1;
        if (choice > count - 1) choice = 0;
    }
}

void waitForKey(Screen& screen) { (void)screen.waitKey(); }

void speedDelay(std::int32_t speed) {
    for (int pass = 0; pass < 1000; ++pass) {
        // volatile keeps every empty step: the pause must not be optimised away.
        volatile std::int64_t step = 1;
        while (step <= speed) {
            const std::int64_t next = step + 1;
            step = next;
        }
    }
}

}  // namespace orv
