#include "flasher/watched_port.h"

#include "common/failure.h"

namespace vantrel::flasher {

WatchedPort::WatchedPort(std::unique_ptr<SerialComponent> inner) : inner_(std::move(inner)) {}

void WatchedPort::setSettings(const QString& settings) {
    inner_->setSettings(settings);
}

void WatchedPort::setCommPort(qint16 number) {
    inner_->setCommPort(number);
    commPort_ = number;
}

void WatchedPort::setPortOpen(bool open) {
    if (!open) {
        inner_->setPortOpen(false);
        return;
    }
    try {
        inner_->setPortOpen(true);
        lastOpenFailure_.reset();
    } catch (const Failure& f) {
        lastOpenFailure_ = OpenFailure{f.number(), f.description()};
        throw;
    }
}

bool WatchedPort::portOpen() const {
    return inner_->portOpen();
}

void WatchedPort::setOutput(const QByteArray& data) {
    inner_->setOutput(data);
    ++writes_;
    lastWrite_.start();
    if (onWrite) onWrite(data);
}

qint16 WatchedPort::inBufferCount() {
    return inner_->inBufferCount();
}

QByteArray WatchedPort::input() {
    QByteArray bytes = inner_->input();
    if (!bytes.isEmpty()) lastRead_.start();
    return bytes;
}

}  // namespace vantrel::flasher
