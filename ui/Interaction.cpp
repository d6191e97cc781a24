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
        std::string shown =
            choice < static_cast<int>(optionTexts.size()) ? optionTexts[static_cast<std::size_t>(choice)] : "";
        shown.append(width - shown.size(), ' ');
        screen.setCursor(row, column);
        screen.printText(shown, true);

        const Key key = screen.waitKey();
        if (key.extended && (key.code == ext::Right || key.code == ext::Up))
            ++choice;
        else if (key.extended && (key.code == ext::Left || key.code == ext::Down))
            --choice;
        else if (key == charKey(chr::Enter))
            return choice;
        if (choice < 0) choice = count - 1;
        if (choice > count - 1) choice = 0;
    }
}

void waitForKey(Screen& screen) {
    (void)screen.waitKey();
}

void speedDelay(std::int32_t speed, const std::function<bool()>& keyWaiting) {
    // A look for a key costs about as much as a hundred steps: one look every 2^16 steps costs
    // nothing measurable and answers a key within a tenth of a millisecond. The steps are
    // counted in runs between the looks, so that each step costs what it always has.
    constexpr std::int64_t kStepsBetweenLooks = std::int64_t{1} << 16;
    std::int64_t untilLook = kStepsBetweenLooks;
    for (int pass = 0; pass < 1000; ++pass) {
        // volatile keeps every empty step: the pause must not be optimised away.
        volatile std::int64_t step = 1;
        while (step <= speed) {
            const std::int64_t first = step;
            const std::int64_t runEnd = std::min<std::int64_t>(speed, first + untilLook - 1);
            while (step <= runEnd) {
                const std::int64_t next = step + 1;
                step = next;
            }
            untilLook -= runEnd - first + 1;
            if (untilLook == 0) {
                if (keyWaiting && keyWaiting()) return;
                untilLook = kStepsBetweenLooks;
            }
        }
    }
}

void wipeRows(Screen& screen, int first, int last) {
    for (int row = std::max(first, 1); row <= last && row <= screen.textRows(); ++row) {
        screen.setCursor(row, 1);
        screen.printText(std::string(static_cast<std::size_t>(screen.textColumns()), ' '), false);
    }
}

}  // namespace orv
