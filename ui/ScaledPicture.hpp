#pragma once

#include <cstdint>
#include <vector>

namespace orv {

// Where the 800 x 600 frame buffer is shown in a window of any size: as large as the window
// allows with its shape kept, in whole multiples from 800 x 600 on, centred between black bars.
struct Placement {
    int x = 0, y = 0;           // the picture's top-left corner in the window
    int width = 0, height = 0;  // its size; 0 when the window has no room at all
};

Placement placePicture(int windowWidth, int windowHeight);

// The largest whole multiple of 800 x 600 that fits in a screen area (at least 1).
int wholeScaleFor(int areaWidth, int areaHeight);

// Scales frame-buffer rows into a window's pixels, nearest neighbour: every window pixel of the
// picture shows the frame-buffer pixel under its centre.
class PictureScaler {
public:
    // For a window of this size; the bars are not drawn here.
    void resize(int windowWidth, int windowHeight);
    const Placement& placement() const { return placement_; }

    // A block of frame-buffer pixels, or of window pixels; empty when first > last on an axis.
    struct Area {
        int firstX = 0, firstY = 0, lastX = -1, lastY = -1;
        bool empty() const { return firstX > lastX || firstY > lastY; }
    };

    // Draws the part of the picture that shows the frame-buffer area into target (the window's
    // pixels, pitch in bytes, 0xAARRGGBB like the frame buffer) and returns the window area it
    // covered (empty when a picture smaller than the frame buffer shows none of its pixels).
    Area draw(const std::uint32_t* frame, const Area& area, void* target, int pitch) const;

    // The smallest area of frame-buffer rows first .. last holding every pixel in which shown
    // and frame differ (empty when none does); those pixels of shown are set to frame's.
    static Area takeDifferences(std::uint32_t* shown, const std::uint32_t* frame, int first, int last);

private:
    Placement placement_;
    std::vector<int> sourceColumn_;  // for each picture column, the frame-buffer column it shows
    std::vector<int> sourceRow_;     // for each picture row, the frame-buffer row it shows
};

// A picture of width x height pixels (rows top first) resized to newWidth x newHeight, each new
// pixel taking the colour that covers most of its area in the picture, the one met first (row
// by row) of colours covering as much. No colour is mixed from others, so a map keeps its
// classes' colours at every size, and whole multiples are plain enlargements and
// reductions. Every size must be at least 1.
std::vector<std::uint32_t> resizedByMajority(const std::vector<std::uint32_t>& picture, int width, int height,
                                             int newWidth, int newHeight);

}  // namespace orv
