#include "boardsim/port_lifecycle.h"

namespace vantrel::boardsim {
namespace {

Micros seconds(double value) {
    return static_cast<Micros>(value * 1'000'000);
}

}  // namespace

PortLifecycle::PortLifecycle(std::optional<double> appearAfter, std::optional<double> replugAfter)
    : replugAfter_(replugAfter) {
    if (appearAfter) appearAt_ = seconds(*appearAfter);
}

bool PortLifecycle::present(Micros t) const {
    return !gone_ && !(appearAt_ && t < *appearAt_);
}

std::optional<Micros> PortLifecycle::takeAppear(Micros t) {
    if (!appearAt_ || t < *appearAt_) return std::nullopt;
    const Micros at = *appearAt_;
    appearAt_.reset();
    return at;
}

std::optional<Micros> PortLifecycle::takeReplug(Micros t) {
    if (!replugAt_ || t < *replugAt_) return std::nullopt;
    const Micros at = *replugAt_;
    replugAt_.reset();
    gone_ = false;
    return at;
}

bool PortLifecycle::unplugDue(Micros t, bool replyRead) {
    if (gone_) return false;
    if (!drainingSince_) drainingSince_ = t;
    return replyRead || t - *drainingSince_ >= kDrainLimit;
}

void PortLifecycle::unplugged(Micros t) {
    gone_ = true;
    drainingSince_.reset();
    if (replugAfter_) replugAt_ = t + seconds(*replugAfter_);
}

bool PtyDrainWatch::replyRead(Micros t, int unread, Micros lastWriteAt) {
    seenWaiting_ = seenWaiting_ || unread > 0;
    return unread == 0 && (seenWaiting_ || t - lastWriteAt >= kSettle);
}

}  // namespace vantrel::boardsim
