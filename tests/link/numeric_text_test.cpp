#include "link/numeric_text.h"

#include <cfenv>
#include <clocale>
#include <optional>
#include <string>

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "common/failure.h"
#include "qt_printers.h"

namespace vantrel::testing {
namespace {

// --- Numeric value of a text --------------------------------------------

struct NumericCase {
    const char* name;
    const char* text;
    double value;  // the leading number
    double whole;  // taken to the nearest whole number, halves to even
};

class NumericValue : public ::testing::TestWithParam<NumericCase> {};

TEST_P(NumericValue, ReadsTheLeadingNumberAndRoundsHalvesToEven) {
    const NumericCase& c = GetParam();
    const QString text = QString::fromLatin1(c.text);
    EXPECT_DOUBLE_EQ(numericValue(text), c.value);
    EXPECT_DOUBLE_EQ(roundHalfEven(numericValue(text)), c.whole);
    EXPECT_EQ(wholeNumber32(text), std::optional<qint32>(static_cast<qint32>(c.whole)));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, NumericValue,
    ::testing::Values(NumericCase{"BlanksAround", " 12 ", 12, 12}, NumericCase{"BlanksInside", "1 2", 12, 12},
                      NumericCase{"HexPrefix", "&H10", 16, 16}, NumericCase{"HexPrefixTwoDigits", "&HFF", 255, 255},
                      NumericCase{"HexPrefixWithoutDigits", "&H", 0, 0},
                      NumericCase{"HalfGoesDownToEven", "2.5", 2.5, 2}, NumericCase{"HalfGoesUpToEven", "3.5", 3.5, 4},
                      NumericCase{"OneAndAHalfGoesToTwo", "1.5", 1.5, 2},
                      NumericCase{"NegativeHalfGoesToEven", "-2.5", -2.5, -2},
                      NumericCase{"BelowHalfGoesDown", "2.49", 2.49, 2}, NumericCase{"Negative", "-1", -1, -1},
                      NumericCase{"PlusSign", "+5", 5, 5}, NumericCase{"LeadingPoint", ".5", 0.5, 0},
                      NumericCase{"Exponent", "1e2", 100, 100}, NumericCase{"NegativeExponent", "25e-1", 2.5, 2},
                      NumericCase{"ExponentWithoutDigitsIsNotPartOfTheNumber", "1e", 1, 1},
                      NumericCase{"StopsAtTheFirstLetter", "12abc", 12, 12},
                      NumericCase{"StopsAtTheSecondPoint", "1.2.3", 1.2, 1}, NumericCase{"NoNumber", "abc", 0, 0},
                      NumericCase{"Empty", "", 0, 0}, NumericCase{"OnlyBlanks", "   ", 0, 0},
                      NumericCase{"SignWithoutDigits", "-", 0, 0}, NumericCase{"DoubleSign", "--1", 0, 0}),
    [](const ::testing::TestParamInfo<NumericCase>& info) { return std::string(info.param.name); });

struct WholeRangeCase {
    const char* name;
    const char* text;
    std::optional<qint32> whole;
};

class WholeNumber32 : public ::testing::TestWithParam<WholeRangeCase> {};

TEST_P(WholeNumber32, GivesNothingOutsideTheSigned32BitRange) {
    EXPECT_EQ(wholeNumber32(QString::fromLatin1(GetParam().text)), GetParam().whole);
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, WholeNumber32,
    ::testing::Values(WholeRangeCase{"LargestValue", "2147483647", 2147483647},
                      WholeRangeCase{"SmallestValue", "-2147483648", -2147483647 - 1},
                      WholeRangeCase{"HalfAboveTheLargestRoundsOut", "2147483647.5", std::nullopt},
                      WholeRangeCase{"HalfBelowTheSmallestRoundsIn", "-2147483648.5", -2147483647 - 1},
                      WholeRangeCase{"HugeExponent", "1e10", std::nullopt},
                      WholeRangeCase{"BeyondDoubleRange", "1e999", std::nullopt}),
    [](const ::testing::TestParamInfo<WholeRangeCase>& info) { return std::string(info.param.name); });

// --- Rounding under the caller's rounding mode ---------------------------

// Puts a floating-point rounding mode in force for one test and restores the
// default afterwards, also when an assertion fails.
class RoundingMode : public ::testing::TestWithParam<int> {
  protected:
    void SetUp() override { ASSERT_EQ(std::fesetround(GetParam()), 0); }
    void TearDown() override { std::fesetround(FE_TONEAREST); }
};

TEST_P(RoundingMode, HalvesStillGoToEvenAndTheModeIsKept) {
    EXPECT_EQ(roundHalfEven(2.5), 2.0);
    EXPECT_EQ(roundHalfEven(3.5), 4.0);
    EXPECT_EQ(roundHalfEven(-2.5), -2.0);
    EXPECT_EQ(roundHalfEven(-3.5), -4.0);
    EXPECT_EQ(roundHalfEven(2.4), 2.0);
    EXPECT_EQ(roundHalfEven(2.6), 3.0);
    EXPECT_EQ(roundHalfEven(-2.6), -3.0);
    EXPECT_EQ(roundHalfEven(4503599627370495.5), 4503599627370496.0);
    EXPECT_EQ(toInt16Strict(u"3.5"), 4);
    EXPECT_EQ(std::fegetround(), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Modes, RoundingMode, ::testing::Values(FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO),
                         [](const ::testing::TestParamInfo<int>& info) {
                             switch (info.param) {
                                 case FE_UPWARD:
                                     return std::string("Upward");
                                 case FE_DOWNWARD:
                                     return std::string("Downward");
                                 default:
                                     return std::string("TowardZero");
                             }
                         });

// --- Under a locale with a decimal comma ----------------------------------

// Qt sets the process locale from the environment when the application starts,
// so an operator's de_DE makes the C library read numbers with a decimal comma.
// This builds de_DE.UTF-8 in a scratch folder (the system may have none
// compiled) and puts its number format in force for one test.
class DecimalCommaLocale : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        const int rc = QProcess::execute(QStringLiteral("localedef"),
                                         {QStringLiteral("-i"), QStringLiteral("de_DE"), QStringLiteral("-f"),
                                          QStringLiteral("UTF-8"), dir_.filePath(QStringLiteral("de_DE.UTF-8"))});
        if (rc != 0) GTEST_SKIP() << "localedef could not build de_DE.UTF-8 (package locales missing?)";
        saved_ = std::setlocale(LC_NUMERIC, nullptr);
        qputenv("LOCPATH", dir_.path().toLocal8Bit());
        ASSERT_NE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr);
        ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    }
    void TearDown() override {
        if (!saved_.empty()) std::setlocale(LC_NUMERIC, saved_.c_str());
        qunsetenv("LOCPATH");
    }

  private:
    QTemporaryDir dir_;
    std::string saved_;
};

TEST_F(DecimalCommaLocale, TextsStillReadWithADecimalPoint) {
    EXPECT_EQ(numericValue(u"3.5"), 3.5);
    EXPECT_EQ(numericValue(u"-0.25e1"), -2.5);
    EXPECT_EQ(roundHalfEven(numericValue(u"3.5")), 4.0);
    EXPECT_EQ(toInt16Strict(u" 3.5 "), 4);
    EXPECT_EQ(wholeNumber32(u"2.6"), std::optional<qint32>(3));
    // A comma ends the number, as it always did.
    EXPECT_EQ(numericValue(u"3,5"), 3.0);
}

// --- Strict 16-bit conversion -------------------------------------------

struct StrictCase {
    const char* name;
    const char* text;
    qint16 value;       // when it converts
    int failureNumber;  // 0 when it converts
};

class ToInt16Strict : public ::testing::TestWithParam<StrictCase> {};

TEST_P(ToInt16Strict, ConvertsAWholeNumberTextOrFails) {
    const StrictCase& c = GetParam();
    const QString text = QString::fromLatin1(c.text);
    if (c.failureNumber == 0) {
        EXPECT_EQ(toInt16Strict(text), c.value);
        return;
    }
    try {
        const qint16 v = toInt16Strict(text);
        ADD_FAILURE() << "converted to " << v << " instead of failing with " << c.failureNumber;
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), c.failureNumber);
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, ToInt16Strict,
                         ::testing::Values(StrictCase{"Digits", "12", 12, 0}, StrictCase{"BlanksAround", " 12 ", 12, 0},
                                           StrictCase{"HalfGoesDownToEven", "2.5", 2, 0},
                                           StrictCase{"HalfGoesUpToEven", "3.5", 4, 0},
                                           StrictCase{"Exponent", "1e2", 100, 0},
                                           StrictCase{"Largest", "32767", 32767, 0},
                                           StrictCase{"Smallest", "-32768", -32768, 0},
                                           StrictCase{"FractionBelowTheLargest", "32767.4", 32767, 0},
                                           StrictCase{"HalfBelowTheSmallestRoundsToEvenInside", "-32768.5", -32768, 0},
                                           StrictCase{"Empty", "", 0, failure::kTypeMismatch},
                                           StrictCase{"OnlyBlanks", "   ", 0, failure::kTypeMismatch},
                                           StrictCase{"Letters", "abc", 0, failure::kTypeMismatch},
                                           StrictCase{"TrailingLetters", "12abc", 0, failure::kTypeMismatch},
                                           StrictCase{"SignAlone", "-", 0, failure::kTypeMismatch},
                                           StrictCase{"OneAboveTheLargest", "32768", 0, failure::kOverflow},
                                           StrictCase{"OneBelowTheSmallest", "-32769", 0, failure::kOverflow},
                                           StrictCase{"HalfAboveTheLargestRoundsOut", "32767.5", 0, failure::kOverflow},
                                           StrictCase{"LargeExponent", "1e5", 0, failure::kOverflow}),
                         [](const ::testing::TestParamInfo<StrictCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vantrel::testing
