#pragma once

#include <functional>

#include <QByteArray>
#include <QString>

namespace vantrel {

// The window's serial port component. All traffic with the board passes
// through these six properties; the window polls for received bytes, and a
// tool that wants them at once asks for the receive event (setReceiveEvent).
// Operations that fail raise vantrel::Failure.
class SerialComponent {
  public:
    virtual ~SerialComponent() = default;

    // "9600,n,8,1", "19200,n,8,1" or "115200,n,8,1"; used by the next open.
    virtual void setSettings(const QString& settings) = 0;
    // The port number (3 for "COM3"); used by the next open.
    virtual void setCommPort(qint16 number) = 0;
    // true opens port CommPort with Settings, failing while the port does not
    // exist or is in use; false closes it.
    virtual void setPortOpen(bool open) = 0;
    // true exactly while the port is open.
    virtual bool portOpen() const = 0;
    // Each character leaves as one byte, in order, 0 to 255 unchanged.
    virtual void setOutput(const QByteArray& data) = 0;
    // Number of received bytes waiting, as a 16-bit count.
    virtual qint16 inBufferCount() = 0;
    // The waiting bytes in order of arrival; they leave the buffer.
    virtual QByteArray input() = 0;

    // The component's receive event: `onReceive` runs from the event loop
    // whenever received bytes are waiting. The window itself polls and never
    // asks for it; a component without such an event ignores the request.
    virtual void setReceiveEvent(std::function<void()> onReceive) { (void)onReceive; }
};

}  // namespace vantrel
