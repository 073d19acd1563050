#pragma once

#include <QtGlobal>

namespace vantrel {

// Colours are 24-bit values with red in the low byte.
namespace color {
inline constexpr quint32 kBlack = 0;
inline constexpr quint32 kRed = 255;
inline constexpr quint32 kGreen = 65280;
inline constexpr quint32 kDarkGreen = 49152;
inline constexpr quint32 kYellow = 65535;
inline constexpr quint32 kDarkBlue = 8388608;
inline constexpr quint32 kFrameCaptionBlue = 12582912;
inline constexpr quint32 kBlue = 16711680;
inline constexpr quint32 kWhite = 16777215;
inline constexpr quint32 kGrey = 8421504;
}  // namespace color

}  // namespace vantrel
