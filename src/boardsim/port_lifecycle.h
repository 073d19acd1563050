#pragma once

#include <optional>

#include "boardsim/simulator.h"

namespace vantrel::boardsim {

// When a simulated port exists: from --appear-after on; gone once the unplug
// record's reply has been read (or the drain limit has passed); back after
// --replug-after. Time only, so the pty program and the in-process port
// share it; each tells it whether its host has read the reply.
class PortLifecycle {
  public:
    // After the unplug record is answered, the host gets up to this long to
    // read the reply before the port goes.
    static constexpr Micros kDrainLimit = 2'000'000;

    PortLifecycle(std::optional<double> appearAfter, std::optional<double> replugAfter);

    // The port exists at `t` (as far as the time goes).
    bool present(Micros t) const;
    bool gone() const { return gone_; }
    std::optional<Micros> appearAt() const { return appearAt_; }
    std::optional<Micros> replugAt() const { return replugAt_; }
    bool draining() const { return drainingSince_.has_value(); }

    // The moment the port appeared, once, when `t` has reached it.
    std::optional<Micros> takeAppear(Micros t);
    // The moment the port comes back, once, when `t` has reached it.
    std::optional<Micros> takeReplug(Micros t);

    // Called while the boards want to unplug and every reply byte has been
    // handed to the host: true when the port goes now (`replyRead`, or the
    // drain limit passed). The caller then removes the port and calls
    // unplugged().
    bool unplugDue(Micros t, bool replyRead);
    void unplugged(Micros t);

  private:
    std::optional<Micros> appearAt_;
    std::optional<double> replugAfter_;
    std::optional<Micros> replugAt_;
    std::optional<Micros> drainingSince_;
    bool gone_ = false;
};

// On a pty, bytes written to the master reach the slave's queue a moment
// later (the kernel moves them in a work item), so an empty queue counts as
// read only once the reply was seen waiting there, or once the settle time
// after the last write has passed.
class PtyDrainWatch {
  public:
    static constexpr Micros kSettle = 250'000;
    bool replyRead(Micros t, int unread, Micros lastWriteAt);
    void reset() { seenWaiting_ = false; }

  private:
    bool seenWaiting_ = false;
};

}  // namespace vantrel::boardsim
