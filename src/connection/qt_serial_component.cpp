#include "connection/qt_serial_component.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include "common/failure.h"
#include "connection/link_trace.h"

#ifdef Q_OS_UNIX
#include <cerrno>
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace vantrel {
namespace {

// The count of waiting bytes is a 16-bit number; larger amounts are handed
// out over several polls instead of failing every poll.
constexpr qint64 kMaxBatch = 32767;

// Reading stops while this much is waiting unread, so a flooding line holds
// the rest in the operating system's buffer, not in our memory.
constexpr qint64 kReadBufferSize = 64 * 1024;

Failure invalidSettings(const QString& settings) {
    return Failure(failure::kInvalidPropertyValue, QStringLiteral("Invalid port settings \"%1\"").arg(settings));
}

// Operating-system errors are mapped here, once, into the component's failures.
Failure openFailure(const QSerialPort& port, const QString& name, const QString& device) {
    const QString where = name == device ? name : QStringLiteral("%1 (%2)").arg(name, device);
    switch (port.error()) {
        case QSerialPort::DeviceNotFoundError:
            return Failure(failure::kPortInvalid, where + QStringLiteral(": no such device"));
        case QSerialPort::PermissionError:
#ifdef Q_OS_UNIX
            // The port's lock file (or an exclusive open) refuses a device that
            // another port holds with the same error as missing rights; when we
            // may read and write the device, it is simply in use.
            if (::access(QFile::encodeName(device).constData(), R_OK | W_OK) == 0)
                return Failure(failure::kPortBusy, where + QStringLiteral(": in use by another program"));
#else
            Q_UNUSED(device);
#endif
            return Failure(failure::kPortPermission,
                           where + QStringLiteral(": permission denied or in use (") + port.errorString() + u')');
        case QSerialPort::OpenError:
            return Failure(failure::kPortAlreadyOpen, where + QStringLiteral(": already open"));
        default:
            return Failure(failure::kPortInvalid, where + QStringLiteral(": ") + port.errorString());
    }
}

// A line that has hung up (the device went away) reads as end of file, which
// the port reports as a read error, not as a resource error.
bool hungUp(const QSerialPort& port) {
#ifdef Q_OS_UNIX
    pollfd p{static_cast<int>(port.handle()), POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#else
    Q_UNUSED(port);
    return false;
#endif
}

}  // namespace

QtSerialComponent::QtSerialComponent(PortResolver resolver) : resolver_(std::move(resolver)) {
    // A device that vanishes (a USB adapter unplugged, its board switched
    // off) leaves the port closed, so writes stop and polling finds nothing.
    QObject::connect(&port_, &QSerialPort::errorOccurred, [this](QSerialPort::SerialPortError error) {
        if (!port_.isOpen()) return;
        if (error == QSerialPort::ResourceError || (error == QSerialPort::ReadError && hungUp(port_))) closeAndUnlock();
    });
    QObject::connect(&port_, &QSerialPort::readyRead, [this] {
        if (onReceive_) onReceive_();
    });
}

void QtSerialComponent::setReceiveEvent(std::function<void()> onReceive) {
    onReceive_ = std::move(onReceive);
}

QtSerialComponent::~QtSerialComponent() {
    if (port_.isOpen()) closeAndUnlock();
}

void QtSerialComponent::setSettings(const QString& settings) {
    const QStringList parts = settings.split(u',');
    if (parts.size() != 4) throw invalidSettings(settings);
    bool ok = false;
    const qint32 baud = parts[0].trimmed().toInt(&ok);
    if (!ok || baud <= 0) throw invalidSettings(settings);

    QSerialPort::Parity parity;
    const QString p = parts[1].trimmed().toLower();
    if (p == u"n")
        parity = QSerialPort::NoParity;
    else if (p == u"e")
        parity = QSerialPort::EvenParity;
    else if (p == u"o")
        parity = QSerialPort::OddParity;
    else if (p == u"m")
        parity = QSerialPort::MarkParity;
    else if (p == u"s")
        parity = QSerialPort::SpaceParity;
    else
        throw invalidSettings(settings);

    const int bits = parts[2].trimmed().toInt(&ok);
    if (!ok || bits < 5 || bits > 8) throw invalidSettings(settings);

    QSerialPort::StopBits stop;
    const QString s = parts[3].trimmed();
    if (s == u"1")
        stop = QSerialPort::OneStop;
    else if (s == u"1.5")
        stop = QSerialPort::OneAndHalfStop;
    else if (s == u"2")
        stop = QSerialPort::TwoStop;
    else
        throw invalidSettings(settings);

    baud_ = baud;
    parity_ = parity;
    dataBits_ = static_cast<QSerialPort::DataBits>(bits);
    stopBits_ = stop;
}

void QtSerialComponent::setCommPort(qint16 number) {
    commPort_ = number;
}

void QtSerialComponent::setPortOpen(bool open) {
    if (!open) {
        if (port_.isOpen()) closeAndUnlock();
        return;
    }
    if (port_.isOpen()) throw Failure(failure::kPortAlreadyOpen, name_ + QStringLiteral(": port already open"));

    const PortLocation location = resolver_ ? resolver_(commPort_) : PortLocation{};
    if (location.device.isEmpty())
        throw Failure(failure::kPortInvalid, QStringLiteral("Invalid port number %1").arg(commPort_));
    name_ = location.name.isEmpty() ? QStringLiteral("COM%1").arg(commPort_) : location.name;
    QString device = location.device;
    // Open the device an alias points at, so that two names of one device
    // are recognised as the same port.
    const QFileInfo info(device);
    if (info.isSymLink() && info.exists()) device = info.canonicalFilePath();

    port_.setPortName(device);
    if (!port_.open(QIODevice::ReadWrite)) throw openFailure(port_, name_, device);

#ifdef Q_OS_UNIX
    // Serial devices are not exclusive for every user; an advisory lock tells
    // two programs (or two instances of this one) apart.
    if (::flock(port_.handle(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        port_.close();
        throw Failure(failure::kPortBusy, QStringLiteral("%1 (%2): in use by another program").arg(name_, device));
    }
#endif

    const bool configured = port_.setBaudRate(baud_) && port_.setDataBits(dataBits_) && port_.setParity(parity_) &&
                            port_.setStopBits(stopBits_) && port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!configured) {
        const QString why = port_.errorString();
        closeAndUnlock();
        throw Failure(failure::kInvalidPropertyValue,
                      QStringLiteral("%1 (%2): settings refused: %3").arg(name_, device, why));
    }
    port_.setReadBufferSize(kReadBufferSize);
    port_.clear();
}

bool QtSerialComponent::portOpen() const {
    return port_.isOpen();
}

void QtSerialComponent::setOutput(const QByteArray& data) {
    if (!port_.isOpen()) throw Failure(failure::kPortNotOpen, QStringLiteral("The port is not open"));
    if (lcLink().isDebugEnabled()) traceLink("TX", name_, data);
    if (port_.write(data) != data.size())
        throw Failure(failure::kDeviceIo, QStringLiteral("Write failed: ") + port_.errorString());
    // Hand the bytes to the device now: the caller may block the thread next.
    port_.flush();
}

qint16 QtSerialComponent::inBufferCount() {
    if (!port_.isOpen()) throw Failure(failure::kPortNotOpen, QStringLiteral("The port is not open"));
    return static_cast<qint16>(qMin(port_.bytesAvailable(), kMaxBatch));
}

QByteArray QtSerialComponent::input() {
    if (!port_.isOpen()) throw Failure(failure::kPortNotOpen, QStringLiteral("The port is not open"));
    QByteArray batch = port_.read(kMaxBatch);
    if (lcLink().isDebugEnabled()) traceLink("RX", name_, batch);
    return batch;
}

void QtSerialComponent::closeAndUnlock() {
#ifdef Q_OS_UNIX
    if (port_.handle() >= 0) ::flock(port_.handle(), LOCK_UN);
#endif
    port_.close();
}

}  // namespace vantrel
