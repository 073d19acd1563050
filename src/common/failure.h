#pragma once

#include <exception>

#include <QString>

namespace vantrel {

// A failure raised by a component or by a checked step of a handler.
// Handlers that guard a body against failures catch it; the number and the
// description are what the operator sees in an "Error#" box.
class Failure : public std::exception {
  public:
    Failure(int number, QString description) : number_(number), description_(std::move(description)) {
        what_ = description_.toLocal8Bit();
    }
    int number() const noexcept { return number_; }
    const QString& description() const noexcept { return description_; }
    const char* what() const noexcept override { return what_.constData(); }

  private:
    int number_;
    QString description_;
    QByteArray what_;
};

// Failure numbers used across the program.
namespace failure {
inline constexpr int kInvalidCall = 5;
inline constexpr int kOverflow = 6;
inline constexpr int kOutOfMemory = 7;
inline constexpr int kSubscriptOutOfRange = 9;
inline constexpr int kTypeMismatch = 13;
inline constexpr int kFileNotFound = 53;
inline constexpr int kDeviceIo = 57;
inline constexpr int kPathAccess = 75;
inline constexpr int kInvalidPropertyValue = 380;
inline constexpr int kPortAlreadyOpen = 8005;
inline constexpr int kPortNotOpen = 8012;
inline constexpr int kPortInvalid = 8002;
inline constexpr int kPortBusy = 8010;
inline constexpr int kPortPermission = 8015;
}  // namespace failure

// 16-bit counters of the window overflow like the fields they model: a value
// outside -32768..32767 is a failure, not a silent wrap.
inline qint16 checkedInt16(long long value) {
    if (value < -32768 || value > 32767) throw Failure(failure::kOverflow, QStringLiteral("Overflow"));
    return static_cast<qint16>(value);
}

}  // namespace vantrel
