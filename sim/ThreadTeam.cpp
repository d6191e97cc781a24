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

void ThreadTeam::stopHelpers() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    start_.notify_all();
    for (std::thread& helper : helpers_) helper.join();
}

void ThreadTeam::runParts(const void* work, Call call) {
    if (helpers_.empty()) {
        call(work, 0);
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        work_ = work;
        call_ = call;
        pending_ = static_cast<int>(helpers_.size());
        ++job_;
    }
    start_.notify_all();
    call(work, 0);
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return pending_ == 0; });
}

void ThreadTeam::helperLoop(int part) {
    std::uint64_t seen = 0;
    for (;;) {
        const void* work = nullptr;
        Call call = nullptr;
        {
            std::unique_lock lock(mutex_);
            start_.wait(lock, [&] { return stopping_ || job_ != seen; });
            if (stopping_) return;
            seen = job_;
            work = work_;
            call = call_;
        }
        call(work, part);
        bool last = false;
        {
            const std::lock_guard lock(mutex_);
            last = --pending_ == 0;
        }
        if (last) done_.notify_one();
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
