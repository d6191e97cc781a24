#include "ui/Screen.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "ui/Font.hpp"

namespace orv {

Screen::Screen() : pixels_(static_cast<std::size_t>(kWidth) * kHeight, kBlack) {
    text_.assign(static_cast<std::size_t>(rows_), std::string(static_cast<std::size_t>(cols_), ' '));
}

bool Screen::setTextGrid(int cols, int rows) {
    if (cols <= 0 || rows <= 0) return false;
    if (kWidth / cols != 8 || kHeight / rows != 16) return false;
    std::lock_guard lock(mutex_);
    cols_ = cols;
    rows_ = rows;
    cellWidth_ = kWidth / cols;
    cellHeight_ = kHeight / rows;
    clearLocked();
    return true;
}

void Screen::clearScreen() {
    std::lock_guard lock(mutex_);
    clearLocked();
}

void Screen::clearLocked() {
    std::fill(pixels_.begin(), pixels_.end(), background_);
    text_.assign(static_cast<std::size_t>(rows_), std::string(static_cast<std::size_t>(cols_), ' '));
    row_ = 1;
    column_ = 1;
    markRowsLocked(0, kHeight - 1);
}

void Screen::setTextColor(std::uint32_t color) {
    std::lock_guard lock(mutex_);
    foreground_ = color;
}

void Screen::setCursor(int row, int column) {
    std::lock_guard lock(mutex_);
    if (row < 1 || row > rows_ || column < 1 || column > cols_) return;
    row_ = row;
    column_ = column;
}

void Screen::printText(std::string_view text, bool lineEnd) {
    std::lock_guard lock(mutex_);
    for (char c : text) {
        drawCharLocked(static_cast<std::uint8_t>(c));
        if (++column_ > cols_) {
            column_ = 1;
            ++row_;
        }
    }
    if (lineEnd) {
        column_ = 1;
        ++row_;
    }
}

void Screen::drawCharLocked(std::uint8_t code) {
    // A cursor that has run off the bottom of the grid draws nothing: the screen does not scroll.
    if (row_ < 1 || row_ > rows_) return;
    ++charactersDrawn_;
    text_[static_cast<std::size_t>(row_ - 1)][static_cast<std::size_t>(column_ - 1)] = static_cast<char>(code);
    const Glyph& glyph = kFont8x16[code];
    const int x0 = (column_ - 1) * cellWidth_;
    const int y0 = (row_ - 1) * cellHeight_;
    for (int gy = 0; gy < cellHeight_; ++gy) {
        std::uint32_t* out = pixels_.data() + static_cast<std::size_t>(y0 + gy) * kWidth + x0;
        const unsigned bits = glyph[static_cast<std::size_t>(gy)];
        for (int gx = 0; gx < cellWidth_; ++gx) out[gx] = (bits & (0x80u >> gx)) ? foreground_ : background_;
    }
    markRowsLocked(y0, y0 + cellHeight_ - 1);
}

void Screen::printNumber(std::int64_t value) {
    std::string digits = std::to_string(value);
    if (value >= 0) digits.insert(digits.begin(), ' ');
    printText(digits, false);
}

void Screen::setPixel(int x, int y, std::uint32_t color) {
    if (x < 0 || x >= kWidth || y < 0 || y >= kHeight) return;
    std::lock_guard lock(mutex_);
    pixels_[static_cast<std::size_t>(y) * kWidth + static_cast<std::size_t>(x)] = color;
    markRowsLocked(y, y);
}

void Screen::markCell(int row, int column, std::uint32_t color) {
    std::lock_guard lock(mutex_);
    if (row < 1 || row > rows_ || column < 1 || column > cols_) return;
    const int y = row * cellHeight_ - 1;
    std::uint32_t* out = pixels_.data() + static_cast<std::size_t>(y) * kWidth + (column - 1) * cellWidth_;
    std::fill(out, out + cellWidth_, color);
    markRowsLocked(y, y);
}

void Screen::markRowsLocked(int firstRow, int lastRow) {
    firstRow = std::max(firstRow, 0);
    lastRow = std::min(lastRow, kHeight - 1);
    if (firstRow > lastRow) return;
    if (dirtyFirst_ > dirtyLast_) {
        dirtyFirst_ = firstRow;
        dirtyLast_ = lastRow;
    } else {
        dirtyFirst_ = std::min(dirtyFirst_, firstRow);
        dirtyLast_ = std::max(dirtyLast_, lastRow);
    }
}

std::string Screen::pollKey() {
    std::lock_guard lock(mutex_);
    if (keys_.empty() && source_ != nullptr) {
        if (std::optional<Key> offered = source_->offerKey()) keys_.push(*offered);
    }
    std::optional<Key> key = keys_.pop();
    return key ? keyText(*key) : std::string{};
}

Key Screen::waitKey() {
    std::unique_lock lock(mutex_);
    if (source_ != nullptr) {
        lock.unlock();
        for (;;) {
            std::string text = pollKey();
            if (std::optional<Key> key = keyFromText(text)) return *key;
        }
    }
    keyArrived_.wait(lock, [this] { return !keys_.empty(); });
    return *keys_.pop();
}

bool Screen::keyWaiting() const {
    std::lock_guard lock(mutex_);
    return !keys_.empty() || (source_ != nullptr && source_->keyNext());
}

void Screen::pushKey(Key key) {
    {
        std::lock_guard lock(mutex_);
        keys_.push(key);
    }
    keyArrived_.notify_all();
}

void Screen::setKeySource(KeySource* source) {
    std::lock_guard lock(mutex_);
    source_ = source;
}

std::uint32_t Screen::pixel(int x, int y) const {
    std::lock_guard lock(mutex_);
    if (x < 0 || x >= kWidth || y < 0 || y >= kHeight) return 0;
    return pixels_[static_cast<std::size_t>(y) * kWidth + static_cast<std::size_t>(x)];
}

std::vector<std::uint32_t> Screen::frameBuffer() const {
    std::lock_guard lock(mutex_);
    return pixels_;
}

std::string Screen::textRow(int row) const {
    std::lock_guard lock(mutex_);
    if (row < 1 || row > rows_) return {};
    return text_[static_cast<std::size_t>(row - 1)];
}

int Screen::cursorRow() const {
    std::lock_guard lock(mutex_);
    return row_;
}

int Screen::cursorColumn() const {
    std::lock_guard lock(mutex_);
    return column_;
}

std::uint32_t Screen::textColor() const {
    std::lock_guard lock(mutex_);
    return foreground_;
}

std::size_t Screen::pendingKeys() const {
    std::lock_guard lock(mutex_);
    return keys_.size();
}

std::uint64_t Screen::charactersDrawn() const {
    std::lock_guard lock(mutex_);
    return charactersDrawn_;
}

bool Screen::takeChangedRows(std::uint32_t* dst, int& firstRow, int& lastRow) {
    std::lock_guard lock(mutex_);
    if (dirtyFirst_ > dirtyLast_) return false;
    firstRow = dirtyFirst_;
    lastRow = dirtyLast_;
    const std::size_t offset = static_cast<std::size_t>(firstRow) * kWidth;
    const std::size_t count = static_cast<std::size_t>(lastRow - firstRow + 1) * kWidth;
    std::memcpy(dst + offset, pixels_.data() + offset, count * sizeof(std::uint32_t));
    dirtyFirst_ = 1;
    dirtyLast_ = 0;
    return true;
}

}  // namespace orv
