#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>
#include <zlib.h>

#include <csignal>
#include <cstring>
#include <memory>
#include <random>

#include "io/ParallelDeflate.hpp"
#include "io/PngStream.hpp"
#include "io/PngText.hpp"
#include "tests/ExportSupport.hpp"
#include "tests/Session.hpp"

namespace orv::test {
namespace {

std::uint32_t bigEndian(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) << 24 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 8 |
           static_cast<unsigned char>(bytes[at + 3]);
}

std::string hex(const std::string& bytes) {
    std::string out;
    char buf[4];
    for (const char c : bytes) {
        std::snprintf(buf, sizeof buf, "%02X ", static_cast<unsigned char>(c));
        out += buf;
    }
    if (!out.empty()) out.pop_back();
    return out;
}

// The filtered image data, built here from the pixels: per row a 0, then R, G, B, A per pixel.
std::string filteredRows(const ImageBuffer& image) {
    std::string raw;
    for (std::uint32_t y = 0; y < image.height; ++y) {
        raw += '\0';
        for (std::uint32_t x = 0; x < image.width; ++x) {
            const std::uint32_t p = imagePixel(image, x, y);
            raw += static_cast<char>(p >> 16);
            raw += static_cast<char>(p >> 8);
            raw += static_cast<char>(p);
            raw += static_cast<char>(p >> 24);
        }
    }
    return raw;
}

// The IDAT data of a file that has exactly one IDAT right after the IHDR.
std::string idatData(const std::string& file) {
    return file.substr(41, bigEndian(file, 33));
}

std::string inflate(const std::string& data, std::size_t expectedSize) {
    std::string out(expectedSize + 1, '\0');
    uLongf size = out.size();
    EXPECT_EQ(uncompress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
                         data.size()),
              Z_OK);
    out.resize(size);
    return out;
}

ImageBuffer onePixel(std::uint32_t color) {
    ImageBuffer image;
    image.width = image.height = 1;
    image.pitch = 16;
    image.pixels.assign(16, 0xEE);
    std::memcpy(image.pixels.data(), &color, 4);
    return image;
}

TEST(PngWriter, LibpngReadsBackEveryPixelAlphaIncludedAndNoPadding) {
    TempDir dir;
    // Widths with and without row padding; the noise covers every alpha from 0 to 255.
    for (const auto& [w, h, pitch] :
         {std::tuple{37u, 23u, 160u}, std::tuple{400u, 400u, 1600u}, std::tuple{1u, 3u, 48u}}) {
        SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h) + ", pitch " + std::to_string(pitch));
        const ImageBuffer image = noisyImage(w, h, pitch, w * 7 + h);
        const auto path = dir.path() / "noise.png";
        ASSERT_FALSE(writePngFile(path, &image));
        const std::optional<DecodedPng> png = decodePng(path);
        ASSERT_TRUE(png);
        ASSERT_EQ(png->width, w);
        ASSERT_EQ(png->height, h);
        EXPECT_EQ(png->bitDepth, 8);
        EXPECT_EQ(png->colorType, PNG_COLOR_TYPE_RGBA);
        EXPECT_EQ(png->interlace, PNG_INTERLACE_NONE);
        std::size_t mismatches = 0, transparent = 0;
        for (std::uint32_t y = 0; y < h; ++y)
            for (std::uint32_t x = 0; x < w; ++x) {
                mismatches += png->at(x, y) != imagePixel(image, x, y);
                transparent += (png->at(x, y) >> 24) == 0;
            }
        EXPECT_EQ(mismatches, 0u);
        if (w * h > 10000) {
            EXPECT_GT(transparent, 0u);  // alpha 0 is kept, never forced to 255
        }
        const std::vector<std::uint8_t> inMemory = encodePng(image);
        EXPECT_EQ(readBytes(path), std::string(inMemory.begin(), inMemory.end()));
    }
}

TEST(PngWriter, FileIsSignatureIhdrOneIdatFromCompressAndIend) {
    TempDir dir;
    const ImageBuffer image = noisyImage(400, 400, 1600, 99);
    const auto path = dir.path() / "layout.png";
    ASSERT_FALSE(writePngFile(path, &image));
    const std::string file = readBytes(path);
    ASSERT_GT(file.size(), 57u);

    EXPECT_EQ(hex(file.substr(0, 8)), "89 50 4E 47 0D 0A 1A 0A");
    EXPECT_EQ(hex(file.substr(8, 25)), "00 00 00 0D 49 48 44 52 00 00 01 90 00 00 01 90 08 06 00 00 00 80 BF 36 CC");
    const std::uint32_t c = bigEndian(file, 33);
    EXPECT_EQ(file.substr(37, 4), "IDAT");
    EXPECT_EQ(file.size(), 57u + c);
    const std::string data = idatData(file);
    const std::uint32_t idatCrc = static_cast<std::uint32_t>(
        crc32(crc32(0, reinterpret_cast<const Bytef*>("IDAT"), 4), reinterpret_cast<const Bytef*>(data.data()), c));
    EXPECT_EQ(bigEndian(file, 41 + c), idatCrc);
    EXPECT_EQ(hex(file.substr(45 + c)), "00 00 00 00 49 45 4E 44 AE 42 60 82");

    // One zlib stream of the whole filtered image, exactly as compress makes it at its default level.
    const std::string raw = filteredRows(image);
    ASSERT_EQ(raw.size(), (4u * 400 + 1) * 400);
    EXPECT_EQ(inflate(data, raw.size()), raw);
    std::string expected(compressBound(raw.size()), '\0');
    uLongf size = expected.size();
    ASSERT_EQ(compress(reinterpret_cast<Bytef*>(expected.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
                       raw.size()),
              Z_OK);
    expected.resize(size);
    EXPECT_EQ(data, expected);
}

TEST(PngWriter, PixelBytesBecomeRedGreenBlueAlphaUnchanged) {
    TempDir dir;
    for (const auto& [color, rawHex] :
         {std::pair{0xFF336699u, "00 33 66 99 FF"}, std::pair{0x00112233u, "00 11 22 33 00"},
          std::pair{0x80FFFFFFu, "00 FF FF FF 80"}}) {
        const ImageBuffer image = onePixel(color);
        const auto path = dir.path() / "one.png";
        ASSERT_FALSE(writePngFile(path, &image));
        const std::string file = readBytes(path);
        EXPECT_EQ(hex(file.substr(16, 8)), "00 00 00 01 00 00 00 01");
        EXPECT_EQ(hex(inflate(idatData(file), 5)), rawHex);
    }
}

TEST(PngWriter, PngcheckFindsNoFaultButCatchesACorruptedCopy) {
    const std::string pngcheck = ORVANDEL_PNGCHECK;
    if (pngcheck.empty()) GTEST_SKIP() << "pngcheck is not installed (tools/install-deps.sh --test installs it)";
    TempDir dir;
    const ImageBuffer image = noisyImage(400, 400, 1600, 5);
    const auto good = dir.path() / "good.png";
    ASSERT_FALSE(writePngFile(good, &image));
    const auto log = dir.path() / "pngcheck.txt";
    EXPECT_EQ(runCommand(pngcheck + " -v '" + good.string() + "' > '" + log.string() + "' 2>&1"), 0) << readBytes(log);
    EXPECT_NE(readBytes(log).find("No errors"), std::string::npos) << readBytes(log);
    EXPECT_NE(readBytes(log).find("400 x 400 image, 32-bit RGB+alpha, non-interlaced"), std::string::npos)
        << readBytes(log);

    std::string bytes = readBytes(good);
    bytes[100] = static_cast<char>(bytes[100] ^ 0x40);  // inside the IDAT data: its CRC no longer fits
    const auto bad = dir.path() / "bad.png";
    writeBytes(bad, bytes);
    EXPECT_NE(runCommand(pngcheck + " -q '" + bad.string() + "' > /dev/null 2>&1"), 0);
}

TEST(PngWriter, RefusesWhatItCannotWriteWithoutTouchingAFile) {
    TempDir dir;
    const auto path = dir.path() / "never.png";
    ImageBuffer image = noisyImage(4, 4, 16);
    // Rows that the pixel bytes cannot hold are refused too, rather than read past their end.
    ImageBuffer shortRows = noisyImage(4, 4, 16);
    shortRows.pixels.resize(16 * 3 + 15);
    EXPECT_EQ(writePngFile(path, &shortRows), PngError::badLayout);
    ImageBuffer narrowPitch = noisyImage(4, 4, 16);
    narrowPitch.pitch = 12;
    EXPECT_EQ(writePngFile(path, &narrowPitch), PngError::badLayout);
    ImageBuffer empty;
    EXPECT_EQ(writePngFile(path, &empty), PngError::badLayout);
    EXPECT_TRUE(fileNames(dir.path()).empty());

    EXPECT_EQ(writePngFile("", &image), std::errc::invalid_argument);
    EXPECT_EQ(writePngFile(path, nullptr), PngError::noImage);
    EXPECT_TRUE(fileNames(dir.path()).empty());
    EXPECT_EQ(writeErrorReason(PngError::noImage), "no picture to save");
}

TEST(PngWriter, ReplacesAnExistingFileOnlyWithACompleteOne) {
    TempDir dir;
    const auto path = dir.path() / "map.png";
    writeBytes(path, "an older file");
    const ImageBuffer image = noisyImage(64, 64, 256);
    ASSERT_FALSE(writePngFile(path, &image));
    ASSERT_TRUE(decodePng(path));
    EXPECT_EQ(fileNames(dir.path()), std::set<std::string>{"map.png"});

    // A missing directory: nothing is created anywhere.
    EXPECT_EQ(writePngFile(dir.path() / "no such dir" / "map.png", &image), std::errc::no_such_file_or_directory);
    EXPECT_EQ(fileNames(dir.path()), std::set<std::string>{"map.png"});
}

// Every point where writing can stop: at creation, part-way through any piece of the file (the
// disk fills up), at the flush, the close or the rename. Each time the old file stays whole and
// no temporary file is left.
TEST(PngWriter, AFailureAnywhereKeepsTheOldFileAndLeavesNoTemporaryFile) {
    TempDir dir;
    const auto path = dir.path() / "map.png";
    const ImageBuffer image = noisyImage(120, 80, 480);
    const std::size_t size = encodePng(image).size();
    const std::string old = "the map saved last time";

    auto check = [&](FaultyFileSystem& files, std::error_condition expected, const std::string& what) {
        SCOPED_TRACE(what);
        writeBytes(path, old);
        EXPECT_EQ(writePngFile(path, &image, files), expected);
        EXPECT_EQ(readBytes(path), old);
        EXPECT_EQ(fileNames(dir.path()), std::set<std::string>{"map.png"});
    };

    for (long long room : {0LL, 5LL, 8LL, 20LL, 33LL, 40LL, 41LL, 500LL, static_cast<long long>(size) - 12,
                           static_cast<long long>(size) - 1}) {
        FaultyFileSystem full;
        full.bytesBeforeFull = room;
        check(full, std::errc::no_space_on_device, "disk full after " + std::to_string(room) + " bytes");
        EXPECT_EQ(full.written, room);
        ASSERT_EQ(full.created.size(), 1u);
        EXPECT_EQ(std::filesystem::path(full.created[0]).parent_path(), dir.path());  // next to the target
        EXPECT_EQ(full.removed, full.created);
    }
    FaultyFileSystem quota;
    quota.bytesBeforeFull = 1000;
    quota.writeError = EDQUOT;
    check(quota, std::errc(EDQUOT), "quota");
    FaultyFileSystem denied;
    denied.createError = EACCES;
    check(denied, std::errc::permission_denied, "read-only directory");
    FaultyFileSystem readOnlyFs;
    readOnlyFs.createError = EROFS;
    check(readOnlyFs, std::errc::read_only_file_system, "read-only file system");
    FaultyFileSystem sync;
    sync.syncError = EIO;
    check(sync, std::errc::io_error, "flush");
    FaultyFileSystem close;
    close.closeError = ENOSPC;
    check(close, std::errc::no_space_on_device, "close");
    FaultyFileSystem rename;
    rename.renameError = EACCES;
    check(rename, std::errc::permission_denied, "rename");

    // The full disk shows as the same error with no file to replace.
    std::filesystem::remove(path);
    FaultyFileSystem full;
    full.bytesBeforeFull = 100;
    EXPECT_EQ(writePngFile(path, &image, full), std::errc::no_space_on_device);
    EXPECT_TRUE(fileNames(dir.path()).empty());
}

TEST(PngWriter, InterruptedAndPartialWritesAreCarriedOn) {
    TempDir dir;
    const auto path = dir.path() / "map.png";
    const ImageBuffer image = noisyImage(50, 50, 208);
    FaultyFileSystem files;
    files.interruptions = 3;
    ASSERT_FALSE(writePngFile(path, &image, files));
    const std::vector<std::uint8_t> expected = encodePng(image);
    EXPECT_EQ(readBytes(path), std::string(expected.begin(), expected.end()));
}

TEST(PngWriter, ReadOnlyDirectoryIsRefusedByTheSystem) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "permission bits do not stop root (the refusal is covered by fault injection)";
    TempDir dir;
    const auto locked = dir.path() / "locked";
    std::filesystem::create_directory(locked);
    writeBytes(locked / "map.png", "old");
    std::filesystem::permissions(locked, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    const ImageBuffer image = noisyImage(8, 8, 32);
    EXPECT_EQ(writePngFile(locked / "map.png", &image), std::errc::permission_denied);
    EXPECT_EQ(readBytes(locked / "map.png"), "old");
    std::filesystem::permissions(locked, std::filesystem::perms::owner_all);
    EXPECT_EQ(fileNames(locked), std::set<std::string>{"map.png"});
}

// A real short write from the kernel: a child process whose file-size limit is far below the
// PNG's size. The write stops part-way with EFBIG and the old file survives.
TEST(PngWriter, FileSizeLimitHitPartWayKeepsTheOldFile) {
    TempDir dir;
    const auto path = dir.path() / "map.png";
    writeBytes(path, "old");
    const ImageBuffer image = noisyImage(400, 400, 1600, 3);
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{20000, 20000};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(10);
        const std::error_code error = writePngFile(path, &image);
        ::_exit(!error ? 11 : error == std::errc::file_too_large ? 0 : 12);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10: no limit set, 11: written in full, 12: another error";
    EXPECT_EQ(readBytes(path), "old");
    EXPECT_EQ(fileNames(dir.path()), std::set<std::string>{"map.png"});
}

// Files written without flushing them to the disk, for tests of many files that are not about
// durability.
class UnflushedFiles : public FileSystem {
public:
    int sync(int) override { return 0; }
    void syncDirectory(const OpenDirectory&) override {}
};

// The batch generator's writer: rows through PngStreamWriter, paletted (or RGBA when the palette
// is empty). The file's bytes, or nothing when a step failed.
std::optional<std::string> streamPng(const std::filesystem::path& path, std::uint32_t width, std::uint32_t height,
                                     const std::vector<std::uint32_t>& pixels,
                                     const std::vector<std::uint32_t>& palette, const DeflateOptions& options,
                                     FileSystem& files) {
    SafeFile file(path, files);
    std::unique_ptr<PngStreamWriter> png =
        palette.empty() ? std::make_unique<PngStreamWriter>(file, width, height, options)
                        : std::make_unique<PngStreamWriter>(file, width, height, palette, options);
    for (std::uint32_t y = 0; y < height; ++y) png->writeRow(pixels.data() + static_cast<std::size_t>(y) * width);
    if (!png->finish() || !file.commit()) return std::nullopt;
    return readBytes(path);
}

TEST(PngStream, BandsDecodeToThePixelsOfOneStreamAtAnySizeThreadsAndBands) {
    // One pixel, one row 70000 pixels wide and one such column, widths that end inside a byte
    // of 1-, 2- and 4-bit indices; 1 to 17 colours, and RGBA. Bands of a single byte (the last
    // one then empty), of a few bytes and of 1000 (ending inside rows, or one row spanning
    // many), on one thread and on three, and the default bands, against one stream.
    TempDir dir;
    UnflushedFiles files;
    std::mt19937 pick(77);
    const std::pair<std::uint32_t, std::uint32_t> sizes[] = {{1, 1}, {70000, 1}, {1, 70000}, {3, 5},
                                                             {5, 3}, {7, 9},     {13, 4},    {257, 33}};
    for (const auto& [width, height] : sizes) {
        for (std::size_t colors : {1u, 2u, 3u, 4u, 5u, 16u, 17u, 0u}) {
            std::vector<std::uint32_t> palette;
            for (std::size_t i = 0; i < colors; ++i)
                palette.push_back(0xFF000000u | static_cast<std::uint32_t>(pick()));
            if (colors == 3) palette[1] &= 0x00FFFFFFu;  // a transparent colour
            std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
            for (std::uint32_t& p : pixels)
                p = colors == 0 ? static_cast<std::uint32_t>(pick()) : palette[pick() % colors];
            SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height) + ", " + std::to_string(colors) +
                         " colours");
            const bool small = pixels.size() < 500;
            std::vector<DeflateOptions> encoders = {DeflateOptions::bands(),
                                                    {Z_DEFAULT_COMPRESSION, Z_DEFAULT_STRATEGY, 2, 1000}};
            for (std::size_t band : {std::size_t{1}, std::size_t{7}})
                for (int threads : {1, 3})
                    if (small) encoders.push_back({Z_BEST_SPEED, Z_RLE, threads, band});
            const auto single =
                streamPng(dir.path() / "single.png", width, height, pixels, palette, DeflateOptions::single(), files);
            ASSERT_TRUE(single);
            std::optional<std::string> oneThread;
            for (const DeflateOptions& options : encoders) {
                SCOPED_TRACE("bands of " + std::to_string(options.bandBytes) + " on " +
                             std::to_string(options.threads) + " threads");
                const auto banded = streamPng(dir.path() / "bands.png", width, height, pixels, palette, options, files);
                ASSERT_TRUE(banded);
                const std::optional<DecodedPng> png = decodePng(dir.path() / "bands.png");
                ASSERT_TRUE(png);
                EXPECT_EQ(png->pixels, pixels);
                EXPECT_EQ(png->pixels, decodePng(dir.path() / "single.png")->pixels);
                // The chunks before the image data are the same, and so are the bytes on any number of threads.
                EXPECT_EQ(banded->substr(0, banded->find("IDAT") - 4), single->substr(0, single->find("IDAT") - 4));
                if (options.bandBytes == 7 && options.threads == 1) oneThread = banded;
                if (options.bandBytes == 7 && options.threads == 3) {
                    EXPECT_EQ(banded, oneThread);
                }
            }
        }
    }
}

TEST(PngStream, GreyAndRgbRowsDecodeToTheirBytesWithEveryFilter) {
    // 16-bit greyscale and 8-bit RGB, rows of bytes that wrap around in every filter's
    // differences, in one stream and in bands; a palette's writeRow and a sample writeRowBytes
    // refuse each other.
    TempDir dir;
    UnflushedFiles files;
    std::mt19937 pick(19);
    using Samples = PngStreamWriter::Samples;
    using Filter = PngStreamWriter::Filter;
    for (const auto& [width, height] : {std::pair{1u, 1u}, {3u, 7u}, {70000u, 2u}, {2u, 300u}}) {
        for (const Samples samples : {Samples::grey16, Samples::rgb8}) {
            const std::size_t rowBytes = width * (samples == Samples::grey16 ? 2u : 3u);
            std::vector<std::uint8_t> bytes(rowBytes * height);
            for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(pick());
            for (const Filter filter : {Filter::none, Filter::sub, Filter::up}) {
                const DeflateOptions bands{Z_BEST_SPEED, Z_RLE, 3, bytes.size() < 1000 ? 5u : 1000u};
                for (const DeflateOptions& options : {DeflateOptions::single(), bands}) {
                    SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height) + " filter " +
                                 std::to_string(static_cast<int>(filter)));
                    SafeFile file(dir.path() / "rows.png", files);
                    PngStreamWriter png(file, width, height, samples, filter, options);
                    EXPECT_TRUE(png.writeText("Software", "test"));
                    for (std::uint32_t y = 0; y < height; ++y)
                        EXPECT_TRUE(png.writeRowBytes(bytes.data() + y * rowBytes));
                    ASSERT_TRUE(png.finish() && file.commit());
                    const std::optional<DecodedPng> decoded = decodePng(dir.path() / "rows.png");
                    ASSERT_TRUE(decoded);
                    EXPECT_EQ(decoded->bitDepth, samples == Samples::grey16 ? 16 : 8);
                    EXPECT_EQ(decoded->samples, bytes);
                    EXPECT_EQ(decoded->texts, (TextChunks{{"Software", "test"}}));
                }
            }
            SafeFile file(dir.path() / "wrong.png", files);
            PngStreamWriter png(file, width, height, samples, Filter::none);
            const std::vector<std::uint32_t> pixels(width, 0xFF000000u);
            EXPECT_FALSE(png.writeRow(pixels.data()));
        }
    }
    SafeFile file(dir.path() / "wrong.png", files);
    PngStreamWriter png(file, 2, 1, std::vector<std::uint32_t>{0xFF000000u, 0xFFFFFFFFu});
    const std::uint8_t row[6] = {};
    EXPECT_FALSE(png.writeRowBytes(row));
}

TEST(PngStream, AWriteThatFailsWhileBandsAreDeflatedLeavesNoFile) {
    // The disk fills up at points before, inside and after the image data, while other bands
    // are still being deflated on other threads: the write reports it, and stops cleanly.
    TempDir dir;
    const std::vector<std::uint32_t> palette = {0xFF000000u, 0xFF00AA00u, 0xFF0000AAu};
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(1500) * 1200);
    std::mt19937 pick(5);
    for (std::uint32_t& p : pixels) p = palette[pick() % 3];
    const DeflateOptions options{Z_BEST_SPEED, Z_RLE, 3, 4096};
    UnflushedFiles files;
    const std::size_t size = streamPng(dir.path() / "whole.png", 1500, 1200, pixels, palette, options, files)->size();
    std::filesystem::remove(dir.path() / "whole.png");
    for (long long room : {10LL, 60LL, 5000LL, static_cast<long long>(size) / 2, static_cast<long long>(size) - 13}) {
        FaultyFileSystem full;
        full.bytesBeforeFull = room;
        EXPECT_FALSE(streamPng(dir.path() / "map.png", 1500, 1200, pixels, palette, options, full)) << room;
        EXPECT_TRUE(fileNames(dir.path()).empty()) << room;
    }
}

}  // namespace
}  // namespace orv::test
