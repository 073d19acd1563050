#include "picsim/uart_wire.h"

namespace vantrel::picsim {

UartTransmitter::Step UartTransmitter::step(Cycles now) {
    Step result;
    if (busy_ && now >= bitStart_ + bitCycles_) {
        // The current bit has ended.
        bitStart_ += bitCycles_;
        ++bit_;
        if (bit_ > 9) {
            busy_ = false;
            result.sent = static_cast<char>(current_);
        }
    }
    if (!busy_ && !waiting_.empty()) {
        current_ = static_cast<unsigned char>(waiting_.front());
        waiting_.pop_front();
        busy_ = true;
        bit_ = 0;
        bitStart_ = now;
    }
    if (!busy_) return result;
    if (bit_ == 0)
        result.level = false;
    else if (bit_ <= 8)
        result.level = ((current_ >> (bit_ - 1)) & 1) != 0;
    else
        result.level = true;
    result.next = bitStart_ + bitCycles_;
    return result;
}

bool UartReceiver::levelAt(Cycles at) const {
    // The level at `at`: the last edge at or before it, within the character.
    bool level = false;  // the start bit
    for (const auto& [when, to] : edges_) {
        if (when > at) break;
        level = to;
    }
    return level;
}

void UartReceiver::finish() {
    const Cycles start = *start_;
    unsigned value = 0;
    for (int bit = 0; bit < 8; ++bit) {
        // Sampled in the middle of each bit, as a UART does.
        if (levelAt(start + bitCycles_ * static_cast<Cycles>(bit + 1) + bitCycles_ / 2)) value |= 1u << bit;
    }
    if (!levelAt(start + bitCycles_ * 9 + bitCycles_ / 2)) ++framingErrors_;
    out_.push_back(static_cast<char>(value));
    start_.reset();
    edges_.clear();
}

void UartReceiver::edge(Cycles at, bool level) {
    if (level == level_) return;
    // A character whose stop bit came before this edge is complete.
    if (start_ && at >= *due()) finish();
    level_ = level;
    if (!start_) {
        if (!level) start_ = at;  // the falling edge of a start bit
        return;
    }
    edges_.emplace_back(at, level);
}

std::optional<Cycles> UartReceiver::due() const {
    if (!start_) return std::nullopt;
    return *start_ + bitCycles_ * 9 + bitCycles_ / 2 + 1;
}

std::string UartReceiver::take(Cycles now) {
    if (start_ && now >= *due()) {
        finish();
        // The line may have stayed low past the stop bit: a new start.
        if (!level_) start_ = now;
    }
    std::string out;
    out.swap(out_);
    return out;
}

}  // namespace vantrel::picsim
