#pragma once

#include <deque>
#include <optional>

#include <QByteArray>
#include <QList>
#include <QString>

#include "common/failure.h"
#include "connection/serial_component.h"

namespace vantrel::testing {

// A serial port component under the test's control: opens that fail on
// demand (or until the N-th attempt, as a USB port that appears late), bytes
// that arrive on given polls, writes and reads that fail.
class FakeSerialComponent final : public SerialComponent {
  public:
    // --- Script --------------------------------------------------------
    // Open attempts numbered below this fail (1 = the first attempt succeeds).
    int firstOpenThatSucceeds = 1;
    // Every open attempt fails while this is set.
    bool refuseOpen = false;
    std::optional<Failure> writeFailure;
    std::optional<Failure> readFailure;

    // Bytes that are waiting now.
    void feed(const QByteArray& bytes) { buffer_ += bytes; }
    // Bytes that arrive one chunk per poll: each inBufferCount() first moves
    // the next chunk into the buffer. An empty chunk is a poll with nothing new.
    void arriveOnPolls(const QList<QByteArray>& chunks) {
        for (const QByteArray& c : chunks) arrivals_.push_back(c);
    }
    // The device goes away: the port reads closed from now on.
    void vanish() { open_ = false; }

    // --- What happened -------------------------------------------------
    QString settings;
    qint16 commPort = 0;
    int openAttempts = 0;
    int closes = 0;
    int polls = 0;
    QList<QByteArray> writes;
    QByteArray written() const {
        QByteArray all;
        for (const QByteArray& w : writes) all += w;
        return all;
    }
    qsizetype waiting() const { return buffer_.size(); }

    // --- The component -------------------------------------------------
    void setSettings(const QString& s) override { settings = s; }
    void setCommPort(qint16 number) override { commPort = number; }
    void setPortOpen(bool open) override {
        if (!open) {
            if (open_) ++closes;
            open_ = false;
            return;
        }
        if (open_) throw Failure(failure::kPortAlreadyOpen, QStringLiteral("Port already open"));
        ++openAttempts;
        if (refuseOpen || openAttempts < firstOpenThatSucceeds)
            throw Failure(failure::kPortInvalid, QStringLiteral("COM%1: no such device").arg(commPort));
        open_ = true;
    }
    bool portOpen() const override { return open_; }
    void setOutput(const QByteArray& data) override {
        if (!open_) throw Failure(failure::kPortNotOpen, QStringLiteral("The port is not open"));
        if (writeFailure) throw *writeFailure;
        writes.append(data);
    }
    qint16 inBufferCount() override {
        if (!open_) throw Failure(failure::kPortNotOpen, QStringLiteral("The port is not open"));
        if (readFailure) throw *readFailure;
        ++polls;
        if (!arrivals_.empty()) {
            buffer_ += arrivals_.front();
            arrivals_.pop_front();
        }
        return static_cast<qint16>(qMin<qsizetype>(buffer_.size(), 32767));
    }
    QByteArray input() override {
        if (!open_) throw Failure(failure::kPortNotOpen, QStringLiteral("The port is not open"));
        if (readFailure) throw *readFailure;
        QByteArray out = buffer_.left(32767);
        buffer_.remove(0, out.size());
        return out;
    }

  private:
    bool open_ = false;
    QByteArray buffer_;
    std::deque<QByteArray> arrivals_;
};

}  // namespace vantrel::testing
