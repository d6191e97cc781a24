// The window program in the page: the run flow as it is (runProgram), on a screen whose keys
// come from the page and whose frame buffer the page shows. The program waits for keys as it
// always does; those waits hand the browser its turn (the page suspends the run and resumes it),
// so that the page can show the picture and pass keys in.
#include <emscripten/emscripten.h>

#include <cmath>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/Headless.hpp"
#include "app/KeyScript.hpp"
#include "app/Program.hpp"
#include "io/SafeWrite.hpp"
#include "ui/Cp437.hpp"
#include "ui/Keys.hpp"
#include "ui/Screen.hpp"
#include "web/PageText.hpp"

namespace orv {
namespace {

struct PageProgram;

// The page's side: suspends the run until the page's next turn is over (idle: until a key comes),
// shows frame-buffer rows, and takes a file the program saved.
EM_ASYNC_JS(void, pageYield, (PageProgram * program, int idle), { await Module.orvandelYield(program, idle); });
EM_JS(void, pageShow, (PageProgram * program, const std::uint8_t* rgba, int first, int last),
      { Module.orvandelShow(program, rgba, first, last); });
EM_JS(void, pageSaved, (PageProgram * program, const char* path),
      { Module.orvandelSaved(program, UTF8ToString(path)); });
EM_JS(void, pageScriptDone, (PageProgram * program), { Module.orvandelScriptDone(program); });
EM_JS(double, pageClock, (), { return (performance.timeOrigin + performance.now()) / 1000; });

// How long the run goes on between the page's turns: about a frame of the display.
constexpr double kTurnMs = 16;

// The real file system (the page's, in memory), telling the page of every file saved.
class PageFiles : public FileSystem {
public:
    explicit PageFiles(PageProgram& program) : program_(program) {}
    int rename(const OpenDirectory& directory, const std::string& from, const std::string& to) override {
        const int status = FileSystem::rename(directory, from, to);
        if (status == 0) pageSaved(&program_, (directory.path + "/" + to).c_str());
        return status;
    }

private:
    PageProgram& program_;
};

// Keys from a key script (as orvandel-headless replays it) until it is used up, then from the
// page's keyboard; and the page's turns, taken while the program looks for keys.
class PageKeys : public KeySource {
public:
    PageKeys(PageProgram& program, Screen& screen) : program_(program), screen_(screen) {}

    void setScript(KeyScript script) { script_ = std::move(script); }
    void push(Key key) { typed_.push_back(key); }

    std::optional<Key> offerKey() override {
        if (scripted()) {
            takeTurn(false);
            return script_->offerKey();
        }
        takeTurn(true);
        if (typed_.empty()) return std::nullopt;
        const Key key = typed_.front();
        typed_.pop_front();
        return key;
    }

    bool keyNext() const override {
        takeTurn(false);
        return scripted() ? script_->keyNext() : !typed_.empty();
    }

    // Shows what changed since the last call; false when nothing did.
    bool show() const {
        int first = 0, last = -1;
        if (!screen_.takeChangedRows(frame_.data(), first, last)) return false;
        for (int y = first; y <= last; ++y) {
            for (int x = 0; x < Screen::kWidth; ++x) {
                const std::size_t i = static_cast<std::size_t>(y) * Screen::kWidth + static_cast<std::size_t>(x);
                const std::uint32_t p = frame_[i];
                rgba_[i] = (p & 0xFF00FF00u) | (p >> 16 & 0xFFu) | (p & 0xFFu) << 16;
            }
        }
        pageShow(&program_, reinterpret_cast<const std::uint8_t*>(rgba_.data()), first, last);
        return true;
    }

private:
    bool scripted() const {
        if (!script_) return false;
        if (!script_->finished()) return true;
        script_.reset();
        pageScriptDone(&program_);
        return false;
    }

    // After a turn's time of running, shows the picture and gives the page its turn. A program
    // that drew nothing in a whole turn while it looked for typed keys is waiting for one: then
    // the turn lasts until a key comes.
    void takeTurn(bool mayIdle) const {
        const double now = emscripten_get_now();
        if (now - lastTurn_ < kTurnMs) return;
        const bool drew = show();
        pageYield(&program_, mayIdle && !drew && typed_.empty() ? 1 : 0);
        lastTurn_ = emscripten_get_now();
    }

    PageProgram& program_;
    Screen& screen_;
    mutable std::optional<KeyScript> script_;
    std::deque<Key> typed_;
    mutable double lastTurn_ = -kTurnMs;
    mutable std::vector<std::uint32_t> frame_ =
        std::vector<std::uint32_t>(static_cast<std::size_t>(Screen::kWidth) * Screen::kHeight);
    mutable std::vector<std::uint32_t> rgba_ = frame_;
};

// One run of the program in the page, with everything it owns.
struct PageProgram {
    PageProgram(const std::string& directory, std::function<double()> clock)
        : keys(*this, screen), files(*this), program(screen, std::move(clock)) {
        screen.setKeySource(&keys);
        program.directory = directory;
        program.files = &files;
    }

    Screen screen;
    PageKeys keys;
    PageFiles files;
    Program program;
    std::string reply;
};

}  // namespace
}  // namespace orv

using orv::PageProgram;

extern "C" {

// A run of the program that reads and saves files in `directory`. clockSeconds fixes what the
// clock reads (NaN: the real clock). script, when not empty, is a key script whose keys come
// first, as orvandel-headless replays one; null with *error set (free it) when it is malformed.
EMSCRIPTEN_KEEPALIVE PageProgram* orv_program_new(const char* directory, double clockSeconds, const char* script,
                                                  char** error) {
    *error = nullptr;
    std::optional<orv::KeyScript> keys;
    if (*script != '\0') {
        try {
            keys = orv::KeyScript::parse(script);
        } catch (const std::invalid_argument& e) {
            *error = orv::pageText(e.what());
            return nullptr;
        }
    }
    std::function<double()> clock = orv::pageClock;
    if (!std::isnan(clockSeconds)) clock = [clockSeconds] { return clockSeconds; };
    auto* program = new PageProgram(directory, std::move(clock));
    if (keys) program->keys.setScript(std::move(*keys));
    return program;
}

// The whole run, from the banner to its end: the program's exit status. The page calls it
// asynchronously; it returns when the program ends.
EMSCRIPTEN_KEEPALIVE int orv_program_run(PageProgram* program) {
    const int status = orv::runProgram(program->program);
    program->keys.show();
    return status;
}

// A key pressed in the page: named (Enter, Esc, Up, F1, ... as key scripts name them) or text
// in UTF-8, each of whose characters code page 437 has is one key.
EMSCRIPTEN_KEEPALIVE void orv_program_key(PageProgram* program, int named, const char* text) {
    if (named != 0) {
        if (const std::optional<orv::Key> key = orv::keyFromName(text)) program->keys.push(*key);
        return;
    }
    for (const char c : orv::utf8ToCp437(text))
        if (c != '\0') program->keys.push(orv::charKey(static_cast<std::uint8_t>(c)));
}

// The screen's text rows, one a line, trailing blanks removed.
EMSCRIPTEN_KEEPALIVE const char* orv_program_text(PageProgram* program) {
    program->reply = orv::screenText(program->screen);
    return program->reply.c_str();
}

EMSCRIPTEN_KEEPALIVE void orv_program_delete(PageProgram* program) {
    delete program;
}

}  // extern "C"
