#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/KeyQueue.hpp"
#include "ui/Keys.hpp"

namespace orv {

// Where keys come from when nobody presses them: the headless runner's key script. pollKey asks
// the source once per call while the queue is empty; the source may throw to end the run.
class KeySource {
public:
    virtual ~KeySource() = default;
    // The key that arrives at this poll, or nothing when this poll is to find no key.
    virtual std::optional<Key> offerKey() = 0;
    // Whether the next poll will find a key (or end the run), without taking it.
    virtual bool keyNext() const { return false; }
};

// The window's contents and keyboard, as plain data: an 800 x 600 frame buffer of 0xAARRGGBB
// pixels, a 100 x 37 grid of 8 x 16 character cells drawn into it, the text cursor and colours,
// and the key queue. The platform layer shows the frame buffer and feeds keys in from its own
// thread; the frame buffer and the key queue share one lock.
class Screen {
public:
    static constexpr int kWidth = 800;
    static constexpr int kHeight = 600;
    static constexpr std::uint32_t kBlack = 0xFF000000u;
    static constexpr std::uint32_t kWhite = 0xFFFFFFFFu;
    // Where the program draws the map: cell (x, y), counted from 1, at pixel
    // (kMapOriginX + x, kMapOriginY + y).
    static constexpr int kMapOriginX = 40;
    static constexpr int kMapOriginY = 40;

    Screen();
    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;

    // Text grid of cols x rows cells; the cell size is 800 / cols by 600 / rows. Only a grid of
    // 8 x 16 cells has a font, so any other request leaves the grid as it is (result false).
    // On success the screen is cleared.
    bool setTextGrid(int cols, int rows);
    int textColumns() const { return cols_; }
    int textRows() const { return rows_; }

    void clearScreen();
    void setTextColor(std::uint32_t color);
    // Rows count 1 .. textRows(), columns 1 .. textColumns(); out of range changes nothing.
    void setCursor(int row, int column);
    void printText(std::string_view text, bool lineEnd = false);
    // A signed number: one blank before it when it is 0 or more, "-" when negative.
    void printNumber(std::int64_t value);
    // One pixel; a pixel outside the window is skipped.
    void setPixel(int x, int y, std::uint32_t color);
    // Paints a one-pixel line across the bottom pixel row of a text cell (the line editor's mark).
    void markCell(int row, int column, std::uint32_t color);

    // Runs f(pixels, pitchInPixels) under the lock, for a pass that writes many pixels at once,
    // and marks pixel rows firstRow .. lastRow for the next refresh.
    template <class F>
    void drawPass(int firstRow, int lastRow, F&& f) {
        std::lock_guard lock(mutex_);
        f(pixels_.data(), static_cast<std::ptrdiff_t>(kWidth));
        markRowsLocked(firstRow, lastRow);
    }

    // Keyboard. pollKey never waits: the oldest key's text, or "" when none is waiting.
    std::string pollKey();
    // Blocks until a key is there and takes it (with a key source: polls it until it gives one).
    Key waitKey();
    // Whether the next poll will find a key (queued, or offered next by the key source); takes none.
    bool keyWaiting() const;
    // Called by the platform layer for every key press, auto-repeats included.
    void pushKey(Key key);
    void setKeySource(KeySource* source);

    // Read access for the platform layer and for tests.
    std::uint32_t pixel(int x, int y) const;
    std::vector<std::uint32_t> frameBuffer() const;
    // The characters last printed in a row's cells, blanks where nothing was printed.
    std::string textRow(int row) const;
    int cursorRow() const;
    int cursorColumn() const;
    std::uint32_t textColor() const;
    std::size_t pendingKeys() const;
    // How many character cells have been drawn since the screen was made: the measure of the
    // drawing work text output costs.
    std::uint64_t charactersDrawn() const;

    // Copies the pixel rows changed since the last call into dst (same layout as the frame
    // buffer) and tells which rows they were; false when nothing changed.
    bool takeChangedRows(std::uint32_t* dst, int& firstRow, int& lastRow);

private:
    void clearLocked();
    void drawCharLocked(std::uint8_t code);
    void markRowsLocked(int firstRow, int lastRow);

    mutable std::mutex mutex_;
    std::condition_variable keyArrived_;
    std::vector<std::uint32_t> pixels_;
    std::vector<std::string> text_;  // what was printed in each cell, row by row
    int cols_ = 100, rows_ = 37, cellWidth_ = 8, cellHeight_ = 16;
    int row_ = 1, column_ = 1;
    std::uint32_t foreground_ = kWhite;
    std::uint32_t background_ = kBlack;
    int dirtyFirst_ = 0, dirtyLast_ = kHeight - 1;
    KeyQueue keys_;
    KeySource* source_ = nullptr;
    std::uint64_t charactersDrawn_ = 0;
};

}  // namespace orv
