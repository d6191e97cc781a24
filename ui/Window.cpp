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

#include "ui/Cp437.hpp"
#include "ui/Keys.hpp"
#include "ui/Screen.hpp"

namespace orv {
namespace {

constexpr Uint32 kRefreshMs = 10;

// The key of a key press that is not a printable character (those come as text input).
std::optional<Key> keyOf(const SDL_Keysym& keysym) {
    switch (keysym.sym) {
        case SDLK_RETURN:
        case SDLK_KP_ENTER: return charKey(chr::Enter);
        case SDLK_BACKSPACE: return charKey(chr::Backspace);
        case SDLK_TAB: return charKey(chr::Tab);
        case SDLK_ESCAPE: return charKey(chr::Escape);
        case SDLK_UP: return extendedKey(ext::Up);
        case SDLK_DOWN: return extendedKey(ext::Down);
        case SDLK_LEFT: return extendedKey(ext::Left);
        case SDLK_RIGHT: return extendedKey(ext::Right);
        case SDLK_HOME: return extendedKey(ext::Home);
        case SDLK_END: return extendedKey(ext::End);
        case SDLK_PAGEUP: return extendedKey(ext::PageUp);
        case SDLK_PAGEDOWN: return extendedKey(ext::PageDown);
        case SDLK_INSERT: return extendedKey(ext::Insert);
        case SDLK_DELETE: return extendedKey(ext::Delete);
        default: break;
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

int cannotOpen(const std::string& why) {
    std::cerr << "orvandel: cannot open a window: " << why << "\n"
              << "orvandel needs a graphical display: start it from a desktop session, or set DISPLAY\n"
              << "(X11) or WAYLAND_DISPLAY, or run it under a virtual display, e.g. 'xvfb-run orvandel'.\n";
    return 1;
}

// Copies frame-buffer rows into the window surface, converting when its format differs.
void copyRows(SDL_Surface* surface, const std::vector<std::uint32_t>& frame, int first, int last) {
    const int rows = last - first + 1;
    const void* src = frame.data() + static_cast<std::size_t>(first) * Screen::kWidth;
    auto* dst = static_cast<std::uint8_t*>(surface->pixels) + static_cast<std::size_t>(first) * surface->pitch;
    SDL_ConvertPixels(Screen::kWidth, rows, SDL_PIXELFORMAT_ARGB8888, src, Screen::kWidth * 4,
                      surface->format->format, dst, surface->pitch);
}

}  // namespace

int runInWindow(const std::string& title, Screen& screen, const std::function<int()>& program) {
    // Let SIGINT and SIGTERM end the process as usual instead of arriving as a close request.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        const std::string error = SDL_GetError();
        SDL_Quit();
        return cannotOpen(error.empty() ? "the video system did not start" : error);
    }
    if (noRealDisplay()) {
        SDL_Quit();
        return cannotOpen("there is no display (neither DISPLAY nor WAYLAND_DISPLAY leads to one)");
    }
    SDL_Window* window = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                          Screen::kWidth, Screen::kHeight, SDL_WINDOW_SHOWN);
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
    bool exposed = true;
    Uint32 lastRefresh = 0;
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
                } else if (event.type == SDL_KEYDOWN) {
                    if (std::optional<Key> key = keyOf(event.key.keysym)) screen.pushKey(*key);
                } else if (event.type == SDL_WINDOWEVENT) {
                    if (event.window.event == SDL_WINDOWEVENT_CLOSE) screen.pushKey(extendedKey(ext::Close));
                    if (event.window.event == SDL_WINDOWEVENT_EXPOSED) exposed = true;
                }
            } while (SDL_PollEvent(&event));
        }
        const Uint32 now = SDL_GetTicks();
        if (now - lastRefresh < kRefreshMs && !exposed) continue;
        lastRefresh = now;
        int first = 0, last = -1;
        const bool changed = screen.takeChangedRows(frame.data(), first, last);
        if (!changed && !exposed) continue;
        if (SDL_MUSTLOCK(surface)) SDL_LockSurface(surface);
        if (changed) copyRows(surface, frame, first, last);
        if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
        if (exposed) {
            SDL_UpdateWindowSurface(window);
        } else {
            const SDL_Rect rect{0, first, Screen::kWidth, last - first + 1};
            SDL_UpdateWindowSurfaceRects(window, &rect, 1);
        }
        exposed = false;
    }
    worker.join();
    SDL_DestroyWindow(window);
    SDL_Quit();
    return status;
}

}  // namespace orv
