#include "link/numeric_text.h"

#include <cmath>
#include <locale.h>
#include <stdlib.h>
#include <string>

#include <QString>

#include "common/failure.h"

namespace vantrel {
namespace {

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}
bool isDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}
int hexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    return -1;
}

struct Scan {
    double value = 0;
    qsizetype consumed = 0;  // characters of the input that formed the number
    bool found = false;
};

// Reads the number at the start of `s` (no blanks in it).
Scan scanNumber(QStringView s) {
    Scan r;
    if (s.size() >= 2 && s[0] == u'&' && (s[1] == u'H' || s[1] == u'h')) {
        qsizetype i = 2;
        double v = 0;
        while (i < s.size() && hexDigit(s[i].unicode()) >= 0) v = v * 16 + hexDigit(s[i++].unicode());
        r.value = v;
        r.consumed = i;
        r.found = i > 2;
        return r;
    }
    std::string ascii;
    qsizetype i = 0;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) ascii += char(s[i++].unicode());
    bool mantissa = false;
    while (i < s.size() && isDigit(s[i].unicode())) {
        ascii += char(s[i++].unicode());
        mantissa = true;
    }
    if (i < s.size() && s[i] == u'.') {
        ascii += '.';
        ++i;
        while (i < s.size() && isDigit(s[i].unicode())) {
            ascii += char(s[i++].unicode());
            mantissa = true;
        }
    }
    if (!mantissa) return r;
    // An exponent counts only when digits follow it.
    if (i < s.size() && (s[i] == u'e' || s[i] == u'E')) {
        qsizetype j = i + 1;
        std::string exp = "e";
        if (j < s.size() && (s[j] == u'+' || s[j] == u'-')) exp += char(s[j++].unicode());
        if (j < s.size() && isDigit(s[j].unicode())) {
            while (j < s.size() && isDigit(s[j].unicode())) exp += char(s[j++].unicode());
            ascii += exp;
            i = j;
        }
    }
    // Always a decimal point: plain strtod follows the process locale, which Qt
    // sets from the environment (a decimal comma under de_DE, for instance).
    static const locale_t cNumbers = newlocale(LC_NUMERIC_MASK, "C", locale_t{});
    r.value = strtod_l(ascii.c_str(), nullptr, cNumbers);
    r.consumed = i;
    r.found = true;
    return r;
}

}  // namespace

double numericValue(QStringView text) {
    QString compact;
    compact.reserve(text.size());
    for (QChar c : text)
        if (!isBlank(c)) compact.append(c);
    return scanNumber(compact).value;
}

double roundHalfEven(double value) {
    // Worked out by hand, not with nearbyint under a forced rounding mode:
    // without FENV_ACCESS the compiler may move nearbyint past fesetround
    // (clang does), and the caller's mode would then decide the halves.
    if (!std::isfinite(value)) return value;
    const double down = std::floor(value);
    const double fraction = value - down;
    if (fraction < 0.5) return down;
    if (fraction > 0.5) return down + 1;
    return std::fmod(down, 2.0) == 0.0 ? down : down + 1;
}

qint16 toInt16Strict(QStringView text) {
    qsizetype b = 0, e = text.size();
    while (b < e && isBlank(text[b])) ++b;
    while (e > b && isBlank(text[e - 1])) --e;
    const QStringView core = text.sliced(b, e - b);
    const Scan s = scanNumber(core);
    if (!s.found || s.consumed != core.size()) throw Failure(failure::kTypeMismatch, QStringLiteral("Type mismatch"));
    const double r = roundHalfEven(s.value);
    if (!(r >= -32768.0 && r <= 32767.0)) throw Failure(failure::kOverflow, QStringLiteral("Overflow"));
    return static_cast<qint16>(r);
}

std::optional<qint32> wholeNumber32(QStringView text) {
    const double r = roundHalfEven(numericValue(text));
    if (!(r >= -2147483648.0 && r <= 2147483647.0)) return std::nullopt;
    return static_cast<qint32>(r);
}

}  // namespace vantrel
