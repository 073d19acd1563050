#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimer>

#include "e2e_fixture.h"
#include "window/colors.h"
#include "window/progress_bar.h"

namespace vantrel::testing {
namespace {

bool transferOver(const RealLoader& f) {
    const QString t = f->vbalProgressBar1->text();
    return t == QStringLiteral("END") || t == QStringLiteral("ERROR");
}

struct TransferCase {
    const char* name;
    std::vector<std::string> boardOptions;
    bool modbus;
    const char* address;  // the address box; empty starts an address search
};

void PrintTo(const TransferCase& c, std::ostream* os) {
    *os << c.name;
}

class WholeTransfer : public EndToEnd, public ::testing::WithParamInterface<TransferCase> {};

TEST_P(WholeTransfer, ThousandsOfLinesGoThroughDownloadAndVerifyToGreenEnd) {
    const TransferCase& c = GetParam();
    BoardSim& board = startBoard(c.boardOptions);
    RealLoader& f = loader();
    f->Option3->setChecked(true);
    f->Check1->setChecked(c.modbus);
    f->Text1->setText(QString::fromLatin1(c.address));

    f->BTNOpenCom_Click();
    ASSERT_TRUE(f->MSComm1->portOpen()) << f.box->texts().join(u'\n').toStdString();
    ASSERT_TRUE(waitFor([&] { return f->Label2->text() == QStringLiteral("READY"); }, 30s))
        << "the probe got no version reply; status: " << f->Label2->text().toStdString();
    EXPECT_FALSE(f->Timer3->isActive());

    const QString file = example("medium.hex");
    const QList<QByteArray> lines = hexFileLines(file);
    ASSERT_GT(lines.size(), 2000);
    f.dialog->nextPath = file;
    f->Command3_Click();
    ASSERT_TRUE(f.box->shown.isEmpty()) << f.box->texts().join(u'\n').toStdString();

    ASSERT_TRUE(waitFor([&] { return transferOver(f); }, 10min))
        << "stuck at line " << f->LineIndex << " with text " << f->vbalProgressBar1->text().toStdString();
    EXPECT_EQ(f->vbalProgressBar1->text(), QStringLiteral("END"));
    EXPECT_EQ(f->vbalProgressBar1->barColor(), color::kGreen);
    EXPECT_EQ(f->vbalProgressBar1->value(), lines.size());
    EXPECT_EQ(f->TransferActive, 0);
    EXPECT_EQ(f->VerifyPhase, 0);

    std::vector<QByteArray> expected{QByteArrayLiteral("BOOTi\r\n")};
    for (const QByteArray& command : downloadAndVerifyCommands(lines)) expected.push_back(command);
    const auto log = board.log();
    const std::vector<QByteArray> received = commands(log);
    ASSERT_EQ(received.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(received[i], expected[i]) << "command " << i;
    // Every frame on a Modbus line was addressed to the board and had a good CRC.
    EXPECT_EQ(entries(log, "IG"), 0);
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, WholeTransfer,
                         ::testing::Values(TransferCase{"Plain115200", {}, false, ""},
                                           TransferCase{"ModbusAddress5", {"--modbus", "5"}, true, "5"}),
                         [](const ::testing::TestParamInfo<TransferCase>& info) {
                             return std::string(info.param.name);
                         });

// On a slow line the board's replies straddle the 20 ms receive tick (at
// 9600 baud "DOWNLOAD" CR LF alone takes over 10 ms on the wire, and the
// end-of-file record's reply lands across a tick almost every time); each
// reply is still seen whole, and the transfer goes through.
struct SlowLineCase {
    const char* name;
    int baud;
    bool modbus;
};

void PrintTo(const SlowLineCase& c, std::ostream* os) {
    *os << c.name;
}

class SlowLine : public EndToEnd, public ::testing::WithParamInterface<SlowLineCase> {};

TEST_P(SlowLine, DownloadAndVerifyReachGreenEnd) {
    const SlowLineCase& c = GetParam();
    std::vector<std::string> options{"--baud", std::to_string(c.baud)};
    if (c.modbus) options.insert(options.end(), {"--modbus", "1"});
    BoardSim& board = startBoard(options);
    RealLoader& f = loader();
    (c.baud == 9600 ? f->Option1 : f->Option2)->setChecked(true);
    f->Check1->setChecked(c.modbus);
    f->Text1->setText(c.modbus ? QStringLiteral("1") : QString());

    f->BTNOpenCom_Click();
    ASSERT_TRUE(f->MSComm1->portOpen()) << f.box->texts().join(u'\n').toStdString();
    ASSERT_TRUE(waitFor([&] { return f->Label2->text() == QStringLiteral("READY"); }, 30s));

    const QString file = example("blink.hex");
    const QList<QByteArray> lines = hexFileLines(file);
    f.dialog->nextPath = file;
    f->Command3_Click();
    ASSERT_TRUE(waitFor([&] { return transferOver(f); }, 2min))
        << "stuck at line " << f->LineIndex << " with text " << f->vbalProgressBar1->text().toStdString()
        << ", answer box " << f->Text8->text().toStdString();
    EXPECT_EQ(f->vbalProgressBar1->text(), QStringLiteral("END"));
    EXPECT_EQ(f->vbalProgressBar1->barColor(), color::kGreen);

    std::vector<QByteArray> received = commands(board.log());
    // The probe may have asked more than once before the first answer came back.
    while (!received.empty() && received.front() == "BOOTi\r\n") received.erase(received.begin());
    const QList<QByteArray> expected = downloadAndVerifyCommands(lines);
    EXPECT_EQ(received, std::vector<QByteArray>(expected.begin(), expected.end()));
}

INSTANTIATE_TEST_SUITE_P(Plain, SlowLine,
                         ::testing::Values(SlowLineCase{"Plain9600", 9600, false},
                                           SlowLineCase{"Plain19200", 19200, false},
                                           SlowLineCase{"Modbus9600", 9600, true}),
                         [](const ::testing::TestParamInfo<SlowLineCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(EndToEnd, VerifyMismatch_BoardAnswersErrorAndTheBarTurnsRed) {
    // The board finds the fourth verify record different from its flash.
    BoardSim& board = startBoard({"--error-at-verify", "4"});
    RealLoader& f = loader();
    f->Text1->setText(QStringLiteral("0"));
    f->BTNOpenCom_Click();
    ASSERT_TRUE(f->MSComm1->portOpen());

    const QString file = example("blink.hex");
    const QList<QByteArray> lines = hexFileLines(file);
    ASSERT_GT(lines.size(), 4);
    f.dialog->nextPath = file;
    f->Command3_Click();

    ASSERT_TRUE(waitFor([&] { return transferOver(f); }, 2min));
    EXPECT_EQ(f->vbalProgressBar1->text(), QStringLiteral("ERROR"));
    EXPECT_EQ(f->vbalProgressBar1->barColor(), color::kRed);
    EXPECT_EQ(f->VerifyPhase, 0);

    // Nothing is sent on an "ERROR": the last command is the mismatching one.
    QTest::qWait(200);
    const std::vector<QByteArray> received = commands(board.log());
    ASSERT_EQ(received.size(), lines.size() + 4);
    EXPECT_EQ(received.back(), verifyCommand(lines[3]));
}

// A board slower than the probe answers two version queries; the download
// starts at the first "READY", so the second "VER=" puts a second line in
// flight, up to the end of the file. The board's "DOWNLOAD" to the
// end-of-file record still starts the verify pass: green "END" after every
// verify line, and no line of either pass twice.
TEST_F(EndToEnd, TwoLinesInFlightAtTheEndOfTheFileStillVerifyEveryLine) {
    BoardSim& board = startBoard({"--reply-delay", "300"});
    RealLoader& f = loader();
    f->BTNOpenCom_Click();
    ASSERT_TRUE(f->MSComm1->portOpen());
    ASSERT_TRUE(waitFor([&] { return f->Label2->text() == QStringLiteral("READY"); }, 30s));

    const QString file = example("blink.hex");
    const QList<QByteArray> lines = hexFileLines(file);
    f.dialog->nextPath = file;
    f->Command3_Click();
    ASSERT_TRUE(waitFor([&] { return transferOver(f); }, 2min))
        << "stuck at line " << f->LineIndex << " with text " << f->vbalProgressBar1->text().toStdString();
    QTest::qWait(700);

    EXPECT_EQ(f->vbalProgressBar1->text(), QStringLiteral("END"));
    EXPECT_EQ(f->vbalProgressBar1->barColor(), color::kGreen);
    std::vector<QByteArray> received = commands(board.log());
    std::size_t asks = 0;
    while (asks < received.size() && received[asks] == "BOOTi\r\n") ++asks;
    ASSERT_GE(asks, 2U) << "the probe asked more than once";
    received.erase(received.begin(), received.begin() + static_cast<std::ptrdiff_t>(asks));
    EXPECT_EQ(QList<QByteArray>(received.begin(), received.end()), downloadAndVerifyCommands(lines));
}

}  // namespace
}  // namespace vantrel::testing
