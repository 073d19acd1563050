#pragma once

#include <deque>
#include <map>

#include <QtGlobal>

namespace vantrel::flasher {

// The version queries the probe put on the line and the "VER=" answers that
// came back. The probe asks every 200 ms until the first answer; a board that
// takes longer than that to answer gets several asks and answers each. A
// transfer started on the first answer would meet the later ones while a
// line is in flight, and each "VER=" during a transfer sends a line: two
// lines in flight. So an action starts only once the line has settled.
class ProbeAsks {
  public:
    // How much longer than the slowest answer so far the line must stay
    // quiet before an ask still unanswered counts as lost: replies are seen
    // at the receive tick (20 ms), and one tick more covers a late one.
    static constexpr qint64 kQuietMarginMs = 40;

    // A version query went on the line, to `address` (-1 on a plain line).
    void asked(int address, qint64 nowMs);
    // A "VER=" came from `address`: it answers the oldest ask to it.
    void answered(int address, qint64 nowMs);

    // Every ask to `address` (in a search, the only address that can answer
    // them) has had its answer, or the line has stayed quiet for longer than
    // the slowest answer took.
    bool settled(int address, qint64 nowMs) const;
    // How long from now until the quiet alone settles the line; 0 when
    // settled already.
    qint64 waitMs(int address, qint64 nowMs) const;

    int unanswered(int address) const;
    qint64 slowestAnswerMs() const { return slowestMs_; }

  private:
    std::map<int, std::deque<qint64>> pending_;  // when each unanswered ask went out
    qint64 slowestMs_ = 0;
    qint64 lastActivityMs_ = 0;
};

}  // namespace vantrel::flasher
