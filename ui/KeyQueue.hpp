#pragma once

#include <array>
#include <cstddef>
#include <optional>

#include "ui/Keys.hpp"

namespace orv {

// The keys pressed but not yet taken, oldest first: a ring of 16 slots that holds at most
// 15 keys. A key that arrives while 15 are waiting pushes the oldest one out.
class KeyQueue {
public:
    static constexpr std::size_t kSlots = 16;
    static constexpr std::size_t kCapacity = kSlots - 1;

    void push(Key key);
    std::optional<Key> pop();
    std::size_t size() const { return (tail_ + kSlots - head_) % kSlots; }
    bool empty() const { return head_ == tail_; }
    void clear() { head_ = tail_ = 0; }

private:
    std::array<Key, kSlots> slots_{};
    std::size_t head_ = 0;  // next key to take
    std::size_t tail_ = 0;  // next free slot
};

}  // namespace orv
