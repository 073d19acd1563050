// Odd texts in the port box and the address box: every one has a defined
// outcome (a message, or a defined state of the port and the line), and no
// failure escapes a handler.

#include <optional>
#include <vector>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "qt_printers.h"
#include "window/lamp.h"

namespace vantrel::testing {
namespace {

const QString kNotAvailable = QStringLiteral(" Not available! Use Serial settings to setup your ports.");

struct OddText {
    const char* name;
    QString text;
    // As the port box: the port number it names, or none when it fails.
    std::optional<qint16> port;
    // As the Modbus address box: the address character, or none when no
    // frame can be formed (nothing is sent).
    std::optional<quint8> address;
};

const OddText kOddTexts[] = {
    {"Empty", QString(), std::nullopt, 0},
    {"Blanks", QStringLiteral("     "), std::nullopt, 0},
    {"PrefixOnly", QStringLiteral("COM"), std::nullopt, 0},
    // Numbers below 1 convert; the component refuses them.
    {"NegativePort", QStringLiteral("COM-5"), -5, 0},
    {"PortZero", QStringLiteral("COM0"), 0, 0},
    {"ExponentOverflow", QStringLiteral("COM1e9"), std::nullopt, 0},
    {"HexOverflow", QStringLiteral("COM&HFFFFF"), std::nullopt, 0},
    {"ThousandCharacters", QStringLiteral("COM") + QString(997, u'9'), std::nullopt, 0},
    {"ThousandDigits", QString(1000, u'9'), std::nullopt, std::nullopt},
    {"CyrillicPrefix", QStringLiteral("СОМ3"), 3, 0},
    {"CyrillicWord", QStringLiteral("Порт"), std::nullopt, 0},
    {"NulInside", QStringLiteral("COM") + QChar(0) + QStringLiteral("3"), std::nullopt, 0},
    {"NumberThenNul", QStringLiteral("5") + QChar(0), std::nullopt, 5},
    // A line end counts as a blank around the number.
    {"TrailingNewLine", QStringLiteral("COM3\n"), 3, 0},
    {"HexText", QStringLiteral("&H10"), 0, 16},
    {"AddressOutOfRange", QStringLiteral("300"), std::nullopt, std::nullopt},
    {"NegativeAddress", QStringLiteral("-1"), std::nullopt, std::nullopt},
    {"LargestAddress", QStringLiteral("255"), std::nullopt, 255},
    {"HalfAddress", QStringLiteral("2.5"), std::nullopt, 2},
};

class OddPortText : public ::testing::TestWithParam<OddText> {
  protected:
    void SetUp() override {
        f->txt[0]->setText(GetParam().text);
        ASSERT_EQ(f->txt[0]->text(), GetParam().text) << "the box changed the text";
    }
    FakeLoader f;
};

TEST_P(OddPortText, SerialOpenOpensTheNamedPortOrShowsTheMessage) {
    const OddText& c = GetParam();
    EXPECT_NO_THROW(f->BTNOpenCom_Click());
    if (c.port) {
        EXPECT_TRUE(f.box->shown.isEmpty());
        EXPECT_EQ(f.port->commPort, *c.port);
        EXPECT_TRUE(f->MSComm1->portOpen());
        EXPECT_EQ(f->Label2->text(), QStringLiteral("Ready"));
    } else {
        EXPECT_EQ(f.box->texts(), QStringList{c.text + kNotAvailable});
        EXPECT_EQ(f->Label2->text(), QStringLiteral("Not present board"));
        EXPECT_EQ(f.port->openAttempts, 0);
        EXPECT_FALSE(f->MSComm1->portOpen());
        EXPECT_TRUE(f->BTNOpenCom->isEnabled());
    }
}

TEST_P(OddPortText, UsbScanTriesQuietlyAndGivesUpNamingTheText) {
    const OddText& c = GetParam();
    f.port->refuseOpen = true;  // no board
    f->Option4->setChecked(true);
    EXPECT_NO_THROW(f->BTNOpenCom_Click());
    EXPECT_NO_THROW(f->Timer3_Timer());
    EXPECT_TRUE(f.box->shown.isEmpty()) << "a failed open during a scan is silent";
    // Only a text that names a number gets as far as an open attempt.
    EXPECT_EQ(f.port->openAttempts, c.port ? 1 : 0);
    if (c.port) {
        EXPECT_EQ(f.port->commPort, *c.port);
    }

    for (int tick = 2; tick <= 199; ++tick) ASSERT_NO_THROW(f->Timer3_Timer());
    EXPECT_EQ(f.box->texts(), QStringList{c.text + kNotAvailable});
    EXPECT_EQ(f->Label2->text(), QStringLiteral("Not present board"));
    EXPECT_FALSE(f->Timer3->isActive());
}

TEST_P(OddPortText, UsbScanTakesOverOnlyAPortTheTextNames) {
    const OddText& c = GetParam();
    f->Option4->setChecked(true);
    f->BTNOpenCom_Click();
    EXPECT_NO_THROW(f->Timer3_Timer());
    EXPECT_NO_THROW(f->Timer3_Timer());
    if (c.port) {
        EXPECT_EQ(f->Label2->text(), QStringLiteral("Ready"));
        EXPECT_EQ(f.port->writes, QList<QByteArray>{QByteArrayLiteral("BOOTi\r\n")});
    } else {
        EXPECT_EQ(f->Label2->text(), QStringLiteral("WAIT Connect:  3"));
        EXPECT_TRUE(f->Timer3->isActive());
        EXPECT_FALSE(f->MSComm1->portOpen());
        EXPECT_TRUE(f.port->writes.isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, OddPortText, ::testing::ValuesIn(kOddTexts),
                         [](const ::testing::TestParamInfo<OddText>& info) { return std::string(info.param.name); });

std::vector<OddText> textsNamingAPort() {
    std::vector<OddText> rows;
    for (const OddText& row : kOddTexts)
        if (row.port) rows.push_back(row);
    return rows;
}

class OddPortTextNamingAPort : public OddPortText {};

TEST_P(OddPortTextNamingAPort, ProbeGiveUpMessageQuotesTheTextAsItIs) {
    f->Text1->setText(QStringLiteral("7"));
    f->BTNOpenCom_Click();
    for (int tick = 1; tick <= 128; ++tick) ASSERT_NO_THROW(f->Timer3_Timer());
    EXPECT_EQ(f.box->texts(), QStringList{GetParam().text + QStringLiteral(" Not connect !")});
}

INSTANTIATE_TEST_SUITE_P(Texts, OddPortTextNamingAPort, ::testing::ValuesIn(textsNamingAPort()),
                         [](const ::testing::TestParamInfo<OddText>& info) { return std::string(info.param.name); });

class OddAddressText : public ::testing::TestWithParam<OddText> {
  protected:
    void SetUp() override {
        f->Check1->setChecked(true);
        f->Text1->setText(GetParam().text);
        ASSERT_EQ(f->Text1->text(), GetParam().text);
    }
    // What a Modbus frame of the version query to this address looks like,
    // less its CRC.
    static QByteArray frameHead(quint8 address) { return QByteArray(1, char(address)) + "BOOTi\r\n"; }

    FakeLoader f;
};

TEST_P(OddAddressText, SerialOpenAlwaysOpens) {
    EXPECT_NO_THROW(f->BTNOpenCom_Click());
    EXPECT_TRUE(f->MSComm1->portOpen());
    EXPECT_TRUE(f.box->shown.isEmpty());
    EXPECT_EQ(f->AddressSearch, GetParam().text.isEmpty() ? 1 : 0);
    EXPECT_TRUE(f->Timer3->isActive());
}

TEST_P(OddAddressText, ProbeTickFramesTheAskOrSendsNothing) {
    const OddText& c = GetParam();
    f->BTNOpenCom_Click();
    EXPECT_NO_THROW(f->Timer3_Timer());
    // An empty box starts a search, whose first trial address is 1.
    const std::optional<quint8> address = c.text.isEmpty() ? std::optional<quint8>(1) : c.address;
    if (address) {
        ASSERT_EQ(f.port->writes.size(), 1);
        EXPECT_EQ(f.port->writes[0].size(), 10);
        EXPECT_EQ(f.port->writes[0].left(8), frameHead(*address));
    } else {
        EXPECT_TRUE(f.port->writes.isEmpty());
    }
    EXPECT_EQ(f->ProbeCount, 2);
    EXPECT_EQ(f->Pic->fillColor(), 49152u) << "the lamp turns dark green even when the frame cannot be formed";
    EXPECT_TRUE(f.box->shown.isEmpty());
}

TEST_P(OddAddressText, VersionQueryFramesTheAskOrSendsNothing) {
    const OddText& c = GetParam();
    f->BTNOpenCom_Click();
    f->Timer3->stop();
    EXPECT_NO_THROW(f->Command4_Click());
    if (c.address) {
        ASSERT_EQ(f.port->writes.size(), 1);
        EXPECT_EQ(f.port->writes[0].left(8), frameHead(*c.address));
    } else {
        EXPECT_TRUE(f.port->writes.isEmpty());
    }
    EXPECT_TRUE(f.box->shown.isEmpty());
}

TEST_P(OddAddressText, ReplyCheckAgainstTheBoxNeverEscapes) {
    f->BTNOpenCom_Click();
    f->Timer3->stop();
    // A well-formed reply from address 1 ("OK"), checked against whatever the
    // box holds.
    f.port->feed(QByteArray::fromHex("01424F4BD5CB"));
    EXPECT_NO_THROW(f->TMRComm_Timer());
    if (GetParam().address) {
        EXPECT_TRUE(f->Text8->text().startsWith(QStringLiteral("Error ADDR  >> "))) << f->Text8->text().toStdString();
    } else {
        EXPECT_TRUE(f->Text8->text().isEmpty()) << "the tick ends where the address cannot be formed";
    }
    EXPECT_TRUE(f.box->shown.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Texts, OddAddressText, ::testing::ValuesIn(kOddTexts),
                         [](const ::testing::TestParamInfo<OddText>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vantrel::testing
