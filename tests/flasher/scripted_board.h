#pragma once

#include <functional>
#include <optional>

#include <QByteArray>
#include <QList>

#include "common/failure.h"
#include "connection/serial_component.h"
#include "link/crc16.h"

namespace vantrel::testing {

// A bootloader behind a fake port, enough to run whole jobs without a pty: "BOOTi" answers the version, records answer
// "OK" (the end record "DOWNLOAD"), "VER" answers once "BOOTg" installed the image, "BOOT$hh" answers "ADR=hh". A reply
// is waiting from the poll after its command (or `replyAfterPolls` polls later). `reply` overrides the answer: nullopt
// for silence. With `modbusAddress` set, only frames to that address with a good CRC are taken, and replies go back
// framed.
class ScriptedBoard final : public SerialComponent {
  public:
    struct Command {
        QByteArray bytes;
        int record = 0;  // 1.. for "BOOT:" and "BOOT#" commands, else 0
    };
    using Reply = std::function<std::optional<QByteArray>(const Command&, const QByteArray& usual)>;

    Reply reply;
    std::optional<Failure> openFailure;
    int replyAfterPolls = 1;
    // The line hangs up once this record has been answered.
    int vanishAfterRecord = 0;
    std::optional<char> modbusAddress;

    QList<QByteArray> writes;
    int openAttempts = 0;

    void setSettings(const QString&) override {}
    void setCommPort(qint16) override {}
    void setPortOpen(bool open) override {
        if (!open) {
            open_ = false;
            return;
        }
        ++openAttempts;
        if (openFailure) throw *openFailure;
        open_ = true;
    }
    bool portOpen() const override { return open_; }
    void setOutput(const QByteArray& data) override {
        if (!open_) throw Failure(failure::kPortNotOpen, QStringLiteral("The port is not open"));
        writes.append(data);
        QByteArray command = data;
        if (modbusAddress) {
            if (data.size() < 3 || data[0] != *modbusAddress || crc16Modbus(data) != 0) return;
            command = data.mid(1, data.size() - 3);
        }
        Command c{command, 0};
        if (command.startsWith("BOOT:") || command.startsWith("BOOT#")) c.record = ++records_;
        const QByteArray usual = usualAnswer(command);
        const std::optional<QByteArray> answer = reply ? reply(c, usual) : std::optional<QByteArray>(usual);
        if (answer && !answer->isEmpty()) {
            pending_ = *answer;
            if (modbusAddress) {
                pending_.prepend('B').prepend(*modbusAddress);
                pending_ += crc16ModbusBytes(pending_);
            }
            pollsLeft_ = replyAfterPolls;
        }
        if (vanishAfterRecord > 0 && c.record == vanishAfterRecord) vanishPending_ = true;
    }
    qint16 inBufferCount() override {
        if (!open_) throw Failure(failure::kPortNotOpen, QStringLiteral("The port is not open"));
        if (!pending_.isEmpty() && --pollsLeft_ <= 0) {
            buffer_ += pending_;
            pending_.clear();
        }
        return static_cast<qint16>(buffer_.size());
    }
    QByteArray input() override {
        if (!open_) throw Failure(failure::kPortNotOpen, QStringLiteral("The port is not open"));
        QByteArray out = buffer_;
        buffer_.clear();
        if (vanishPending_) open_ = false;  // after the reply was read, as a hang-up would be seen
        return out;
    }

    // The commands written (unframed), without the probe's version queries.
    QList<QByteArray> afterProbe() const {
        QList<QByteArray> out;
        bool probing = true;
        for (QByteArray w : writes) {
            if (modbusAddress) w = w.mid(1, w.size() - 3);
            if (probing && w == "BOOTi\r\n") continue;
            probing = false;
            out.append(w);
        }
        return out;
    }

  private:
    QByteArray usualAnswer(const QByteArray& data) {
        if (data == "BOOTi\r\n") return "VER=4.01\r\n";
        if (data == "BOOTg\r\n") {
            installed_ = true;
            return {};
        }
        if (data == "VER\r\n") return installed_ ? QByteArray("VER=APP 1.0\r\n") : QByteArray();
        if (data.startsWith("BOOT$")) return "ADR=" + data.mid(5, 2) + "\r\n";
        if (data.startsWith("BOOT:") || data.startsWith("BOOT#")) {
            installed_ = false;
            return data.mid(5).startsWith("00000001FF") ? QByteArray("DOWNLOAD\r\n") : QByteArray("OK\r\n");
        }
        return {};
    }

    bool open_ = false;
    bool installed_ = false;
    bool vanishPending_ = false;
    int records_ = 0;
    int pollsLeft_ = 0;
    QByteArray pending_;
    QByteArray buffer_;
};

}  // namespace vantrel::testing
