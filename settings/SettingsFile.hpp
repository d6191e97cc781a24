#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "settings/Settings.hpp"

namespace orv {

// A value text as a signed 32-bit integer. After leading blanks: "&h", "&o", "&b" (or "&" and
// octal digits) read hexadecimal, octal or binary digits and keep the low 32 bits; otherwise
// blanks and tabs, an optional sign and decimal digits, held at the nearest end of the 32-bit
// range when they go beyond it. Whatever follows the digits is ignored; no digits give 0.
std::int32_t settingsInteger(std::string_view valueText);

// The key an item names: the text before its first "=" (all of it without one), blanks
// trimmed, lower-cased and matched exactly against the keys; nothing when it names none.
const SettingsKey* findSettingsKey(std::string_view item);

// Applies one key=value item: split at the first "=", blanks trimmed, lower-cased, matched
// exactly against the keys. An item without "=" is its own key and value. Unrecognised items
// change nothing (the result is false).
bool applySettingsItem(Settings& settings, std::string_view item);

// Applies every item of a settings file's contents, in order, so the last item of a key wins.
// A UTF-8 byte-order mark at the very start is skipped.
void applySettingsText(Settings& settings, std::string_view text);

// The items of a settings file's text (or of one of its lines), as applySettingsText reads them.
std::vector<std::string> settingsItems(std::string_view text);

// Whether a value text holds a number as settingsInteger reads one (a decimal digit after the
// blanks and sign, or an "&" number with a digit); a value without one reads as 0.
bool holdsNumber(std::string_view valueText);

// For settings given on a command line or by a program: one line of a settings file whose every
// item must name a key and give it a value that holds a number (a file itself keeps its looser
// rule). Nothing when it does; otherwise one line saying what is wrong with which item.
std::optional<std::string> strictSettingsProblem(std::string_view line);

// The name of the file the dialogue opens for a typed answer: the answer itself when it
// contains ".ini" anywhere (case-sensitive), otherwise the answer with ".ini" appended.
std::string settingsFileName(std::string_view answer);

// Settings files larger than this are refused rather than read into memory.
inline constexpr std::size_t kMaxSettingsFileSize = std::size_t{16} << 20;

// Why a file is not read, beside the system's errno values.
enum class ReadError {
    notRegularFile = 1,  // a FIFO, a device or a socket: reading it could wait or run for ever
};
const std::error_category& readErrorCategory();
inline std::error_code make_error_code(ReadError e) {
    return {static_cast<int>(e), readErrorCategory()};
}

// Reads a whole regular file of at most maxSize bytes into text, without ever waiting on a
// FIFO or reading a device. On failure text is left empty and the reason is returned: the
// system's (is_a_directory for a directory), ReadError::notRegularFile, or file_too_large.
std::error_code readRegularFile(const std::filesystem::path& path, std::string& text, std::size_t maxSize);

// Reads a whole settings file into text: readRegularFile with kMaxSettingsFileSize.
std::error_code readSettingsFile(const std::filesystem::path& path, std::string& text);

// The width of the dialogue's notices: one column short of the row, so that the line end
// after a notice does not skip a row.
inline constexpr std::size_t kNoticeWidth = 99;

// One line, at most width characters, telling that fileName could not be read, why, and that
// the presets are used instead. A long name is shortened in the middle.
std::string unreadableFileNotice(std::string_view fileName, const std::error_code& why, std::size_t width);

// One line, at most width characters, telling which settings were changed from what to what;
// items that do not fit are counted at the end ("... and 3 more."). Empty when nothing was
// changed.
std::string clampNotice(const std::vector<ClampedSetting>& changes, std::size_t width);

}  // namespace orv

template <>
struct std::is_error_code_enum<orv::ReadError> : std::true_type {};
