#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace orv {

// How a zlib stream is made.
struct DeflateOptions {
    int level;              // zlib's compression level
    int strategy;           // zlib's strategy (Z_DEFAULT_STRATEGY, Z_RLE, ...)
    int threads;            // threads that deflate bands (0: as many as the processor runs at once)
    std::size_t bandBytes;  // bytes per band; 0: one stream deflated as the bytes come, on the caller's thread

    // zlib's default level, one stream: what a PNG file was written with before bands.
    static DeflateOptions single();
    // Bands of 1 MiB with zlib's run-length strategy on every processor: for map pictures, whose
    // matches are nearly all runs, about as small as the default level and several times faster.
    static DeflateOptions bands();
};

// One zlib stream (RFC 1950) of the bytes written to it, handed to `sink` in order as it is made.
//
// With bands, the bytes are cut into bands of bandBytes, each deflated on its own (one of them on
// the caller's thread when the band is the only one, or when no thread can be started) and ended
// by a full flush, the last by the final block; their Adler-32 sums are combined into the
// stream's. The stream's bytes depend on the bytes written and the options, never on how many
// threads there are. The caller's thread is the only one that calls the sink.
class ParallelDeflate {
public:
    using Sink = std::function<bool(const std::uint8_t* data, std::size_t size)>;

    ParallelDeflate(const DeflateOptions& options, Sink sink);
    ~ParallelDeflate();
    ParallelDeflate(const ParallelDeflate&) = delete;
    ParallelDeflate& operator=(const ParallelDeflate&) = delete;

    // Appends bytes to the stream; false once anything failed (zlib or the sink). Memory too short
    // even for one thread is thrown as std::bad_alloc, so that callers tell it as they tell it
    // everywhere else.
    bool write(const std::uint8_t* data, std::size_t size);
    // Ends the stream and hands over the rest of it; false when anything failed (std::bad_alloc as
    // for write).
    bool finish();
    bool ok() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace orv
