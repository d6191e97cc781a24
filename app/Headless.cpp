#include "app/Headless.hpp"

namespace orv {

HeadlessSession runHeadless(KeyScript script, const HeadlessOptions& options) {
    HeadlessSession s;
    s.screen = std::make_unique<Screen>();
    s.script = std::make_unique<KeyScript>(std::move(script));
    s.screen->setKeySource(s.script.get());
    s.program = std::make_unique<Program>(*s.screen, options.clock);
    s.program->directory = options.directory;
    if (options.files != nullptr) s.program->files = options.files;
    try {
        s.status = runProgram(*s.program);
    } catch (const ScriptExhausted&) {
        s.exhausted = true;
    }
    return s;
}

std::string screenText(const Screen& screen) {
    std::string text;
    for (int row = 1; row <= screen.textRows(); ++row) {
        std::string line = screen.textRow(row);
        line.erase(line.find_last_not_of(' ') + 1);
        text += line + '\n';
    }
    return text;
}

}  // namespace orv
