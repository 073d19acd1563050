// The numeric reading of texts and the hexadecimal digit decoders, on random
// texts (Latin-1 or UTF-8) and random doubles.
//
// Checked against an independent reading: a number is
//   &H hexdigits            or   [+-] digits [. digits] [(e|E) [+-] digits]
// (at least one digit before or after the point); numericValue reads the
// longest such prefix of the text with every blank removed, 0 when none.
// - roundHalfEven: a whole number within 0.5, a half going to the even
//   neighbour, whatever rounding mode the caller had, which it restores;
// - toInt16Strict: the rounded value for a text that is wholly a number (blanks
//   around it allowed) in the 16-bit range, failure 6 when out of range,
//   failure 13 for anything else;
// - wholeNumber32 and addressDigits: the rounded value when it fits 32 bits,
//   and then two upper-case hex digits equal to its low 8 bits;
// - decodeHexDigit / decodeHexByte: upper-case digits only, 0..255.

#include <algorithm>
#include <array>
#include <cfenv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fuzzer/FuzzedDataProvider.h>
#include <optional>
#include <string>

#include <QByteArray>
#include <QString>

#include "common/failure.h"
#include "fuzz_support.h"
#include "link/hex_digits.h"
#include "link/numeric_text.h"
#include "service/address_digits.h"

using vantrel::fuzz::show;

namespace {

bool blank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}
bool digit(QChar c) {
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}
int hexValue(QChar c) {
    static const char16_t kDigits[] = u"0123456789ABCDEF0123456789abcdef";
    for (int i = 0; i < 32; ++i)
        if (c.unicode() == kDigits[i]) return i % 16;
    return -1;
}

// Whether `s` as a whole is one number in the grammar above.
bool isNumber(QStringView s) {
    if (s.size() >= 3 && s[0] == u'&' && (s[1] == u'H' || s[1] == u'h')) {
        for (QChar c : s.sliced(2))
            if (hexValue(c) < 0) return false;
        return true;
    }
    qsizetype i = 0;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) ++i;
    qsizetype digits = 0;
    while (i < s.size() && digit(s[i])) ++i, ++digits;
    if (i < s.size() && s[i] == u'.') {
        ++i;
        while (i < s.size() && digit(s[i])) ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < s.size() && (s[i] == u'e' || s[i] == u'E')) {
        ++i;
        if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) ++i;
        const qsizetype first = i;
        while (i < s.size() && digit(s[i])) ++i;
        if (i == first) return false;
    }
    return i == s.size();
}

// The value of a text that isNumber accepted.
double valueOf(QStringView s) {
    if (s[0] == u'&') {
        double v = 0;
        for (QChar c : s.sliced(2)) v = v * 16 + hexValue(c);
        return v;
    }
    return std::strtod(s.toLatin1().constData(), nullptr);
}

// numericValue, worked out by trying every prefix from the longest down.
double referenceValue(const QString& text) {
    QString compact;
    for (QChar c : text)
        if (!blank(c)) compact.append(c);
    for (qsizetype len = compact.size(); len > 0; --len) {
        const QStringView prefix = QStringView(compact).first(len);
        if (isNumber(prefix)) return valueOf(prefix);
    }
    return 0;
}

bool sameValue(double a, double b) {
    if (a == b) return true;
    // Long hexadecimal texts round differently once past 53 bits.
    return std::isfinite(a) && std::isfinite(b) && std::fabs(a - b) <= std::fabs(b) * 1e-12;
}

void checkRounding(double x, int mode) {
    std::fesetround(mode);
    const double r = vantrel::roundHalfEven(x);
    const int after = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const std::string state = "x " + std::to_string(x) + " (" + std::to_string(std::signbit(x)) + ") -> " +
                              std::to_string(r) + ", rounding mode " + std::to_string(mode);
    FUZZ_CHECK(after == mode, state);
    if (std::isnan(x)) {
        FUZZ_CHECK(std::isnan(r), state);
        return;
    }
    if (std::isinf(x)) {
        FUZZ_CHECK(r == x, state);
        return;
    }
    FUZZ_CHECK(std::trunc(r) == r, state);
    const double distance = std::fabs(r - x);
    FUZZ_CHECK(distance <= 0.5, state);
    if (distance == 0.5) FUZZ_CHECK(std::fmod(r, 2.0) == 0.0, state);
}

void checkText(const QString& text) {
    const std::string state = "text " + show(text);

    const double value = vantrel::numericValue(text);
    const double reference = referenceValue(text);
    FUZZ_CHECK(sameValue(value, reference),
               state + "\nnumericValue " + std::to_string(value) + ", expected " + std::to_string(reference));
    const double rounded = vantrel::roundHalfEven(value);
    checkRounding(value, FE_TONEAREST);

    // Strict 16-bit conversion.
    QStringView core(text);
    while (!core.isEmpty() && blank(core.front())) core = core.sliced(1);
    while (!core.isEmpty() && blank(core.back())) core.chop(1);
    std::optional<qint16> strict;
    int failure = 0;
    try {
        strict = vantrel::toInt16Strict(text);
    } catch (const vantrel::Failure& f) {
        failure = f.number();
    }
    const std::string strictState =
        state + "\ntoInt16Strict " + (strict ? std::to_string(*strict) : "failure " + std::to_string(failure));
    if (!isNumber(core)) {
        FUZZ_CHECK(failure == vantrel::failure::kTypeMismatch, strictState);
    } else if (rounded >= -32768.0 && rounded <= 32767.0) {
        FUZZ_CHECK(strict && *strict == rounded, strictState);
        FUZZ_CHECK(*strict == vantrel::roundHalfEven(valueOf(core)), strictState);
    } else {
        FUZZ_CHECK(failure == vantrel::failure::kOverflow, strictState);
    }

    // 32-bit whole number and the address digits built from it.
    const std::optional<qint32> whole = vantrel::wholeNumber32(text);
    const bool fits = rounded >= -2147483648.0 && rounded <= 2147483647.0;
    FUZZ_CHECK(whole.has_value() == fits, state);
    const std::optional<QByteArray> address = vantrel::addressDigits(text);
    FUZZ_CHECK(address.has_value() == fits, state);
    if (fits) {
        FUZZ_CHECK(*whole == rounded, state);
        const QByteArray& d = *address;
        FUZZ_CHECK(d.size() == 2, state + "\naddress " + show(d));
        const int hi = QByteArray("0123456789ABCDEF").indexOf(d[0]);
        const int lo = QByteArray("0123456789ABCDEF").indexOf(d[1]);
        FUZZ_CHECK(hi >= 0 && lo >= 0, state + "\naddress " + show(d));
        FUZZ_CHECK(hi * 16 + lo == (static_cast<quint32>(*whole) & 0xFFu), state + "\naddress " + show(d));
    }
}

void checkHexDigits(const QByteArray& bytes) {
    const std::string state = "bytes " + show(bytes);
    static const QByteArray kDigits("0123456789ABCDEF");
    auto digitOf = [](const QByteArray& one) {
        return one.size() == 1 ? std::max<qsizetype>(0, kDigits.indexOf(one[0])) : 0;
    };

    const qint16 d = vantrel::decodeHexDigit(bytes);
    FUZZ_CHECK(d == digitOf(bytes), state + " -> " + std::to_string(d));

    const qint16 b = vantrel::decodeHexByte(bytes);
    int expected = 0;
    if (bytes.size() == 2) expected = 16 * digitOf(bytes.left(1)) + digitOf(bytes.right(1));
    if (bytes.size() == 1) expected = digitOf(bytes);
    FUZZ_CHECK(b >= 0 && b <= 255, state + " -> " + std::to_string(b));
    FUZZ_CHECK(b == expected, state + " -> " + std::to_string(b));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Layout: the text, then (optionally) 8 bytes of a double, then one byte
    // of flags at the very end: bit 0 UTF-8, bits 1-2 the rounding mode in
    // force, bit 3 a double is present. A seed is thus a text plus one byte.
    FuzzedDataProvider in(data, size);
    const auto flags = in.ConsumeIntegral<quint8>();
    static constexpr std::array kModes{FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO};
    if (flags & 8) {
        const auto bits = in.ConsumeIntegral<quint64>();
        double x;
        std::memcpy(&x, &bits, sizeof x);
        checkRounding(x, kModes[(flags >> 1) & 3]);
    }
    const QByteArray bytes = QByteArray::fromStdString(in.ConsumeRemainingBytesAsString());

    checkText((flags & 1) ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes));
    checkHexDigits(bytes.left(2));
    checkHexDigits(bytes);
    return 0;
}
