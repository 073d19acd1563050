#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include "connection/serial_component.h"

namespace vantrel::flasher {

// The window's port component with a witness in front: every call goes to
// the real component unchanged (failures included), and the flasher learns
// what was written and read, when, and why the last open failed.
class WatchedPort final : public SerialComponent {
  public:
    struct OpenFailure {
        int number = 0;
        QString description;
    };

    explicit WatchedPort(std::unique_ptr<SerialComponent> inner);

    void setSettings(const QString& settings) override;
    void setCommPort(qint16 number) override;
    void setPortOpen(bool open) override;
    bool portOpen() const override;
    void setOutput(const QByteArray& data) override;
    qint16 inBufferCount() override;
    QByteArray input() override;

    // Called after each write that reached the component, with the bytes as
    // they left (Modbus framing included).
    std::function<void(const QByteArray&)> onWrite;

    const std::optional<OpenFailure>& lastOpenFailure() const { return lastOpenFailure_; }
    qint16 commPort() const { return commPort_; }
    int writes() const { return writes_; }
    // Milliseconds since the last write or the last non-empty read; -1 before the first.
    qint64 sinceLastWrite() const { return lastWrite_.isValid() ? lastWrite_.elapsed() : -1; }
    qint64 sinceLastRead() const { return lastRead_.isValid() ? lastRead_.elapsed() : -1; }

  private:
    std::unique_ptr<SerialComponent> inner_;
    std::optional<OpenFailure> lastOpenFailure_;
    qint16 commPort_ = 0;
    int writes_ = 0;
    QElapsedTimer lastWrite_;
    QElapsedTimer lastRead_;
};

}  // namespace vantrel::flasher
