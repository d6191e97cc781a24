// zlib's interface as zlib.h beside this file declares it: the checksums, deflate as stored
// blocks and a whole inflate (RFC 1950 and 1951).
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "zlib.h"

namespace {

constexpr std::uint32_t kAdlerBase = 65521;
constexpr std::size_t kStoredBlock = 65535;
// Inflated streams larger than this are refused: no text or image of the page comes near it.
constexpr std::size_t kMaxInflated = std::size_t{1} << 28;

constexpr std::array<std::uint32_t, 256> crcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}
constexpr std::array<std::uint32_t, 256> kCrcTable = crcTable();

std::uint32_t crcOf(std::uint32_t crc, const Bytef* buf, std::size_t len) {
    if (buf == nullptr) return 0;
    crc = ~crc;
    for (std::size_t i = 0; i < len; ++i) crc = kCrcTable[(crc ^ buf[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::uint32_t adlerOf(std::uint32_t adler, const Bytef* buf, std::size_t len) {
    if (buf == nullptr) return 1;
    std::uint32_t a = adler & 0xFFFF, b = adler >> 16;
    while (len > 0) {
        // 5552 bytes at most between reductions keep b within 32 bits.
        const std::size_t run = std::min<std::size_t>(len, 5552);
        for (std::size_t i = 0; i < run; ++i) {
            a += buf[i];
            b += a;
        }
        a %= kAdlerBase;
        b %= kAdlerBase;
        buf += run;
        len -= run;
    }
    return b << 16 | a;
}

// Stored blocks of up to 64 KiB as the input comes, an empty final block at the end.
struct DeflateState {
    bool zlibWrapper = true;
    bool started = false;
    bool ended = false;  // the final block (and the trailer) is pending or out
    std::uint32_t adler = 1;
    std::vector<Bytef> pending;
    std::size_t pendingAt = 0;
};

void storedBlock(std::vector<Bytef>& out, const Bytef* data, std::size_t size, bool final) {
    const auto n = static_cast<std::uint16_t>(size);
    const auto complement = static_cast<std::uint16_t>(~n);
    const Bytef head[5] = {static_cast<Bytef>(final ? 1 : 0), static_cast<Bytef>(n & 0xFF), static_cast<Bytef>(n >> 8),
                           static_cast<Bytef>(complement & 0xFF), static_cast<Bytef>(complement >> 8)};
    const std::size_t at = out.size();
    out.resize(at + 5 + size);
    std::memcpy(out.data() + at, head, 5);
    if (size > 0) std::memcpy(out.data() + at + 5, data, size);
}

void bigEndian32(std::vector<Bytef>& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<Bytef>(value >> shift));
}

void drain(z_streamp strm, DeflateState& st) {
    const std::size_t n = std::min<std::size_t>(st.pending.size() - st.pendingAt, strm->avail_out);
    if (n > 0) std::memcpy(strm->next_out, st.pending.data() + st.pendingAt, n);
    strm->next_out += n;
    strm->avail_out -= static_cast<uInt>(n);
    strm->total_out += n;
    st.pendingAt += n;
    if (st.pendingAt == st.pending.size()) {
        st.pending.clear();
        st.pendingAt = 0;
    }
}

// Reads a deflate stream bit by bit, least significant bit first.
class Bits {
public:
    Bits(const Bytef* data, std::size_t size) : data_(data), size_(size) {}
    // need 0 .. 16 bits; 0 once the input has run out (short() then tells).
    unsigned take(int need) {
        std::uint32_t value = buffer_;
        while (count_ < need) {
            if (at_ == size_) {
                short_ = true;
                return 0;
            }
            value |= std::uint32_t{data_[at_++]} << count_;
            count_ += 8;
        }
        buffer_ = value >> need;
        count_ -= need;
        return value & ((1u << need) - 1);
    }
    void toByte() {
        buffer_ = 0;
        count_ = 0;
    }
    bool byte(Bytef& b) {
        if (at_ == size_) return !(short_ = true);
        b = data_[at_++];
        return true;
    }
    bool isShort() const { return short_; }
    std::size_t used() const { return at_; }

private:
    const Bytef* data_;
    std::size_t size_;
    std::size_t at_ = 0;
    std::uint32_t buffer_ = 0;
    int count_ = 0;
    bool short_ = false;
};

// A canonical Huffman code: how many codes each length has, and the symbols in code order.
struct Huffman {
    std::array<std::uint16_t, 16> count{};
    std::array<std::uint16_t, 288> symbol{};

    // False for lengths that over-subscribe the code; an incomplete code is allowed (a code
    // that is not there is then refused where it is read).
    bool build(const std::uint8_t* lengths, std::size_t n) {
        count.fill(0);
        for (std::size_t s = 0; s < n; ++s) ++count[lengths[s]];
        int left = 1;
        for (std::size_t len = 1; len < 16; ++len) {
            left = left * 2 - count[len];
            if (left < 0) return false;
        }
        std::array<std::uint16_t, 16> offset{};
        for (std::size_t len = 1; len < 15; ++len)
            offset[len + 1] = static_cast<std::uint16_t>(offset[len] + count[len]);
        for (std::size_t s = 0; s < n; ++s)
            if (lengths[s] != 0) symbol[offset[lengths[s]]++] = static_cast<std::uint16_t>(s);
        return true;
    }

    // The next symbol, or -1 for a code that is not there or input that ran out.
    int decode(Bits& in) const {
        int code = 0, first = 0, index = 0;
        for (std::size_t len = 1; len < 16; ++len) {
            code |= static_cast<int>(in.take(1));
            const int n = count[len];
            if (code - n < first) return in.isShort() ? -1 : symbol[static_cast<std::size_t>(index + (code - first))];
            index += n;
            first = (first + n) << 1;
            code <<= 1;
        }
        return -1;
    }
};

constexpr std::uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                           31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::uint16_t kDistanceBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                             33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                             1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                             6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// One block's literals and copies, up to its end code.
int inflateCodes(Bits& in, std::vector<Bytef>& out, const Huffman& lengths, const Huffman& distances) {
    for (;;) {
        int symbol = lengths.decode(in);
        if (symbol < 0) return in.isShort() ? Z_BUF_ERROR : Z_DATA_ERROR;
        if (symbol < 256) {
            out.push_back(static_cast<Bytef>(symbol));
        } else if (symbol == 256) {
            return Z_OK;
        } else {
            symbol -= 257;
            if (symbol >= 29) return Z_DATA_ERROR;
            const std::size_t length = kLengthBase[symbol] + in.take(kLengthExtra[symbol]);
            const int d = distances.decode(in);
            if (d < 0) return in.isShort() ? Z_BUF_ERROR : Z_DATA_ERROR;
            if (d >= 30) return Z_DATA_ERROR;
            const std::size_t distance = kDistanceBase[d] + in.take(kDistanceExtra[d]);
            if (in.isShort()) return Z_BUF_ERROR;
            if (distance > out.size()) return Z_DATA_ERROR;
            // Byte by byte: a copy may overlap the bytes it makes.
            for (std::size_t i = 0; i < length; ++i) out.push_back(out[out.size() - distance]);
        }
        if (out.size() > kMaxInflated) return Z_MEM_ERROR;
    }
}

int inflateDynamic(Bits& in, std::vector<Bytef>& out) {
    static constexpr std::uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    const int nlen = static_cast<int>(in.take(5)) + 257, ndist = static_cast<int>(in.take(5)) + 1;
    const int ncode = static_cast<int>(in.take(4)) + 4;
    if (in.isShort()) return Z_BUF_ERROR;
    if (nlen > 286 || ndist > 30) return Z_DATA_ERROR;
    std::uint8_t lengths[320] = {};
    for (int i = 0; i < ncode; ++i) lengths[kOrder[i]] = static_cast<std::uint8_t>(in.take(3));
    Huffman codeLengths;
    if (!codeLengths.build(lengths, 19)) return Z_DATA_ERROR;
    int index = 0;
    while (index < nlen + ndist) {
        int symbol = codeLengths.decode(in);
        if (symbol < 0) return in.isShort() ? Z_BUF_ERROR : Z_DATA_ERROR;
        if (symbol < 16) {
            lengths[index++] = static_cast<std::uint8_t>(symbol);
            continue;
        }
        std::uint8_t repeated = 0;
        int times = 0;
        if (symbol == 16) {
            if (index == 0) return Z_DATA_ERROR;
            repeated = lengths[index - 1];
            times = 3 + static_cast<int>(in.take(2));
        } else {
            times = symbol == 17 ? 3 + static_cast<int>(in.take(3)) : 11 + static_cast<int>(in.take(7));
        }
        if (index + times > nlen + ndist) return Z_DATA_ERROR;
        while (times-- > 0) lengths[index++] = repeated;
    }
    if (in.isShort()) return Z_BUF_ERROR;
    if (lengths[256] == 0) return Z_DATA_ERROR;  // a block must be able to end
    Huffman literal, distance;
    if (!literal.build(lengths, static_cast<std::size_t>(nlen)) ||
        !distance.build(lengths + nlen, static_cast<std::size_t>(ndist)))
        return Z_DATA_ERROR;
    return inflateCodes(in, out, literal, distance);
}

int inflateFixed(Bits& in, std::vector<Bytef>& out) {
    std::uint8_t lengths[288 + 30];
    std::fill(lengths, lengths + 144, 8);
    std::fill(lengths + 144, lengths + 256, 9);
    std::fill(lengths + 256, lengths + 280, 7);
    std::fill(lengths + 280, lengths + 288, 8);
    std::fill(lengths + 288, lengths + 318, 5);
    Huffman literal, distance;
    literal.build(lengths, 288);
    distance.build(lengths + 288, 30);
    return inflateCodes(in, out, literal, distance);
}

int inflateStored(Bits& in, std::vector<Bytef>& out) {
    in.toByte();
    Bytef head[4];
    for (Bytef& b : head)
        if (!in.byte(b)) return Z_BUF_ERROR;
    const unsigned length = head[0] | unsigned{head[1]} << 8;
    if ((head[2] | unsigned{head[3]} << 8) != (~length & 0xFFFF)) return Z_DATA_ERROR;
    for (unsigned i = 0; i < length; ++i) {
        Bytef b;
        if (!in.byte(b)) return Z_BUF_ERROR;
        out.push_back(b);
    }
    return out.size() > kMaxInflated ? Z_MEM_ERROR : Z_OK;
}

// A whole zlib stream: Z_OK with its bytes, Z_BUF_ERROR when it is not whole yet, or an error.
int inflateWhole(const std::vector<Bytef>& input, std::vector<Bytef>& out) {
    out.clear();
    if (input.size() < 2) return Z_BUF_ERROR;
    const unsigned header = unsigned{input[0]} << 8 | input[1];
    if ((input[0] & 0x0F) != Z_DEFLATED || (input[0] >> 4) > 7 || header % 31 != 0) return Z_DATA_ERROR;
    if ((input[1] & 0x20) != 0) return Z_NEED_DICT;
    Bits in(input.data() + 2, input.size() - 2);
    for (bool last = false; !last;) {
        last = in.take(1) != 0;
        const unsigned type = in.take(2);
        if (in.isShort()) return Z_BUF_ERROR;
        const int status = type == 0   ? inflateStored(in, out)
                           : type == 1 ? inflateFixed(in, out)
                           : type == 2 ? inflateDynamic(in, out)
                                       : Z_DATA_ERROR;
        if (status != Z_OK) return status;
    }
    const std::size_t trailer = 2 + in.used();
    if (input.size() < trailer + 4) return Z_BUF_ERROR;
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < 4; ++i) sum = sum << 8 | input[trailer + i];
    return sum == adlerOf(1, out.data(), out.size()) ? Z_OK : Z_DATA_ERROR;
}

struct InflateState {
    std::vector<Bytef> input, output;
    std::size_t handedOut = 0;
    bool whole = false;
};

}  // namespace

extern "C" {

uLong crc32(uLong crc, const Bytef* buf, uInt len) {
    return crcOf(static_cast<std::uint32_t>(crc), buf, len);
}

uLong crc32_z(uLong crc, const Bytef* buf, size_t len) {
    return crcOf(static_cast<std::uint32_t>(crc), buf, len);
}

uLong adler32(uLong adler, const Bytef* buf, uInt len) {
    return adlerOf(static_cast<std::uint32_t>(adler), buf, len);
}

uLong adler32_z(uLong adler, const Bytef* buf, size_t len) {
    return adlerOf(static_cast<std::uint32_t>(adler), buf, len);
}

uLong adler32_combine(uLong adler1, uLong adler2, z_off_t len2) {
    if (len2 < 0) return 0xFFFFFFFFu;
    const std::uint64_t rem = static_cast<std::uint64_t>(len2) % kAdlerBase;
    std::uint64_t sum1 = adler1 & 0xFFFF;
    std::uint64_t sum2 = rem * sum1 % kAdlerBase;
    sum1 += (adler2 & 0xFFFF) + kAdlerBase - 1;
    sum2 += ((adler1 >> 16) & 0xFFFF) + ((adler2 >> 16) & 0xFFFF) + kAdlerBase - rem;
    sum1 %= kAdlerBase;
    sum2 %= kAdlerBase;
    return static_cast<uLong>(sum2 << 16 | sum1);
}

uLong compressBound(uLong sourceLen) {
    return sourceLen + 5 * (sourceLen / kStoredBlock + 2) + 6;
}

int compress(Bytef* dest, uLongf* destLen, const Bytef* source, uLong sourceLen) {
    z_stream zs{};
    if (deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return Z_MEM_ERROR;
    zs.next_in = const_cast<Bytef*>(source);
    zs.avail_in = static_cast<uInt>(sourceLen);
    zs.next_out = dest;
    zs.avail_out = static_cast<uInt>(*destLen);
    const int status = deflate(&zs, Z_FINISH);
    *destLen = zs.total_out;
    deflateEnd(&zs);
    return status == Z_STREAM_END ? Z_OK : status == Z_OK ? Z_BUF_ERROR : status;
}

int deflateInit2(z_streamp strm, int level, int method, int windowBits, int memLevel, int strategy) {
    const int bits = windowBits < 0 ? -windowBits : windowBits;
    if (strm == nullptr || method != Z_DEFLATED || bits < 8 || bits > 15 || memLevel < 1 || memLevel > 9 ||
        level < Z_DEFAULT_COMPRESSION || level > 9 || strategy < 0 || strategy > Z_FIXED)
        return Z_STREAM_ERROR;
    auto* state = new (std::nothrow) DeflateState;
    if (state == nullptr) return Z_MEM_ERROR;
    state->zlibWrapper = windowBits > 0;
    strm->state = state;
    strm->total_in = strm->total_out = 0;
    strm->adler = 1;
    strm->msg = nullptr;
    return Z_OK;
}

int deflate(z_streamp strm, int flush) {
    if (strm == nullptr || strm->state == nullptr || flush < Z_NO_FLUSH || flush > Z_FINISH) return Z_STREAM_ERROR;
    auto& st = *static_cast<DeflateState*>(strm->state);
    if (st.ended && flush != Z_FINISH) return Z_STREAM_ERROR;
    try {
        if (!st.started && st.zlibWrapper) {
            st.pending.push_back(0x78);  // deflate, a 32 KiB window, the fastest level
            st.pending.push_back(0x01);
        }
        st.started = true;
        drain(strm, st);
        while (!st.ended && strm->avail_in > 0 && st.pending.empty()) {
            const std::size_t n = std::min<std::size_t>(strm->avail_in, kStoredBlock);
            storedBlock(st.pending, strm->next_in, n, false);
            st.adler = adlerOf(st.adler, strm->next_in, n);
            strm->next_in += n;
            strm->avail_in -= static_cast<uInt>(n);
            strm->total_in += n;
            drain(strm, st);
        }
        if (flush == Z_FINISH && !st.ended && strm->avail_in == 0) {
            storedBlock(st.pending, nullptr, 0, true);
            if (st.zlibWrapper) bigEndian32(st.pending, st.adler);
            st.ended = true;
            drain(strm, st);
        }
    } catch (const std::bad_alloc&) {
        return Z_MEM_ERROR;
    }
    strm->adler = st.adler;
    return st.ended && st.pending.empty() ? Z_STREAM_END : Z_OK;
}

int deflateEnd(z_streamp strm) {
    if (strm == nullptr || strm->state == nullptr) return Z_STREAM_ERROR;
    delete static_cast<DeflateState*>(strm->state);
    strm->state = nullptr;
    return Z_OK;
}

uLong deflateBound(z_streamp /*strm*/, uLong sourceLen) {
    return compressBound(sourceLen);
}

int inflateInit(z_streamp strm) {
    if (strm == nullptr) return Z_STREAM_ERROR;
    auto* state = new (std::nothrow) InflateState;
    if (state == nullptr) return Z_MEM_ERROR;
    strm->state = state;
    strm->total_in = strm->total_out = 0;
    strm->msg = nullptr;
    return Z_OK;
}

int inflate(z_streamp strm, int /*flush*/) {
    if (strm == nullptr || strm->state == nullptr) return Z_STREAM_ERROR;
    auto& st = *static_cast<InflateState*>(strm->state);
    try {
        if (!st.whole) {
            if (strm->avail_in == 0) return Z_BUF_ERROR;
            st.input.insert(st.input.end(), strm->next_in, strm->next_in + strm->avail_in);
            strm->next_in += strm->avail_in;
            strm->total_in += strm->avail_in;
            strm->avail_in = 0;
            const int status = inflateWhole(st.input, st.output);
            if (status == Z_BUF_ERROR) return Z_OK;  // more input may follow
            if (status != Z_OK) return status;
            st.whole = true;
            st.input = {};
        }
    } catch (const std::bad_alloc&) {
        return Z_MEM_ERROR;
    }
    const std::size_t n = std::min<std::size_t>(st.output.size() - st.handedOut, strm->avail_out);
    if (n > 0) std::memcpy(strm->next_out, st.output.data() + st.handedOut, n);
    strm->next_out += n;
    strm->avail_out -= static_cast<uInt>(n);
    strm->total_out += n;
    st.handedOut += n;
    return st.handedOut == st.output.size() ? Z_STREAM_END : Z_OK;
}

int inflateEnd(z_streamp strm) {
    if (strm == nullptr || strm->state == nullptr) return Z_STREAM_ERROR;
    delete static_cast<InflateState*>(strm->state);
    strm->state = nullptr;
    return Z_OK;
}

}  // extern "C"
