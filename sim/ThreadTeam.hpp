#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace orv {

// The calling thread and a few helper threads that share the parts of one job: run() hands
// part 0 to the caller and parts 1 .. size-1 to the helpers, and returns when every part is
// done. Between jobs the helpers wait a little spinning (jobs of a run of generations follow
// each other closely, and waking a sleeping thread costs tens of microseconds), then sleep; the
// caller waits for the helpers the same way. Everything a part wrote is visible to the caller
// afterwards, and everything the caller wrote before run() is visible to every part.
class ThreadTeam {
public:
    // threads counts the caller; 1 means no helpers (run() then just calls part 0). Throws
    // std::system_error when the system refuses a thread.
    explicit ThreadTeam(int threads);
    ~ThreadTeam();
    ThreadTeam(const ThreadTeam&) = delete;
    ThreadTeam& operator=(const ThreadTeam&) = delete;

    int size() const { return static_cast<int>(helpers_.size()) + 1; }

    // Calls work(part) once for each part, on its own thread. work must not throw.
    template <class Work>
    void run(const Work& work) {
        runParts(&work, [](const void* w, int part) { (*static_cast<const Work*>(w))(part); });
    }

private:
    using Call = void (*)(const void*, int);
    void runParts(const void* work, Call call);
    void helperLoop(int part);
    void stopHelpers();

    std::mutex mutex_;
    std::condition_variable start_, done_;
    std::atomic<std::uint64_t> job_{0};  // counts the jobs handed out
    std::atomic<int> pending_{0};        // helpers still working on the current job
    std::atomic<bool> stopping_{false};
    const void* work_ = nullptr;
    Call call_ = nullptr;
    std::vector<std::thread> helpers_;
};

// A count that one thread raises and another waits for, for handing work along many times a
// millisecond: the waiter spins a little before it sleeps, and raising the count makes a system
// call only when the waiter sleeps.
class HandOff {
public:
    std::int64_t count() const { return count_.load(std::memory_order_acquire); }
    void raise(std::int64_t count);
    // Returns once the count has reached target (at once when it has).
    void waitFor(std::int64_t target);

private:
    std::atomic<std::int64_t> count_{0};
    std::atomic<bool> sleeping_{false};
};

}  // namespace orv
