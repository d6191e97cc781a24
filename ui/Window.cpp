// The only file that talks to SDL: the window, its refresh and the keyboard.
#include "ui/Window.hpp"

#include <SDL.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <thread>
#include <vector>

#include "io/PngWriter.hpp"
#include "ui/Cp437.hpp"
#include "ui/Keys.hpp"
#include "ui/ScaledPicture.hpp"
#include "ui/Screen.hpp"

namespace orv {
namespace {

constexpr Uint32 kRefreshMs = 10;

// The key of a key press that is not a printable character (those come as text input).
std::optional<Key> keyOf(const SDL_Keysym& keysym) {
    switch (keysym.sym) {
        case SDLK_RETURN:
        case SDLK_KP_ENTER:
            return charKey(chr::Enter);
        case SDLK_BACKSPACE:
            return charKey(chr::Backspace);
        case SDLK_TAB:
            return charKey(chr::Tab);
        case SDLK_ESCAPE:
            return charKey(chr::Escape);
        case SDLK_UP:
            return extendedKey(ext::Up);
        case SDLK_DOWN:
            return extendedKey(ext::Down);
        case SDLK_LEFT:
            return extendedKey(ext::Left);
        case SDLK_RIGHT:
            return extendedKey(ext::Right);
        case SDLK_HOME:
            return extendedKey(ext::Home);
        case SDLK_END:
            return extendedKey(ext::End);
        case SDLK_PAGEUP:
            return extendedKey(ext::PageUp);
        case SDLK_PAGEDOWN:
            return extendedKey(ext::PageDown);
        case SDLK_INSERT:
            return extendedKey(ext::Insert);
        case SDLK_DELETE:
            return extendedKey(ext::Delete);
        default:
            break;
    }
    if (keysym.sym >= SDLK_F1 && keysym.sym <= SDLK_F10)
        return extendedKey(static_cast<std::uint8_t>(ext::F1 + (keysym.sym - SDLK_F1)));
    return std::nullopt;
}

bool noRealDisplay() {
    const char* driver = SDL_GetCurrentVideoDriver();
    if (driver == nullptr) return true;
    const bool invisible = std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0;
    const char* asked = std::getenv("SDL_VIDEODRIVER");
    return invisible && (asked == nullptr || std::strcmp(asked, driver) != 0);
}

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

int cannotOpen(const std::string& why) {
    std::cerr << "orvandel: cannot open a window: " << why << "\n"
              << "orvandel needs a graphical display: start it from a desktop session, or set DISPLAY\n"
              << "(X11) or WAYLAND_DISPLAY, or run it under a virtual display, e.g. 'xvfb-run orvandel'.\n";
    return 1;
}

// The window at the largest whole multiple of 800 x 600 that fits the usable part of the
// screen, resizable; hidden until it is ready to be shown.
SDL_Window* openWindow(const std::string& title) {
    int scale = 1;
    if (SDL_Rect usable; SDL_GetDisplayUsableBounds(0, &usable) == 0) scale = wholeScaleFor(usable.w, usable.h);
    return SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, Screen::kWidth * scale,
                            Screen::kHeight * scale, SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE);
}

// Shows the frame buffer in the window surface, scaled, and keeps up with the surface, which
// SDL replaces whenever the window changes size. Only the pixels that changed since the last
// refresh are scaled and sent to the display.
class Presenter {
public:
    explicit Presenter(SDL_Window* window) : window_(window) {}

    // Shows what changed in frame-buffer rows first .. last, or the whole picture and its bars
    // when whole is true or the window has changed size.
    void show(const std::vector<std::uint32_t>& frame, int first, int last, bool whole) {
        SDL_Surface* surface = SDL_GetWindowSurface(window_);
        if (surface == nullptr) return;
        if (surface->w != width_ || surface->h != height_) {
            width_ = surface->w;
            height_ = surface->h;
            scaler_.resize(width_, height_);
            whole = true;
        }
        PictureScaler::Area area;
        if (whole) {
            shown_ = frame;
            area = {0, 0, Screen::kWidth - 1, Screen::kHeight - 1};
        } else {
            area = PictureScaler::takeDifferences(shown_.data(), frame.data(), first, last);
            if (area.empty()) return;
        }
        // The frame buffer's 0xAARRGGBB is the usual window format already; others are converted
        // through a copy of the window's size.
        const bool direct =
            surface->format->format == SDL_PIXELFORMAT_RGB888 || surface->format->format == SDL_PIXELFORMAT_ARGB8888;
        if (!direct) staging_.resize(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_));
        if (SDL_MUSTLOCK(surface)) SDL_LockSurface(surface);
        void* target = direct ? surface->pixels : staging_.data();
        const int pitch = direct ? surface->pitch : width_ * 4;
        if (whole) {
            for (int y = 0; y < height_; ++y)
                std::memset(static_cast<std::uint8_t*>(target) + static_cast<std::ptrdiff_t>(y) * pitch, 0,
                            static_cast<std::size_t>(width_) * 4);
        }
        const PictureScaler::Area drawn = scaler_.draw(shown_.data(), area, target, pitch);
        SDL_Rect rect = whole ? SDL_Rect{0, 0, width_, height_}
                              : SDL_Rect{drawn.firstX, drawn.firstY, drawn.lastX - drawn.firstX + 1,
                                         drawn.lastY - drawn.firstY + 1};
        if (!direct && !(drawn.empty() && !whole)) {
            SDL_ConvertPixels(
                rect.w, rect.h, SDL_PIXELFORMAT_ARGB8888,
                staging_.data() + static_cast<std::ptrdiff_t>(rect.y) * width_ + rect.x, pitch, surface->format->format,
                static_cast<std::uint8_t*>(surface->pixels) + static_cast<std::ptrdiff_t>(rect.y) * surface->pitch +
                    rect.x * surface->format->BytesPerPixel,
                surface->pitch);
        }
        if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
        if (whole)
            SDL_UpdateWindowSurface(window_);
        else if (!drawn.empty())
            SDL_UpdateWindowSurfaceRects(window_, &rect, 1);
    }

private:
    SDL_Window* window_;
    int width_ = 0, height_ = 0;
    PictureScaler scaler_;
    std::vector<std::uint32_t> shown_;    // the frame buffer as the window shows it
    std::vector<std::uint32_t> staging_;  // for windows in formats other than the frame buffer's
};

// F11 or Alt+Enter switches between the window and the whole screen; the program never sees
// either. The window manager does the resizing; without one, SDL counts the window as
// screen-sized while it stays as it was, so leaving full screen sets the size from before again
// where SDL's count differs.
void toggleFullScreen(SDL_Window* window, int& windowedWidth, int& windowedHeight) {
    if ((SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN) == 0) {
        SDL_GetWindowSize(window, &windowedWidth, &windowedHeight);
        SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN_DESKTOP);
    } else {
        SDL_SetWindowFullscreen(window, 0);
        int width = 0, height = 0;
        SDL_GetWindowSize(window, &width, &height);
        if (width != windowedWidth || height != windowedHeight)
            SDL_SetWindowSize(window, windowedWidth, windowedHeight);
    }
}

// The keys that switch to full screen and back: F11 and Alt+Enter (either Alt, either Enter).
bool isFullScreenKey(const SDL_Keysym& keysym) {
    if (keysym.sym == SDLK_F11) return true;
    return (keysym.sym == SDLK_RETURN || keysym.sym == SDLK_KP_ENTER) && (keysym.mod & KMOD_ALT) != 0;
}

// Sets the window's icon (its bytes B, G, R, A a pixel); a window without one still works.
void setIcon(SDL_Window* window, const ImageBuffer& icon) {
    SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormatFrom(
        const_cast<std::uint8_t*>(icon.pixels.data()), static_cast<int>(icon.width), static_cast<int>(icon.height), 32,
        static_cast<int>(icon.pitch), SDL_PIXELFORMAT_BGRA32);
    if (surface == nullptr) return;
    SDL_SetWindowIcon(window, surface);
    SDL_FreeSurface(surface);
}

// Events after which the whole picture is drawn again at once.
bool needsWholePicture(const SDL_Event& event) {
    if (event.type == SDL_DISPLAYEVENT) return true;
    if (event.type != SDL_WINDOWEVENT) return false;
    switch (event.window.event) {
        case SDL_WINDOWEVENT_EXPOSED:
        case SDL_WINDOWEVENT_SHOWN:
        case SDL_WINDOWEVENT_RESIZED:
        case SDL_WINDOWEVENT_SIZE_CHANGED:
        case SDL_WINDOWEVENT_MAXIMIZED:
        case SDL_WINDOWEVENT_RESTORED:
        case SDL_WINDOWEVENT_DISPLAY_CHANGED:
            return true;
        default:
            return false;
    }
}

}  // namespace

int runInWindow(const std::string& title, const ImageBuffer& icon, Screen& screen,
                const std::function<int()>& program) {
    // Only the display systems that are named are tried: a display that does not answer is then
    // reported by this program alone, not after the noise of trying the others, and never
    // papered over by an invisible stand-in. SDL_VIDEODRIVER still chooses freely.
    std::string named;  // the one display system tried, as the user named it
    if (!isSet("SDL_VIDEODRIVER")) {
        const bool x11 = isSet("DISPLAY");
        // A Wayland display is a socket in XDG_RUNTIME_DIR unless its name is a full path.
        const bool wayland =
            isSet("WAYLAND_DISPLAY") && (std::getenv("WAYLAND_DISPLAY")[0] == '/' || isSet("XDG_RUNTIME_DIR"));
        if (!x11 && !wayland)
            return cannotOpen(isSet("WAYLAND_DISPLAY")
                                  ? "WAYLAND_DISPLAY is set, but XDG_RUNTIME_DIR, where its socket is, is not"
                                  : "there is no display (neither DISPLAY nor WAYLAND_DISPLAY is set)");
        if (x11 != wayland) {
            SDL_SetHint(SDL_HINT_VIDEODRIVER, x11 ? "x11" : "wayland");
            named = x11 ? std::string("DISPLAY=") + std::getenv("DISPLAY")
                        : std::string("WAYLAND_DISPLAY=") + std::getenv("WAYLAND_DISPLAY");
        }
    }
    // Let SIGINT and SIGTERM end the process as usual instead of arriving as a close request.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        const std::string error = SDL_GetError();
        SDL_Quit();
        if (!named.empty()) return cannotOpen("no display answers at " + named);
        return cannotOpen(error.empty() ? "the video system did not start" : error);
    }
    if (noRealDisplay()) {
        SDL_Quit();
        return cannotOpen("there is no display (neither DISPLAY nor WAYLAND_DISPLAY leads to one)");
    }
    SDL_Window* window = openWindow(title);
    // Without a GPU, SDL's default OpenGL path behind the window surface runs software rendering
    // threads that compete with the generation loop; plain framebuffer copies are cheaper. The
    // environment (SDL_FRAMEBUFFER_ACCELERATION) can still ask for acceleration.
    SDL_SetHintWithPriority(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0", SDL_HINT_DEFAULT);
    SDL_Surface* surface = window != nullptr ? SDL_GetWindowSurface(window) : nullptr;
    if (surface == nullptr) {
        const std::string error = SDL_GetError();
        if (window != nullptr) SDL_DestroyWindow(window);
        SDL_Quit();
        return cannotOpen(error);
    }
    // The icon first, so that the window never shows without it (in a task bar, say).
    setIcon(window, icon);
    SDL_ShowWindow(window);
    SDL_StartTextInput();

    const Uint32 programEnded = SDL_RegisterEvents(1);
    std::atomic<bool> done{false};
    int status = 0;
    std::thread worker([&] {
        try {
            status = program();
        } catch (const std::exception& e) {
            std::cerr << "orvandel: " << e.what() << "\n";
            status = 1;
        }
        done = true;
        SDL_Event event{};
        event.type = programEnded;
        SDL_PushEvent(&event);
    });

    std::vector<std::uint32_t> frame(static_cast<std::size_t>(Screen::kWidth) * Screen::kHeight);
    Presenter presenter(window);
    bool whole = true;
    Uint32 lastRefresh = 0;
    int windowedWidth = 0, windowedHeight = 0;  // the size to go back to from full screen
    while (!done) {
        // Polling with a short sleep rather than SDL_WaitEventTimeout: the latter's wake-up
        // message can reach the X server after the window is gone at the end of the run.
        SDL_Event event;
        if (!SDL_PollEvent(&event)) {
            SDL_Delay(2);
        } else {
            do {
                if (event.type == SDL_TEXTINPUT) {
                    for (char c : utf8ToCp437(event.text.text))
                        if (c != '\0') screen.pushKey(charKey(static_cast<std::uint8_t>(c)));
                } else if (event.type == SDL_KEYDOWN && isFullScreenKey(event.key.keysym)) {
                    if (event.key.repeat == 0) toggleFullScreen(window, windowedWidth, windowedHeight);
                } else if (event.type == SDL_KEYDOWN) {
                    if (std::optional<Key> key = keyOf(event.key.keysym)) screen.pushKey(*key);
                } else if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE) {
                    screen.pushKey(extendedKey(ext::Close));
                }
                whole = whole || needsWholePicture(event);
            } while (SDL_PollEvent(&event));
        }
        const Uint32 now = SDL_GetTicks();
        if (now - lastRefresh < kRefreshMs && !whole) continue;
        lastRefresh = now;
        int first = 0, last = -1;
        const bool changed = screen.takeChangedRows(frame.data(), first, last);
        if (!changed && !whole) continue;
        presenter.show(frame, first, last, whole);
        whole = false;
    }
    worker.join();
    SDL_DestroyWindow(window);
    SDL_Quit();
    return status;
}

}  // namespace orv
