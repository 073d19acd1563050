#include "flasher/run_time_left.h"

#include <algorithm>
#include <cmath>

namespace vantrel::flasher {

qint64 runSecondsLeft(const QList<PortTimeLeft>& ports, qint64 linesPerBoard) {
    qint64 longest = 0;
    for (const PortTimeLeft& p : ports) {
        if (p.searching) continue;
        qint64 left = 0;
        if (p.running) {
            if (p.runningSecondsLeft < 0) return -1;
            left = p.runningSecondsLeft;
        }
        if (p.queuedBoards > 0 && linesPerBoard > 0) {
            if (p.linesPerSecond <= 0.0) return -1;
            left += static_cast<qint64>(
                std::ceil(static_cast<double>(p.queuedBoards) * static_cast<double>(linesPerBoard) / p.linesPerSecond));
        }
        longest = std::max(longest, left);
    }
    return longest;
}

}  // namespace vantrel::flasher
