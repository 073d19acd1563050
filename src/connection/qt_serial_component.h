#pragma once

#include <QSerialPort>

#include "connection/port_naming.h"
#include "connection/serial_component.h"

namespace vantrel {

// The serial port component on top of QSerialPort: 8 data bits, no parity,
// 1 stop bit and no flow control unless the settings say otherwise; every
// byte value passes unchanged; nothing ever blocks.
class QtSerialComponent final : public SerialComponent {
  public:
    // Port numbers are resolved with `resolver` at every open.
    explicit QtSerialComponent(PortResolver resolver = systemPortResolver());
    ~QtSerialComponent() override;

    void setSettings(const QString& settings) override;
    void setCommPort(qint16 number) override;
    void setPortOpen(bool open) override;
    bool portOpen() const override;
    void setOutput(const QByteArray& data) override;
    qint16 inBufferCount() override;
    QByteArray input() override;
    void setReceiveEvent(std::function<void()> onReceive) override;

    // The device the last open attempt used, and the port's name.
    QString deviceName() const { return port_.portName(); }
    const QString& portName() const { return name_; }
    qint32 baudRate() const { return baud_; }

  private:
    void closeAndUnlock();

    QSerialPort port_;
    std::function<void()> onReceive_;
    PortResolver resolver_;
    QString name_;
    qint16 commPort_ = 1;
    qint32 baud_ = 9600;
    QSerialPort::Parity parity_ = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits_ = QSerialPort::Data8;
    QSerialPort::StopBits stopBits_ = QSerialPort::OneStop;
};

}  // namespace vantrel
