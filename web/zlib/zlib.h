// The part of zlib's interface that Orvandel's core uses, for the browser build, where no zlib
// is at hand: checksums, deflate streams written as stored blocks (exact and fast; the page then
// packs a PNG's image data with the browser's own deflate before a download) and inflate of any
// deflate stream. ZlibStandIn.cpp implements it.
//
// With ORV_ZLIB_PREFIX defined the functions are named orvz_... instead, so that a native test
// program can hold them beside the real zlib.
#pragma once

#include <stddef.h>

#if defined(ORV_ZLIB_PREFIX)
#define crc32 orvz_crc32
#define crc32_z orvz_crc32_z
#define adler32 orvz_adler32
#define adler32_z orvz_adler32_z
#define adler32_combine orvz_adler32_combine
#define compressBound orvz_compressBound
#define compress orvz_compress
#define deflateInit2 orvz_deflateInit2
#define deflate orvz_deflate
#define deflateEnd orvz_deflateEnd
#define deflateBound orvz_deflateBound
#define inflateInit orvz_inflateInit
#define inflate orvz_inflate
#define inflateEnd orvz_inflateEnd
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned char Bytef;
typedef unsigned int uInt;
typedef unsigned long uLong;
typedef uLong uLongf;
typedef long z_off_t;

#define Z_NULL 0

#define Z_NO_FLUSH 0
#define Z_SYNC_FLUSH 2
#define Z_FULL_FLUSH 3
#define Z_FINISH 4

#define Z_OK 0
#define Z_STREAM_END 1
#define Z_NEED_DICT 2
#define Z_STREAM_ERROR (-2)
#define Z_DATA_ERROR (-3)
#define Z_MEM_ERROR (-4)
#define Z_BUF_ERROR (-5)

#define Z_DEFAULT_COMPRESSION (-1)
#define Z_BEST_SPEED 1
#define Z_DEFAULT_STRATEGY 0
#define Z_FILTERED 1
#define Z_HUFFMAN_ONLY 2
#define Z_RLE 3
#define Z_FIXED 4
#define Z_DEFLATED 8

typedef struct z_stream_s {
    Bytef* next_in;
    uInt avail_in;
    uLong total_in;
    Bytef* next_out;
    uInt avail_out;
    uLong total_out;
    const char* msg;
    void* state;
    int data_type;
    uLong adler;
} z_stream;
typedef z_stream* z_streamp;

uLong crc32(uLong crc, const Bytef* buf, uInt len);
uLong crc32_z(uLong crc, const Bytef* buf, size_t len);
uLong adler32(uLong adler, const Bytef* buf, uInt len);
uLong adler32_z(uLong adler, const Bytef* buf, size_t len);
uLong adler32_combine(uLong adler1, uLong adler2, z_off_t len2);

uLong compressBound(uLong sourceLen);
int compress(Bytef* dest, uLongf* destLen, const Bytef* source, uLong sourceLen);

// windowBits 8 .. 15 writes a zlib stream, -15 .. -8 a raw deflate stream; level, memLevel and
// strategy are checked and otherwise ignored: every block is stored.
int deflateInit2(z_streamp strm, int level, int method, int windowBits, int memLevel, int strategy);
int deflate(z_streamp strm, int flush);
int deflateEnd(z_streamp strm);
// Enough for sourceLen bytes given to deflate in one call.
uLong deflateBound(z_streamp strm, uLong sourceLen);

// A zlib stream; inflate reads all the input it is given and hands the bytes out once the
// stream is whole.
int inflateInit(z_streamp strm);
int inflate(z_streamp strm, int flush);
int inflateEnd(z_streamp strm);

#ifdef __cplusplus
}
#endif
