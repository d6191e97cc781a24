#include "ui/LineInput.hpp"

#include <algorithm>

#include "settings/InputItem.hpp"
#include "ui/Keys.hpp"
#include "ui/Screen.hpp"

namespace orv {
namespace {

// The line being edited, drawn from a fixed cell on; it may run on over several rows. Only
// what a key changed is drawn again: the cells from the first changed character on, and the
// cells the insertion mark leaves and reaches. A key that changes nothing (a character at a
// full line, an arrow at the end) draws nothing.
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
                case chr::LineFeed:
                    return true;
                case chr::Backspace:
                    if (point_ > 0) erase(--point_);
                    return false;
                case chr::Escape:
                    if (!line_.empty()) changed(0);
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
            case ext::Left:
                point_ = point_ > 0 ? point_ - 1 : 0;
                break;
            case ext::Right:
                point_ = std::min(point_ + 1, line_.size());
                break;
            case ext::Home:
                point_ = 0;
                break;
            case ext::End:
                point_ = line_.size();
                break;
            case ext::Up:
                point_ = point_ >= 100 ? point_ - 100 : 0;
                break;
            case ext::Down:
                point_ = std::min(point_ + 100, line_.size());
                break;
            case ext::Delete:
                if (point_ < line_.size()) erase(point_);
                break;
            default:
                break;  // other extended keys do nothing here
        }
        return false;
    }

    // Draws what changed since the last call: the line from its first changed character on,
    // with blanks over what a longer line left behind, and the insertion mark, when withMark,
    // under the insertion point.
    void draw(bool withMark) {
        std::size_t redrawnFrom = kNone, redrawnTo = 0;
        if (changedFrom_ != kNone) {
            redrawnFrom = changedFrom_;
            redrawnTo = std::max(drawn_, line_.size() + 1);
            printCells(redrawnFrom, redrawnTo);
            drawn_ = line_.size() + 1;
            changedFrom_ = kNone;
        }
        auto redrawn = [&](std::size_t at) { return at >= redrawnFrom && at < redrawnTo; };
        const std::size_t mark = withMark ? point_ : kNone;
        // Printing a cell again wipes the mark under it.
        if (markAt_ != kNone && markAt_ != mark && !redrawn(markAt_)) printCells(markAt_, markAt_ + 1);
        if (mark != kNone && (mark != markAt_ || redrawn(mark))) {
            const std::size_t cell = static_cast<std::size_t>(column_ - 1) + mark;
            screen_.markCell(row_ + static_cast<int>(cell / static_cast<std::size_t>(cols_)),
                             static_cast<int>(cell % static_cast<std::size_t>(cols_)) + 1, screen_.textColor());
        }
        markAt_ = mark;
    }

    // The row of the line's last character (the first row for an empty line).
    int lastRow() const {
        if (line_.empty()) return row_;
        return row_ + static_cast<int>((static_cast<std::size_t>(column_ - 1) + line_.size() - 1) /
                                       static_cast<std::size_t>(cols_));
    }

    const std::string& line() const { return line_; }

private:
    static constexpr std::size_t kNone = std::string::npos;

    void changed(std::size_t at) { changedFrom_ = std::min(changedFrom_, at); }
    void insert(char c) {
        if (line_.size() >= capacity_) return;  // full: the key is refused
        changed(point_);
        line_.insert(point_++, 1, c);
    }
    void erase(std::size_t at) {
        changed(at);
        line_.erase(at, 1);
    }
    // Prints the cells from .. to - 1 of the line: its characters, blanks after its end.
    void printCells(std::size_t from, std::size_t to) {
        const std::size_t cell = static_cast<std::size_t>(column_ - 1) + from;
        screen_.setCursor(row_ + static_cast<int>(cell / static_cast<std::size_t>(cols_)),
                          static_cast<int>(cell % static_cast<std::size_t>(cols_)) + 1);
        std::string shown = from < line_.size() ? line_.substr(from, to - from) : std::string();
        shown.append(to - from - shown.size(), ' ');
        screen_.printText(shown, false);
    }

    Screen& screen_;
    int row_, column_, cols_;
    std::size_t capacity_ = 0;
    std::string line_;
    std::size_t point_ = 0;
    std::size_t drawn_ = 0;        // cells drawn so far, from the first
    std::size_t changedFrom_ = 0;  // the first cell to draw again (kNone: none); all at first
    std::size_t markAt_ = kNone;   // where the mark stands
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
