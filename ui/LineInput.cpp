#include "ui/LineInput.hpp"

#include <algorithm>

#include "ui/InputItem.hpp"
#include "ui/Keys.hpp"
#include "ui/Screen.hpp"

namespace orv {
namespace {

// The line being edited, drawn from a fixed cell on; it may run on over several rows.
class LineEditor {
public:
    LineEditor(Screen& screen, int row, int column)
        : screen_(screen), row_(row), column_(column), cols_(screen.textColumns()) {
        // The line may fill the grid up to its last cell but one, which keeps room for the
        // insertion mark behind the last character; the screen does not scroll.
        const long cellsLeft = static_cast<long>(screen.textRows() - row) * cols_ + (cols_ - column + 1);
        capacity_ = static_cast<std::size_t>(std::clamp(cellsLeft - 1, 0L, static_cast<long>(kMaxItemLength)));
    }

    // Applies one key; true when the key ends the editing.
    bool apply(Key key) {
        if (!key.extended) {
            switch (key.code) {
                case chr::Enter:
                case chr::LineFeed: return true;
                case chr::Backspace:
                    if (point_ > 0) line_.erase(--point_, 1);
                    return false;
                case chr::Escape:
                    line_.clear();
                    point_ = 0;
                    return false;
                case chr::Tab:
                    do insert(' ');
                    while (point_ % 8 != 0 && line_.size() < capacity_);
                    return false;
                default:
                    if (key.code >= 32) insert(static_cast<char>(key.code));
                    return false;
            }
        }
        switch (key.code) {
            case ext::Left: point_ = point_ > 0 ? point_ - 1 : 0; break;
            case ext::Right: point_ = std::min(point_ + 1, line_.size()); break;
            case ext::Home: point_ = 0; break;
            case ext::End: point_ = line_.size(); break;
            case ext::Up: point_ = point_ >= 100 ? point_ - 100 : 0; break;
            case ext::Down: point_ = std::min(point_ + 100, line_.size()); break;
            case ext::Delete:
                if (point_ < line_.size()) line_.erase(point_, 1);
                break;
            default: break;  // other extended keys do nothing here
        }
        return false;
    }

    // Redraws the line, blanks over what a shorter line left behind, and marks the insertion point.
    void draw(bool withMark) {
        screen_.setCursor(row_, column_);
        // One blank after the line wipes the mark that may stand there and what a longer line left.
        std::string shown = line_;
        shown.append(std::max(drawn_, line_.size() + 1) - line_.size(), ' ');
        screen_.printText(shown, false);
        drawn_ = line_.size() + 1;
        if (withMark) {
            const std::size_t cell = static_cast<std::size_t>(column_ - 1) + point_;
            screen_.markCell(row_ + static_cast<int>(cell / static_cast<std::size_t>(cols_)),
                             static_cast<int>(cell % static_cast<std::size_t>(cols_)) + 1, screen_.textColor());
        }
    }

    // The row of the line's last character (the first row for an empty line).
    int lastRow() const {
        if (line_.empty()) return row_;
        return row_ + static_cast<int>((static_cast<std::size_t>(column_ - 1) + line_.size() - 1) /
                                       static_cast<std::size_t>(cols_));
    }

    const std::string& line() const { return line_; }

private:
    void insert(char c) {
        if (line_.size() >= capacity_) return;  // full: the key is refused
        line_.insert(point_++, 1, c);
    }

    Screen& screen_;
    int row_, column_, cols_;
    std::size_t capacity_ = 0;
    std::string line_;
    std::size_t point_ = 0;
    std::size_t drawn_ = 0;
};

}  // namespace

std::string promptInput(Screen& screen, std::string_view prompt) {
    screen.printText(prompt, false);
    LineEditor editor(screen, screen.cursorRow(), screen.cursorColumn());
    editor.draw(true);
    while (!editor.apply(screen.waitKey())) editor.draw(true);
    editor.draw(false);
    screen.setCursor(editor.lastRow(), 1);
    screen.printText("", true);
    return firstInputItem(editor.line());
}

}  // namespace orv
