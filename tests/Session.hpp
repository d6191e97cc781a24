#pragma once

// Runs whole sessions of the program in-process, fed by a key script, exactly as the headless
// runner does, and keeps the screen and the program state for the test to inspect.

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "app/KeyScript.hpp"
#include "app/Program.hpp"
#include "ui/Screen.hpp"

namespace orv::test {

struct Session {
    std::unique_ptr<Screen> screen = std::make_unique<Screen>();
    std::unique_ptr<KeyScript> script;
    std::unique_ptr<Program> program;
    int status = -1;          // runProgram's result; -1 when the script ran out first
    bool exhausted = false;   // the script was used up while the program waited for a key

    // The text of a row with trailing blanks removed.
    std::string row(int r) const {
        std::string text = screen->textRow(r);
        text.erase(text.find_last_not_of(' ') + 1);
        return text;
    }
};

struct SessionOptions {
    double clockSeconds = 1000.25;           // what the clock reads
    std::filesystem::path directory = {};    // where files are read and written
    FileSystem* files = nullptr;             // what maps are saved through; null: the real one
};

inline Session runSession(std::string_view scriptText, const SessionOptions& options = {}) {
    Session s;
    s.script = std::make_unique<KeyScript>(KeyScript::parse(scriptText));
    s.screen->setKeySource(s.script.get());
    s.program = std::make_unique<Program>(*s.screen, [t = options.clockSeconds] { return t; });
    s.program->directory = options.directory;
    if (options.files != nullptr) s.program->files = options.files;
    try {
        s.status = runProgram(*s.program);
    } catch (const ScriptExhausted&) {
        s.exhausted = true;
    }
    return s;
}

// A fresh empty directory under the system's temporary directory, removed with the object.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "orvandel-test-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace orv::test
