#pragma once

// What the export tests share: an independent PNG reader (libpng), a file system that fails
// where a test tells it to, and small file helpers.

#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "io/PngWriter.hpp"
#include "io/SafeWrite.hpp"
#include "ui/Screen.hpp"

namespace orv::test {

// A PNG file as libpng reads it, every pixel as 0xAARRGGBB; a 16-bit greyscale or 8-bit RGB one
// as the bytes of its rows (16-bit samples big-endian).
struct DecodedPng {
    std::uint32_t width = 0, height = 0;
    int bitDepth = 0, colorType = 0, interlace = 0;
    std::vector<std::uint32_t> pixels;                       // row by row
    std::vector<std::uint8_t> samples;                       // greyscale or RGB: row by row
    std::vector<std::pair<std::string, std::string>> texts;  // the text chunks, keyword and text
    std::uint32_t at(std::uint32_t x, std::uint32_t y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

// Reads a PNG file with libpng; nothing when libpng refuses it (a bad signature, CRC, ...).
inline std::optional<DecodedPng> decodePng(const std::filesystem::path& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return std::nullopt;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    DecodedPng result;
    std::vector<png_byte> rows;
    std::vector<png_bytep> rowPointers;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(file);
        return std::nullopt;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    result.width = png_get_image_width(png, info);
    result.height = png_get_image_height(png, info);
    result.bitDepth = png_get_bit_depth(png, info);
    result.colorType = png_get_color_type(png, info);
    result.interlace = png_get_interlace_type(png, info);
    // Paletted images are expanded to RGBA (alpha from tRNS, or opaque); RGBA must be 8-bit.
    if (result.colorType == PNG_COLOR_TYPE_PALETTE) {
        png_set_palette_to_rgb(png);
        if (png_get_valid(png, info, PNG_INFO_tRNS))
            png_set_tRNS_to_alpha(png);
        else
            png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
        png_read_update_info(png, info);
    } else if ((result.bitDepth != 8 || result.colorType != PNG_COLOR_TYPE_RGBA) &&
               (result.bitDepth != 16 || result.colorType != PNG_COLOR_TYPE_GRAY) &&
               (result.bitDepth != 8 || result.colorType != PNG_COLOR_TYPE_RGB)) {
        png_error(png, "not 8-bit RGBA, 16-bit greyscale or 8-bit RGB");
    }
    const std::size_t rowBytes = png_get_rowbytes(png, info);
    rows.resize(rowBytes * result.height);
    for (std::uint32_t y = 0; y < result.height; ++y) rowPointers.push_back(rows.data() + y * rowBytes);
    png_read_image(png, rowPointers.data());
    png_read_end(png, info);
    png_textp texts = nullptr;
    const int textCount = png_get_text(png, info, &texts, nullptr);
    for (int i = 0; i < textCount; ++i)
        result.texts.emplace_back(
            texts[i].key,
            std::string(texts[i].text, texts[i].itxt_length > 0 ? texts[i].itxt_length : texts[i].text_length));
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    if (result.colorType != PNG_COLOR_TYPE_RGBA && result.colorType != PNG_COLOR_TYPE_PALETTE) {
        result.samples.assign(rows.begin(), rows.end());
        return result;
    }
    result.pixels.resize(static_cast<std::size_t>(result.width) * result.height);
    for (std::size_t i = 0; i < result.pixels.size(); ++i) {
        const png_byte* p = &rows[i * 4];
        result.pixels[i] = static_cast<std::uint32_t>(p[3]) << 24 | static_cast<std::uint32_t>(p[0]) << 16 |
                           static_cast<std::uint32_t>(p[1]) << 8 | p[2];
    }
    return result;
}

// The window pixels (x0 .. x0 + w - 1, y0 .. y0 + h - 1), row by row.
inline std::vector<std::uint32_t> screenRegion(const Screen& screen, int x0, int y0, int w, int h) {
    std::vector<std::uint32_t> region;
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x) region.push_back(screen.pixel(x, y));
    return region;
}

inline std::string readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// The names in a directory, hidden ones included.
inline std::set<std::string> fileNames(const std::filesystem::path& directory) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        names.insert(entry.path().filename().string());
    return names;
}

// A file system that fails where the test says: creating files, after a number of bytes
// (a short write, then the error on the next call), or at the flush (of a file or of a whole
// file system), close or rename.
// Everything else goes to the real file system. Threads may share it (the batch's map makers).
class FaultyFileSystem : public FileSystem {
public:
    int createError = 0;
    long long bytesBeforeFull = -1;  // bytes that fit; -1: no limit
    int writeError = ENOSPC;         // what a write beyond the limit fails with
    int syncError = 0;
    int fileSystemSyncError = 0;
    int closeError = 0;
    int renameError = 0;
    int interruptions = 0;  // the first writes that fail with EINTR before doing anything
    long long written = 0;
    std::vector<std::string> created, removed;
    int fileSyncs = 0;
    // "rename FROM TO", "sync-directory DIR" and "sync-file-system DIR", in order
    std::vector<std::string> events;

    int createNew(const OpenDirectory& directory, const std::string& name) override {
        const std::lock_guard lock(mutex_);
        if (createError != 0) {
            errno = createError;
            return -1;
        }
        created.push_back(pathOf(directory, name));
        return FileSystem::createNew(directory, name);
    }
    long write(int fd, const void* data, std::size_t size) override {
        const std::lock_guard lock(mutex_);
        if (interruptions > 0) {
            --interruptions;
            errno = EINTR;
            return -1;
        }
        if (bytesBeforeFull >= 0) {
            const long long room = bytesBeforeFull - written;
            if (room <= 0) {
                errno = writeError;
                return -1;
            }
            size = static_cast<std::size_t>(std::min<long long>(room, static_cast<long long>(size)));
        }
        const long n = FileSystem::write(fd, data, size);
        if (n > 0) written += n;
        return n;
    }
    int sync(int fd) override {
        const std::lock_guard lock(mutex_);
        ++fileSyncs;
        return failOr(syncError, [&] { return FileSystem::sync(fd); });
    }
    int syncFileSystem(const OpenDirectory& directory) override {
        const std::lock_guard lock(mutex_);
        events.push_back("sync-file-system " + directory.path);
        return failOr(fileSystemSyncError, [&] { return FileSystem::syncFileSystem(directory); });
    }
    int close(int fd) override {
        const std::lock_guard lock(mutex_);
        const int result = FileSystem::close(fd);  // the descriptor is gone either way
        return closeError != 0 ? (errno = closeError, -1) : result;
    }
    int rename(const OpenDirectory& directory, const std::string& from, const std::string& to) override {
        const std::lock_guard lock(mutex_);
        events.push_back("rename " + pathOf(directory, from) + " " + pathOf(directory, to));
        return failOr(renameError, [&] { return FileSystem::rename(directory, from, to); });
    }
    void syncDirectory(const OpenDirectory& directory) override {
        const std::lock_guard lock(mutex_);
        events.push_back("sync-directory " + directory.path);
        FileSystem::syncDirectory(directory);
    }
    int remove(const OpenDirectory& directory, const std::string& name) override {
        const std::lock_guard lock(mutex_);
        removed.push_back(pathOf(directory, name));
        return FileSystem::remove(directory, name);
    }

private:
    static std::string pathOf(const OpenDirectory& directory, const std::string& name) {
        return (std::filesystem::path(directory.path) / name).string();
    }
    std::mutex mutex_;
    template <class F>
    int failOr(int error, F&& call) {
        if (error == 0) return call();
        errno = error;
        return -1;
    }
};

// An image whose every byte is drawn from a simple generator: colours and alphas of all kinds,
// incompressible enough that its PNG file is large. Padding bytes are set apart (0xEE).
inline ImageBuffer noisyImage(std::uint32_t width, std::uint32_t height, std::uint32_t pitch, std::uint32_t seed = 1) {
    ImageBuffer image;
    image.width = width;
    image.height = height;
    image.pitch = pitch;
    image.pixels.assign(static_cast<std::size_t>(pitch) * height, 0xEE);
    std::uint32_t state = seed;
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width * 4; ++x) {
            state = state * 1664525u + 1013904223u;
            image.pixels[static_cast<std::size_t>(y) * pitch + x] = static_cast<std::uint8_t>(state >> 24);
        }
    return image;
}

// The pixel at (x, y) of an image as 0xAARRGGBB.
inline std::uint32_t imagePixel(const ImageBuffer& image, std::uint32_t x, std::uint32_t y) {
    const std::uint8_t* p = image.pixels.data() + static_cast<std::size_t>(y) * image.pitch + x * 4u;
    return static_cast<std::uint32_t>(p[3]) << 24 | static_cast<std::uint32_t>(p[2]) << 16 |
           static_cast<std::uint32_t>(p[1]) << 8 | p[0];
}

// Runs a shell command; its exit status, or -1 when it did not exit normally.
inline int runCommand(const std::string& command) {
    const int status = std::system(command.c_str());
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A character device node like the system's /dev/null (1, 3) or /dev/full (1, 7), made in a
// test's own directory; false when the system does not let us (not root, or no devices there).
inline bool makeCharDevice(const std::filesystem::path& path, unsigned major, unsigned minor) {
    return ::mknod(path.c_str(), S_IFCHR | 0666, makedev(major, minor)) == 0;
}

// A FIFO with a reader on another thread that keeps everything written into it until the
// writer closes it; take() waits for that and returns the bytes.
class FifoReader {
public:
    explicit FifoReader(const std::filesystem::path& path) : path_(path) {
        ::mkfifo(path.c_str(), 0644);
        reader_ = std::thread([this] { bytes_ = readBytes(path_); });
    }
    ~FifoReader() {
        if (!reader_.joinable()) return;
        // Nobody wrote (the test failed): a writer of our own lets the reader go.
        const int fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
        reader_.join();
    }
    std::string take() {
        reader_.join();
        return bytes_;
    }

private:
    std::filesystem::path path_;
    std::thread reader_;
    std::string bytes_;
};

inline bool isKind(const std::filesystem::path& path, mode_t kind) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && (info.st_mode & S_IFMT) == kind;
}

}  // namespace orv::test
