// Feeds arbitrary bytes to the settings-file reader as the contents of a file, then clamps the
// result for the window's grids and for grids whose size comes from the input.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "settings/InputItem.hpp"
#include "settings/SettingsFile.hpp"
#include "tests/fuzz/FuzzCheck.hpp"

namespace {

void checkClamp(orv::Settings settings, std::int32_t width, std::int32_t height) {
    const orv::Settings before = settings;
    const auto changes = orv::clampToGrid(settings, width, height);
    FUZZ_CHECK(settings.xsize >= 1 && settings.xsize <= std::max(width, 1));
    FUZZ_CHECK(settings.ysize >= 1 && settings.ysize <= std::max(height, 1));
    FUZZ_CHECK(settings.oceanedgesizex >= 0 && settings.oceanedgesizey >= 0);
    for (const orv::ClampedSetting& change : changes) {
        FUZZ_CHECK(change.from != change.to);
        bool known = false;
        for (const orv::SettingsKey& key : orv::kSettingsKeys) {
            if (key.name != change.key) continue;
            known = true;
            FUZZ_CHECK(before.*key.field == change.from);
            FUZZ_CHECK(settings.*key.field == change.to);
        }
        FUZZ_CHECK(known);
    }
    FUZZ_CHECK(orv::clampToGrid(settings, width, height).empty());
    const std::string notice = orv::clampNotice(changes, orv::kNoticeWidth);
    FUZZ_CHECK(notice.size() <= orv::kNoticeWidth);
    FUZZ_CHECK(notice.empty() == changes.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    // The items: never longer than the limit, and every read moves on.
    std::size_t pos = 0;
    do {
        const std::size_t before = pos;
        const std::string item = orv::readInputItem(text, pos);
        FUZZ_CHECK(item.size() <= orv::kMaxItemLength);
        FUZZ_CHECK(pos > before || pos == text.size());
        FUZZ_CHECK(pos <= text.size());
    } while (pos < text.size());

    orv::Settings settings;
    orv::applyPresets(settings);
    orv::applySettingsText(settings, text);

    // Every item sets a field to a value of its own, so reading the file again changes nothing.
    orv::Settings again = settings;
    orv::applySettingsText(again, text);
    FUZZ_CHECK(again == settings);

    // A byte-order mark in front changes nothing either.
    constexpr std::string_view kMark = "\xEF\xBB\xBF";
    if (!text.starts_with(kMark)) {
        orv::Settings marked;
        orv::applyPresets(marked);
        orv::applySettingsText(marked, std::string(kMark) + std::string(text));
        FUZZ_CHECK(marked == settings);
    }

    checkClamp(settings, orv::kWindowGridSize, orv::kWindowGridSize);
    if (size >= 4) {
        const std::int32_t width = static_cast<std::int32_t>(data[0] | data[1] << 8) - 100;
        const std::int32_t height = static_cast<std::int32_t>(data[2] | data[3] << 8) * 400;
        checkClamp(settings, width, height);
    }
    return 0;
}
