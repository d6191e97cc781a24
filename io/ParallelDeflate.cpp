#include "io/ParallelDeflate.hpp"

#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace orv {
namespace {

constexpr std::size_t kSingleBuffer = std::size_t{1} << 20;
constexpr int kMaxThreads = 8;

// A band of the stream: its bytes, its deflate state and room for its part of the stream (all
// allocated by the caller's thread, so that a thread that deflates it allocates nothing), and
// once deflated, its part of the stream and its sum.
struct Band {
    std::vector<std::uint8_t> input;
    std::size_t inputSize = 0;
    bool last = false;
    z_stream zs{};
    bool zsReady = false;
    std::vector<std::uint8_t> output;
    std::size_t outputSize = 0;
    uLong adler = 1;
    bool done = false;
    bool failed = false;

    ~Band() {
        if (zsReady) deflateEnd(&zs);
    }
};

// Makes the band's deflate state and the room for its output; false when memory is short.
bool prepareBand(Band& band, int level, int strategy) {
    band.inputSize = band.input.size();
    if (!band.zsReady) band.zsReady = deflateInit2(&band.zs, level, Z_DEFLATED, -15, 8, strategy) == Z_OK;
    if (!band.zsReady) return false;
    try {
        // Room for the whole band at once, and the flush marker.
        band.output.resize(deflateBound(&band.zs, static_cast<uLong>(band.inputSize)) + 16);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// Deflates a band as a raw stream: ended by a full flush (byte-aligned, not final) so that the
// next band's blocks can follow, or by the final block.
void deflateBand(Band& band) {
    band.adler = adler32_z(adler32(0L, Z_NULL, 0), band.input.data(), band.inputSize);
    z_stream& zs = band.zs;
    zs.next_in = band.input.data();
    zs.avail_in = static_cast<uInt>(band.inputSize);
    zs.next_out = band.output.data();
    zs.avail_out = static_cast<uInt>(band.output.size());
    const int status = deflate(&zs, band.last ? Z_FINISH : Z_FULL_FLUSH);
    band.failed = band.last ? status != Z_STREAM_END : status != Z_OK || zs.avail_in != 0 || zs.avail_out == 0;
    band.outputSize = zs.total_out;
}

// The two bytes that open a zlib stream: a 32 KiB window, and the level class zlib would note.
void zlibHeader(int level, int strategy, std::uint8_t out[2]) {
    const int levelFlags = strategy >= Z_HUFFMAN_ONLY || (level >= 0 && level < 2) ? 0
                           : level >= 0 && level < 6                               ? 1
                           : level == 6 || level == Z_DEFAULT_COMPRESSION          ? 2
                                                                                   : 3;
    unsigned header = (Z_DEFLATED + (7u << 4)) << 8 | static_cast<unsigned>(levelFlags) << 6;
    header += 31 - header % 31;
    out[0] = static_cast<std::uint8_t>(header >> 8);
    out[1] = static_cast<std::uint8_t>(header);
}

}  // namespace

DeflateOptions DeflateOptions::single() {
    return DeflateOptions{Z_DEFAULT_COMPRESSION, Z_DEFAULT_STRATEGY, 1, 0};
}

DeflateOptions DeflateOptions::bands() {
    return DeflateOptions{Z_BEST_SPEED, Z_RLE, 0, std::size_t{1} << 20};
}

struct ParallelDeflate::State {
    DeflateOptions options;
    Sink sink;
    bool ok = true;
    bool finished = false;
    bool memoryShort = false;  // told to the caller as std::bad_alloc, as everywhere else

    // One stream.
    z_stream zs{};
    bool zsReady = false;
    std::vector<std::uint8_t> out;

    // Bands: the one being filled, and those handed out, in the stream's order.
    std::unique_ptr<Band> filling;
    std::deque<std::unique_ptr<Band>> handedOut;
    bool headerWritten = false;
    uLong adler = 1;
    int threads = 1;
    std::vector<std::thread> workers;
    std::mutex mutex;
    std::condition_variable work, done;
    std::deque<Band*> waiting;  // handed out, not yet taken by a worker
    bool stopping = false;

    void workerLoop() {
        for (;;) {
            Band* band = nullptr;
            {
                std::unique_lock lock(mutex);
                work.wait(lock, [this] { return stopping || !waiting.empty(); });
                if (waiting.empty()) return;
                band = waiting.front();
                waiting.pop_front();
            }
            deflateBand(*band);
            {
                const std::lock_guard lock(mutex);
                band->done = true;
            }
            done.notify_all();
        }
    }

    void stopWorkers() {
        {
            const std::lock_guard lock(mutex);
            stopping = true;
            waiting.clear();
        }
        work.notify_all();
        for (std::thread& worker : workers) worker.join();
        workers.clear();
    }

    bool emit(const std::uint8_t* data, std::size_t size) {
        if (ok && size > 0 && !sink(data, size)) ok = false;
        return ok;
    }

    // Hands the oldest band's part of the stream to the sink, once it is deflated.
    void emitOldest() {
        Band& band = *handedOut.front();
        {
            std::unique_lock lock(mutex);
            done.wait(lock, [&band] { return band.done; });
        }
        if (band.failed) ok = false;
        if (ok && !headerWritten) {
            std::uint8_t header[2];
            zlibHeader(options.level, options.strategy, header);
            emit(header, 2);
            headerWritten = true;
        }
        emit(band.output.data(), band.outputSize);
        adler = adler32_combine(adler, band.adler, static_cast<z_off_t>(band.inputSize));
        handedOut.pop_front();
    }

    // Every band handed out is either deflated here or queued for a worker, whatever fails:
    // emitOldest waits for each.
    void handOut(std::unique_ptr<Band> band) {
        Band* raw = band.get();
        handedOut.push_back(std::move(band));
        bool prepared = prepareBand(*raw, options.level, options.strategy);
        if (!prepared && (handedOut.size() > 1 || !workers.empty())) {
            // Short of memory: finish the bands in hand, let the threads (and their stacks) go,
            // and go on alone. The stream's bytes stay the same.
            while (ok && handedOut.size() > 1) emitOldest();
            stopWorkers();
            threads = 1;
            prepared = ok && prepareBand(*raw, options.level, options.strategy);
        }
        bool queued = false;
        if (!prepared) {
            raw->failed = true;
            memoryShort = true;
        } else if (!(raw->last && handedOut.size() == 1) && startWorkers()) {
            try {
                const std::lock_guard lock(mutex);
                waiting.push_back(raw);
                queued = true;
            } catch (const std::bad_alloc&) {
            }
            if (queued) work.notify_one();
        }
        if (!queued) {
            // A band that is the whole stream, or one with no thread to take it, is deflated here.
            if (prepared) deflateBand(*raw);
            raw->done = true;
        }
        // A few bands ahead of the sink at most: they bound the memory held.
        while (ok && handedOut.size() > static_cast<std::size_t>(2 * threads + 1)) emitOldest();
    }

    // True when threads are there to deflate bands.
    bool startWorkers() {
        if (threads < 2) return false;
        if (!workers.empty()) return true;
        try {
            for (int i = 0; i < threads; ++i) workers.emplace_back([this] { workerLoop(); });
        } catch (const std::exception&) {
            // The system gives no (more) threads, or no memory for them: those started do the
            // work, or this one does.
            if (workers.empty()) threads = 1;
        }
        return !workers.empty();
    }
};

ParallelDeflate::ParallelDeflate(const DeflateOptions& options, Sink sink) : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.options = options;
    s.sink = std::move(sink);
    if (options.bandBytes == 0) {
        s.out.resize(kSingleBuffer);
        const int status = deflateInit2(&s.zs, options.level, Z_DEFLATED, 15, 8, options.strategy);
        if (status == Z_MEM_ERROR) throw std::bad_alloc();
        s.zsReady = status == Z_OK;
        s.ok = s.zsReady;
        s.zs.next_out = s.out.data();
        s.zs.avail_out = static_cast<uInt>(s.out.size());
        return;
    }
    const unsigned available = std::thread::hardware_concurrency();
    s.threads = options.threads > 0 ? options.threads : static_cast<int>(std::max(available, 1u));
    s.threads = std::min(s.threads, kMaxThreads);
}

ParallelDeflate::~ParallelDeflate() {
    State& s = *state_;
    if (s.zsReady) deflateEnd(&s.zs);
    s.stopWorkers();
}

bool ParallelDeflate::ok() const {
    return state_->ok;
}

bool ParallelDeflate::write(const std::uint8_t* data, std::size_t size) {
    State& s = *state_;
    if (!s.ok || s.finished) return s.ok = false;
    if (s.options.bandBytes == 0) {
        // zlib takes at most 4 GiB - 1 at a time.
        while (s.ok && size > 0) {
            const std::size_t take = std::min<std::size_t>(size, 0x40000000u);
            s.zs.next_in = const_cast<Bytef*>(data);
            s.zs.avail_in = static_cast<uInt>(take);
            do {
                if (deflate(&s.zs, Z_NO_FLUSH) == Z_STREAM_ERROR) return s.ok = false;
                if (s.zs.avail_out == 0) {
                    s.emit(s.out.data(), s.out.size());
                    s.zs.next_out = s.out.data();
                    s.zs.avail_out = static_cast<uInt>(s.out.size());
                }
            } while (s.ok && s.zs.avail_in > 0);
            data += take;
            size -= take;
        }
        return s.ok;
    }
    try {
        while (s.ok && size > 0) {
            if (!s.filling) {
                s.filling = std::make_unique<Band>();
                s.filling->input.reserve(s.options.bandBytes);
            }
            std::vector<std::uint8_t>& input = s.filling->input;
            const std::size_t take = std::min(size, s.options.bandBytes - input.size());
            input.insert(input.end(), data, data + take);
            data += take;
            size -= take;
            if (input.size() == s.options.bandBytes) s.handOut(std::move(s.filling));
        }
    } catch (const std::bad_alloc&) {
        s.ok = false;
        s.memoryShort = true;
    }
    if (s.memoryShort) throw std::bad_alloc();
    return s.ok;
}

bool ParallelDeflate::finish() {
    State& s = *state_;
    if (!s.ok || s.finished) return s.ok = false;
    s.finished = true;
    if (s.options.bandBytes == 0) {
        for (;;) {
            const int status = deflate(&s.zs, Z_FINISH);
            if (status == Z_STREAM_ERROR) return s.ok = false;
            if (status == Z_STREAM_END) break;
            s.emit(s.out.data(), s.out.size());
            if (!s.ok) return false;
            s.zs.next_out = s.out.data();
            s.zs.avail_out = static_cast<uInt>(s.out.size());
        }
        return s.emit(s.out.data(), s.out.size() - s.zs.avail_out);
    }
    try {
        if (!s.filling) s.filling = std::make_unique<Band>();
        s.filling->last = true;
        s.handOut(std::move(s.filling));
    } catch (const std::bad_alloc&) {
        s.ok = false;
        s.memoryShort = true;
    }
    while (!s.handedOut.empty()) s.emitOldest();
    s.stopWorkers();
    if (s.memoryShort) throw std::bad_alloc();
    const std::uint8_t trailer[4] = {static_cast<std::uint8_t>(s.adler >> 24), static_cast<std::uint8_t>(s.adler >> 16),
                                     static_cast<std::uint8_t>(s.adler >> 8), static_cast<std::uint8_t>(s.adler)};
    return s.emit(trailer, sizeof trailer);
}

}  // namespace orv
