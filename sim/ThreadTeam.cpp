#include "sim/ThreadTeam.hpp"

namespace orv {

ThreadTeam::ThreadTeam(int threads) {
    try {
        for (int part = 1; part < threads; ++part) helpers_.emplace_back([this, part] { helperLoop(part); });
    } catch (...) {
        stopHelpers();
        throw;
    }
}

ThreadTeam::~ThreadTeam() {
    stopHelpers();
}

namespace {

// Spins until done() or about as long as waking a sleeping thread takes; true when done.
template <class Done>
bool spinUntil(const Done& done) {
    constexpr int kSpins = 4000;
    for (int spin = 0; spin < kSpins; ++spin) {
        if (done()) return true;
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
    }
    return done();
}

}  // namespace

void ThreadTeam::stopHelpers() {
    {
        const std::lock_guard lock(mutex_);
        stopping_.store(true, std::memory_order_relaxed);
        job_.fetch_add(1, std::memory_order_release);
    }
    start_.notify_all();
    for (std::thread& helper : helpers_) helper.join();
}

void ThreadTeam::runParts(const void* work, Call call) {
    if (helpers_.empty()) {
        call(work, 0);
        return;
    }
    work_ = work;
    call_ = call;
    pending_.store(static_cast<int>(helpers_.size()), std::memory_order_relaxed);
    {
        // Under the lock, so that a helper about to sleep sees the job or is woken for it.
        const std::lock_guard lock(mutex_);
        job_.fetch_add(1, std::memory_order_release);
    }
    start_.notify_all();
    call(work, 0);
    auto allDone = [this] { return pending_.load(std::memory_order_acquire) == 0; };
    if (spinUntil(allDone)) return;
    std::unique_lock lock(mutex_);
    done_.wait(lock, allDone);
}

void ThreadTeam::helperLoop(int part) {
    std::uint64_t seen = 0;
    for (;;) {
        auto handedOut = [&] { return job_.load(std::memory_order_acquire) != seen; };
        if (!spinUntil(handedOut)) {
            std::unique_lock lock(mutex_);
            start_.wait(lock, handedOut);
        }
        seen = job_.load(std::memory_order_acquire);
        if (stopping_.load(std::memory_order_relaxed)) return;
        call_(work_, part);
        if (pending_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            // The caller checks the count under the lock before it sleeps.
            { const std::lock_guard lock(mutex_); }
            done_.notify_one();
        }
    }
}

void HandOff::raise(std::int64_t count) {
    // Sequentially consistent with the waiter's two steps: either it sees the new count before
    // it sleeps, or this sees it sleeping and wakes it.
    count_.store(count, std::memory_order_seq_cst);
    if (sleeping_.load(std::memory_order_seq_cst)) count_.notify_all();
}

void HandOff::waitFor(std::int64_t target) {
    constexpr int kSpins = 4000;
    for (int spin = 0; spin < kSpins; ++spin) {
        if (count_.load(std::memory_order_acquire) >= target) return;
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
    }
    for (;;) {
        sleeping_.store(true, std::memory_order_seq_cst);
        const std::int64_t seen = count_.load(std::memory_order_seq_cst);
        if (seen >= target) break;
        count_.wait(seen, std::memory_order_acquire);
    }
    sleeping_.store(false, std::memory_order_relaxed);
}

}  // namespace orv
