#include "flasher/probe_asks.h"

#include <algorithm>

namespace vantrel::flasher {

void ProbeAsks::asked(int address, qint64 nowMs) {
    pending_[address].push_back(nowMs);
    lastActivityMs_ = std::max(lastActivityMs_, nowMs);
}

void ProbeAsks::answered(int address, qint64 nowMs) {
    lastActivityMs_ = std::max(lastActivityMs_, nowMs);
    auto it = pending_.find(address);
    // An answer nobody asked for (a late one from before, another tool)
    // settles nothing, but the line was not quiet.
    if (it == pending_.end() || it->second.empty()) return;
    slowestMs_ = std::max(slowestMs_, nowMs - it->second.front());
    it->second.pop_front();
}

int ProbeAsks::unanswered(int address) const {
    const auto it = pending_.find(address);
    return it == pending_.end() ? 0 : static_cast<int>(it->second.size());
}

qint64 ProbeAsks::waitMs(int address, qint64 nowMs) const {
    if (unanswered(address) == 0) return 0;
    const qint64 quietUntil = lastActivityMs_ + slowestMs_ + kQuietMarginMs;
    return std::max<qint64>(0, quietUntil - nowMs);
}

bool ProbeAsks::settled(int address, qint64 nowMs) const {
    return waitMs(address, nowMs) == 0;
}

}  // namespace vantrel::flasher
