#include "ui/KeyQueue.hpp"

namespace orv {

void KeyQueue::push(Key key) {
    slots_[tail_] = key;
    tail_ = (tail_ + 1) % kSlots;
    if (tail_ == head_) head_ = (head_ + 1) % kSlots;  // full: the oldest key is dropped
}

std::optional<Key> KeyQueue::pop() {
    if (empty()) return std::nullopt;
    Key key = slots_[head_];
    head_ = (head_ + 1) % kSlots;
    return key;
}

}  // namespace orv
