#include "window/progress_bar.h"

#include <cmath>
#include <functional>

#include <QColor>
#include <QImage>

#include <gtest/gtest.h>

#include "qt_printers.h"
namespace vantrel::testing {
namespace {

// The size the window gives the bar: 5715 x 255 twips.
const QSize kBarSize(381, 17);

constexpr quint32 kRed = 255;
constexpr quint32 kGreen = 65280;
constexpr quint32 kDarkBlue = 8388608;
constexpr quint32 kBlue = 16711680;

// 24-bit colours carry red in the low byte.
QColor rgbOf(quint32 value) {
    return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

// ---------------------------------------------------------------------------
// Properties: each write stands on its own.

struct BarState {
    QString text;
    qint32 value;
    qint32 max;
    quint32 barColor;
    bool operator==(const BarState&) const = default;
};

BarState stateOf(const VbalProgressBar& b) {
    return {b.text(), b.value(), b.max(), b.barColor()};
}

struct PropertyWrite {
    const char* name;
    std::function<void(VbalProgressBar&)> write;
    std::function<void(BarState&)> expectedChange;
};

class ProgressBarWrite : public ::testing::TestWithParam<PropertyWrite> {};

TEST_P(ProgressBarWrite, ChangesOnlyTheWrittenProperty) {
    VbalProgressBar bar;
    bar.setText(QStringLiteral("DOWNLOAD"));
    bar.setMax(40);
    bar.setValue(17);
    bar.setBarColor(kRed);
    BarState expected = stateOf(bar);

    GetParam().write(bar);
    GetParam().expectedChange(expected);
    EXPECT_EQ(stateOf(bar), expected);
}

INSTANTIATE_TEST_SUITE_P(
    EachProperty, ProgressBarWrite,
    ::testing::Values(
        PropertyWrite{"Text", [](VbalProgressBar& b) { b.setText(QStringLiteral("END")); },
                      [](BarState& s) { s.text = QStringLiteral("END"); }},
        PropertyWrite{"EmptyText", [](VbalProgressBar& b) { b.setText(QString()); },
                      [](BarState& s) { s.text = QString(); }},
        PropertyWrite{"Value", [](VbalProgressBar& b) { b.setValue(3); }, [](BarState& s) { s.value = 3; }},
        PropertyWrite{"ValueZero", [](VbalProgressBar& b) { b.setValue(0); }, [](BarState& s) { s.value = 0; }},
        PropertyWrite{"Max", [](VbalProgressBar& b) { b.setMax(9000); }, [](BarState& s) { s.max = 9000; }},
        PropertyWrite{"MaxZero", [](VbalProgressBar& b) { b.setMax(0); }, [](BarState& s) { s.max = 0; }},
        PropertyWrite{"BarColor", [](VbalProgressBar& b) { b.setBarColor(kGreen); },
                      [](BarState& s) { s.barColor = kGreen; }}),
    [](const ::testing::TestParamInfo<PropertyWrite>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Fill share for value against maximum.

struct FillCase {
    const char* name;
    qint32 value;
    qint32 max;
    double fraction;
};

class ProgressBarFill : public ::testing::TestWithParam<FillCase> {};

TEST_P(ProgressBarFill, FillsTheShareOfValueAgainstMaximum) {
    VbalProgressBar bar;
    bar.setMax(GetParam().max);
    bar.setValue(GetParam().value);
    EXPECT_DOUBLE_EQ(bar.fillFraction(), GetParam().fraction);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ProgressBarFill,
    ::testing::Values(FillCase{"Zero_IsEmpty", 0, 10, 0.0}, FillCase{"Half", 5, 10, 0.5},
                      FillCase{"OneOfMany", 1, 9000, 1.0 / 9000}, FillCase{"EqualToMax_IsFull", 10, 10, 1.0},
                      FillCase{"AboveMax_IsFull", 15, 10, 1.0}, FillCase{"Negative_IsEmpty", -3, 10, 0.0},
                      FillCase{"MaxZero_IsEmpty", 0, 0, 0.0}, FillCase{"ValueWithMaxZero_IsEmpty", 5, 0, 0.0},
                      FillCase{"NegativeMax_IsEmpty", 5, -4, 0.0}),
    [](const ::testing::TestParamInfo<FillCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// What the operator sees: the bar drawn to an image.

QImage render(const QString& text, qint32 value, qint32 max, quint32 barColor) {
    VbalProgressBar bar;
    bar.resize(kBarSize);
    bar.setText(text);
    bar.setMax(max);
    bar.setValue(value);
    bar.setBarColor(barColor);
    return bar.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

int countPixels(const QImage& image, const QRect& area, const std::function<bool(const QColor&)>& test) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (test(image.pixelColor(x, y))) ++n;
    return n;
}

// The middle third of the bar, where a centred text is drawn.
QRect middle(const QImage& image) {
    return QRect(image.width() / 3, 0, image.width() / 3, image.height());
}

// Columns in the middle row that carry the bar colour.
int barColumns(const QImage& image, quint32 barColor) {
    const QColor bar = rgbOf(barColor);
    int n = 0;
    for (int x = 0; x < image.width(); ++x)
        if (image.pixelColor(x, image.height() / 2) == bar) ++n;
    return n;
}

bool isDark(const QColor& c) {
    return c.lightness() < 100;
}
bool isLight(const QColor& c) {
    return c.lightness() > 160;
}

TEST(ProgressBarDrawing, FillsTheShareOfTheWidthInTheBarColour) {
    const QImage quarter = render(QString(), 1, 4, kBlue);
    ASSERT_EQ(quarter.size(), kBarSize);
    const int filled = barColumns(quarter, kBlue);
    // A quarter of the width, less a few pixels of border.
    EXPECT_NEAR(filled, kBarSize.width() / 4, 5);
    // The filled part starts at the left.
    EXPECT_EQ(quarter.pixelColor(kBarSize.width() / 10, kBarSize.height() / 2), rgbOf(kBlue));
    EXPECT_NE(quarter.pixelColor(kBarSize.width() * 9 / 10, kBarSize.height() / 2), rgbOf(kBlue));
}

TEST(ProgressBarDrawing, ValueEqualToMaximumFillsTheWholeBar) {
    const QImage full = render(QString(), 250, 250, kGreen);
    EXPECT_GE(barColumns(full, kGreen), kBarSize.width() - 8);
}

TEST(ProgressBarDrawing, ZeroValueAndZeroMaximumDrawNoBar) {
    EXPECT_EQ(barColumns(render(QStringLiteral("NO FILE"), 0, 10, kBlue), kBlue), 0);
    EXPECT_EQ(barColumns(render(QStringLiteral("NO FILE"), 0, 0, kBlue), kBlue), 0);
    EXPECT_EQ(barColumns(render(QStringLiteral("NO FILE"), 7, 0, kBlue), kBlue), 0);
    EXPECT_EQ(barColumns(render(QStringLiteral("NO FILE"), -5, 10, kBlue), kBlue), 0);
}

TEST(ProgressBarDrawing, ValueAboveMaximumDrawsAFullBarWithItsText) {
    const QImage over = render(QStringLiteral("END"), 12, 10, kGreen);
    const QImage bare = render(QString(), 12, 10, kGreen);
    EXPECT_GE(barColumns(bare, kGreen), kBarSize.width() - 8);
    EXPECT_GT(countPixels(over, middle(over), isDark), 5);
}

struct TextCase {
    const char* name;
    const char* text;
    qint32 value;
    qint32 max;
    quint32 barColor;
    bool lightText;  // drawn light to contrast with a dark bar
};

class ProgressBarText : public ::testing::TestWithParam<TextCase> {};

TEST_P(ProgressBarText, IsDrawnReadablyOverTheBar) {
    const TextCase& c = GetParam();
    const QImage withText = render(QString::fromLatin1(c.text), c.value, c.max, c.barColor);
    const QImage without = render(QString(), c.value, c.max, c.barColor);
    int differing = 0;
    const QRect area = middle(withText);
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (withText.pixel(x, y) != without.pixel(x, y)) ++differing;
    EXPECT_GT(differing, 10) << "no text drawn in the middle of the bar";
    EXPECT_GT(countPixels(withText, area, c.lightText ? isLight : isDark), 5) << "text does not contrast with the bar";
}

INSTANTIATE_TEST_SUITE_P(Texts, ProgressBarText,
                         ::testing::Values(TextCase{"NoFileOnAnEmptyBar", "NO FILE", 0, 100, kBlue, false},
                                           TextCase{"NoFileWithMaximumZero", "NO FILE", 0, 0, kBlue, false},
                                           TextCase{"EndOnAFullGreenBar", "END", 10, 10, kGreen, false},
                                           TextCase{"ErrorOnAFullRedBar", "ERROR", 10, 10, kRed, false},
                                           TextCase{"DownloadOnAFullDarkBlueBar", "DOWNLOAD", 10, 10, kDarkBlue, true},
                                           TextCase{"VerifyOnAHalfDarkBlueBar", "VERIFY", 5, 10, kDarkBlue, true}),
                         [](const ::testing::TestParamInfo<TextCase>& info) { return std::string(info.param.name); });

TEST(ProgressBarDrawing, EachWriteShowsAtOnce) {
    VbalProgressBar bar;
    bar.resize(kBarSize);
    bar.setMax(10);
    bar.setValue(0);
    bar.setBarColor(kRed);
    EXPECT_EQ(barColumns(bar.grab().toImage().convertToFormat(QImage::Format_RGB32), kRed), 0);
    bar.setValue(10);
    EXPECT_GE(barColumns(bar.grab().toImage().convertToFormat(QImage::Format_RGB32), kRed), kBarSize.width() - 8);
    bar.setBarColor(kGreen);
    const QImage green = bar.grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(barColumns(green, kRed), 0);
    EXPECT_GE(barColumns(green, kGreen), kBarSize.width() - 8);
}

}  // namespace
}  // namespace vantrel::testing
