// The browser build's stand-in for zlib (web/zlib/), held to zlib itself: the same checksums,
// streams that zlib inflates to what went in (as the PNG writers feed them: bands with full
// flushes, one stream with a small output buffer, compress), and zlib's streams of every kind
// inflated back; a damaged or cut stream is refused.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

// The stand-in's declarations, in a namespace of their own beside zlib's.
#undef deflateInit2
#undef inflateInit
namespace standin {
#define ORV_ZLIB_PREFIX
#include "web/zlib/zlib.h"
}  // namespace standin
#undef crc32
#undef crc32_z
#undef adler32
#undef adler32_z
#undef adler32_combine
#undef compressBound
#undef compress
#undef deflateInit2
#undef deflate
#undef deflateEnd
#undef deflateBound
#undef inflateInit
#undef inflate
#undef inflateEnd

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes sample(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    Bytes bytes(size);
    // Runs and noise, as map pictures have them.
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i / 97 % 3 == 0 ? random() : i / 500);
    return bytes;
}

Bytes zlibInflate(const Bytes& stream, bool raw = false) {
    z_stream zs{};
    EXPECT_EQ(inflateInit2_(&zs, raw ? -15 : 15, ZLIB_VERSION, static_cast<int>(sizeof(z_stream))), Z_OK);
    zs.next_in = const_cast<Bytef*>(stream.data());
    zs.avail_in = static_cast<uInt>(stream.size());
    Bytes out, buffer(1000);
    int status = Z_OK;
    while (status == Z_OK) {
        zs.next_out = buffer.data();
        zs.avail_out = static_cast<uInt>(buffer.size());
        status = inflate(&zs, Z_NO_FLUSH);
        out.insert(out.end(), buffer.begin(), buffer.end() - zs.avail_out);
    }
    EXPECT_EQ(status, Z_STREAM_END);
    inflateEnd(&zs);
    return out;
}

int standInInflate(const Bytes& stream, Bytes& out) {
    standin::z_stream zs{};
    EXPECT_EQ(standin::orvz_inflateInit(&zs), Z_OK);
    zs.next_in = const_cast<std::uint8_t*>(stream.data());
    zs.avail_in = static_cast<unsigned>(stream.size());
    std::uint8_t buffer[777];
    int status = Z_OK;
    out.clear();
    for (int calls = 0; status == Z_OK && calls < 100000; ++calls) {
        zs.next_out = buffer;
        zs.avail_out = sizeof buffer;
        status = standin::orvz_inflate(&zs, Z_NO_FLUSH);
        out.insert(out.end(), buffer, buffer + (sizeof buffer - zs.avail_out));
    }
    standin::orvz_inflateEnd(&zs);
    return status;
}

TEST(ZlibStandIn, ChecksumsAreZlibs) {
    const Bytes a = sample(100000, 1), b = sample(70001, 2);
    EXPECT_EQ(standin::orvz_crc32(0, nullptr, 0), crc32(0, nullptr, 0));
    EXPECT_EQ(standin::orvz_crc32_z(standin::orvz_crc32(0, nullptr, 0), a.data(), a.size()),
              crc32_z(crc32(0, nullptr, 0), a.data(), a.size()));
    const uLong sumA = adler32_z(1, a.data(), a.size()), sumB = adler32_z(1, b.data(), b.size());
    EXPECT_EQ(standin::orvz_adler32_z(1, a.data(), a.size()), sumA);
    EXPECT_EQ(standin::orvz_adler32(standin::orvz_adler32(0, nullptr, 0), b.data(), static_cast<unsigned>(b.size())),
              sumB);
    for (const long length : {0L, 1L, 65521L, 70001L})
        EXPECT_EQ(standin::orvz_adler32_combine(sumA, sumB, length), adler32_combine(sumA, sumB, length)) << length;
}

TEST(ZlibStandIn, ItsStreamsInflateWithZlib) {
    const Bytes data = sample(300000, 3);
    // Bands as the PNG stream writes them: raw streams ended by a full flush, the last by the
    // final block, each deflated into room of deflateBound's size.
    Bytes raw;
    for (std::size_t at = 0; at < data.size(); at += 131072) {
        const std::size_t size = std::min<std::size_t>(131072, data.size() - at);
        standin::z_stream zs{};
        ASSERT_EQ(standin::orvz_deflateInit2(&zs, Z_BEST_SPEED, Z_DEFLATED, -15, 8, Z_RLE), Z_OK);
        Bytes out(standin::orvz_deflateBound(&zs, size) + 16);
        zs.next_in = const_cast<std::uint8_t*>(data.data() + at);
        zs.avail_in = static_cast<unsigned>(size);
        zs.next_out = out.data();
        zs.avail_out = static_cast<unsigned>(out.size());
        const bool last = at + size == data.size();
        EXPECT_EQ(standin::orvz_deflate(&zs, last ? Z_FINISH : Z_FULL_FLUSH), last ? Z_STREAM_END : Z_OK);
        EXPECT_EQ(zs.avail_in, 0u);
        EXPECT_GT(zs.avail_out, 0u);
        raw.insert(raw.end(), out.begin(), out.begin() + static_cast<std::ptrdiff_t>(zs.total_out));
        standin::orvz_deflateEnd(&zs);
    }
    EXPECT_EQ(zlibInflate(raw, true), data);

    // One zlib stream fed in pieces into an output buffer smaller than a block.
    standin::z_stream zs{};
    ASSERT_EQ(standin::orvz_deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    Bytes stream, buffer(1000);
    auto take = [&] {
        stream.insert(stream.end(), buffer.begin(), buffer.end() - zs.avail_out);
        zs.next_out = buffer.data();
        zs.avail_out = static_cast<unsigned>(buffer.size());
    };
    zs.next_out = buffer.data();
    zs.avail_out = static_cast<unsigned>(buffer.size());
    for (std::size_t at = 0; at < data.size(); at += 4099) {
        zs.next_in = const_cast<std::uint8_t*>(data.data() + at);
        zs.avail_in = static_cast<unsigned>(std::min<std::size_t>(4099, data.size() - at));
        while (zs.avail_in > 0) {
            ASSERT_EQ(standin::orvz_deflate(&zs, Z_NO_FLUSH), Z_OK);
            take();
        }
    }
    int status = Z_OK;
    for (int calls = 0; status == Z_OK && calls < 10000; ++calls) {
        status = standin::orvz_deflate(&zs, Z_FINISH);
        take();
    }
    EXPECT_EQ(status, Z_STREAM_END);
    standin::orvz_deflateEnd(&zs);
    EXPECT_EQ(zlibInflate(stream), data);

    for (const Bytes& small : {Bytes{}, sample(65535, 4), sample(65536, 5)}) {
        unsigned long size = standin::orvz_compressBound(small.size());
        Bytes packed(size);
        ASSERT_EQ(standin::orvz_compress(packed.data(), &size, small.data(), small.size()), Z_OK);
        packed.resize(size);
        EXPECT_EQ(zlibInflate(packed), small);
    }
}

TEST(ZlibStandIn, InflatesZlibsStreamsAndRefusesDamage) {
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{5000}, std::size_t{200000}}) {
        const Bytes data = sample(size, static_cast<unsigned>(size));
        for (const int level : {0, 1, 6, 9}) {
            for (const int strategy : {Z_DEFAULT_STRATEGY, Z_RLE, Z_HUFFMAN_ONLY, Z_FIXED}) {
                z_stream zs{};
                ASSERT_EQ(deflateInit2_(&zs, level, Z_DEFLATED, 15, 8, strategy, ZLIB_VERSION,
                                        static_cast<int>(sizeof(z_stream))),
                          Z_OK);
                Bytes packed(deflateBound(&zs, size));
                zs.next_in = const_cast<Bytef*>(data.data());
                zs.avail_in = static_cast<uInt>(size);
                zs.next_out = packed.data();
                zs.avail_out = static_cast<uInt>(packed.size());
                ASSERT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
                packed.resize(zs.total_out);
                deflateEnd(&zs);
                Bytes out;
                EXPECT_EQ(standInInflate(packed, out), Z_STREAM_END) << size << " " << level << " " << strategy;
                EXPECT_EQ(out, data) << size << " " << level << " " << strategy;
                if (size < 5000) continue;
                Bytes cut(packed.begin(), packed.end() - 9), damaged = packed;
                damaged[packed.size() / 2] ^= 0x55;
                EXPECT_EQ(standInInflate(cut, out), Z_BUF_ERROR);
                EXPECT_NE(standInInflate(damaged, out), Z_STREAM_END);
                if (level != 0) continue;
                // A stored block whose length and its complement disagree.
                damaged = packed;
                damaged[5] ^= 0x01;
                EXPECT_EQ(standInInflate(damaged, out), Z_DATA_ERROR);
            }
        }
    }
}

}  // namespace
