#pragma once

// Runs whole sessions of the program in-process through the headless runner's own code
// (runHeadless), fed by a key script, and keeps the screen and the program state for the test
// to inspect.

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "app/Headless.hpp"

namespace orv::test {

struct Session : HeadlessSession {
    // The text of a row with trailing blanks removed.
    std::string row(int r) const {
        std::string text = screen->textRow(r);
        text.erase(text.find_last_not_of(' ') + 1);
        return text;
    }
};

struct SessionOptions {
    double clockSeconds = 1000.25;         // what the clock reads
    std::filesystem::path directory = {};  // where files are read and written
    FileSystem* files = nullptr;           // what maps are saved through; null: the real one
};

inline Session runSession(std::string_view scriptText, const SessionOptions& options = {}) {
    HeadlessOptions headless;
    headless.clock = [t = options.clockSeconds] { return t; };
    headless.directory = options.directory;
    headless.files = options.files;
    return Session{runHeadless(KeyScript::parse(scriptText), headless)};
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
