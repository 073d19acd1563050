#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include "e2e_fixture.h"

namespace vantrel::testing {
namespace {

bool probeAnswered(const RealLoader& f) {
    return f->Label2->text() == QStringLiteral("READY") && !f->Timer3->isActive();
}

TEST_F(EndToEnd, PlainProbe_StopsOnTheFirstVersionReply) {
    BoardSim& board = startBoard({});
    RealLoader& f = loader();
    f->Text1->setText(QStringLiteral("5"));
    f->BTNOpenCom_Click();
    ASSERT_TRUE(f->MSComm1->portOpen());

    ASSERT_TRUE(waitFor([&] { return probeAnswered(f); }, 30s)) << f->Label2->text().toStdString();
    EXPECT_EQ(f->ProbeCount, 2);
    EXPECT_TRUE(f->Text8->text().contains(QStringLiteral("VER=")));
    // No further asks once the board has answered.
    QTest::qWait(600);
    EXPECT_EQ(commands(board.log()), std::vector<QByteArray>{QByteArrayLiteral("BOOTi\r\n")});
}

TEST_F(EndToEnd, AddressSearchOnAMultiDropLine_FindsEachBoardInTurnWithNext) {
    BoardSim& bus = startBoard({"--modbus", "3,7,9"});
    RealLoader& f = loader();
    f->Check1->setChecked(true);
    f->Text1->clear();
    f->BTNOpenCom_Click();
    ASSERT_TRUE(f->MSComm1->portOpen());
    EXPECT_EQ(f->Command1->text(), QStringLiteral("Next"));

    ASSERT_TRUE(waitFor([&] { return probeAnswered(f); }, 30s));
    EXPECT_EQ(f->Text1->text(), QStringLiteral("3"));
    EXPECT_EQ(f->ProbeCount, 4);

    for (const char* next : {"7", "9"}) {
        f->Label2->clear();
        f->Command1_Click();
        ASSERT_TRUE(waitFor([&] { return probeAnswered(f); }, 30s)) << "searching for " << next;
        EXPECT_EQ(f->Text1->text(), QLatin1String(next));
    }

    // Each board answered exactly one version query, from its own address.
    const auto log = bus.log();
    std::vector<int> answered;
    for (const auto& e : log)
        if (e.direction == "RX" && e.address) answered.push_back(*e.address);
    EXPECT_EQ(answered, (std::vector<int>{3, 7, 9}));
}

struct UsbCase {
    const char* name;
    std::vector<std::string> boardOptions;
};
void PrintTo(const UsbCase& c, std::ostream* os) {
    *os << c.name;
}

class UsbScan : public EndToEnd, public ::testing::WithParamInterface<UsbCase> {};

TEST_P(UsbScan, PortAppearingAfterOpen_IsTakenOverAndAskedForItsVersion) {
    BoardSim& board = startBoard(GetParam().boardOptions);
    RealLoader& f = loader();
    f->Option4->setChecked(true);
    f->Check1->setChecked(true);  // USB mode clears it: the query goes unframed
    f->BTNOpenCom_Click();
    EXPECT_EQ(f->UsbScan, 1);
    EXPECT_FALSE(f->MSComm1->portOpen()) << "the board is not powered yet";

    ASSERT_TRUE(waitForLine(board, "APPEARED", 20s));
    ASSERT_TRUE(waitFor([&] { return probeAnswered(f); }, 30s)) << f->Label2->text().toStdString();
    EXPECT_TRUE(f->MSComm1->portOpen());
    EXPECT_TRUE(f->TMRComm->isActive());
    EXPECT_FALSE(f->BTNOpenCom->isEnabled());
    EXPECT_TRUE(f->BTNCloseCom->isEnabled());
    EXPECT_EQ(f->ProbeCount, 1);
    EXPECT_FALSE(f->Check1->isChecked());
    EXPECT_EQ(commands(board.log()), std::vector<QByteArray>{QByteArrayLiteral("BOOTi\r\n")});
    EXPECT_TRUE(f.box->shown.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, UsbScan,
                         ::testing::Values(UsbCase{"AliasMadeLate", {"--appear-after", "2"}},
                                           UsbCase{"AliasTargetMadeLate", {"--appear-after", "2", "--appear-target"}}),
                         [](const ::testing::TestParamInfo<UsbCase>& info) { return std::string(info.param.name); });

TEST_F(EndToEnd, SetAddr_MovesTheBoardAndALaterProbeFindsItThere) {
    BoardSim& board = startBoard({"--modbus", "3"});
    RealLoader& f = loader();
    f->Check1->setChecked(true);
    f->Text1->setText(QStringLiteral("3"));
    f->BTNOpenCom_Click();
    ASSERT_TRUE(waitFor([&] { return probeAnswered(f); }, 30s));

    f->Text2->setText(QStringLiteral("10"));
    f->Command1_Click();
    ASSERT_TRUE(waitFor([&] { return f->Text8->text().startsWith(QStringLiteral("ADR=0A")); }, 10s))
        << f->Text8->text().toStdString();
    EXPECT_EQ(f->Text1->text(), QStringLiteral("3")) << "the address box does not follow the board by itself";

    f->BTNCloseCom_Click();
    f->Text1->setText(QStringLiteral("10"));
    f->Label2->clear();
    f->BTNOpenCom_Click();
    ASSERT_TRUE(waitFor([&] { return probeAnswered(f); }, 30s));
    EXPECT_EQ(f->ProbeCount, 2) << "the first ask at address 10 was answered";

    std::vector<int> from;
    for (const auto& e : board.log())
        if (e.direction == "TX" && e.address) from.push_back(*e.address);
    EXPECT_EQ(from, (std::vector<int>{3, 3, 10}));
}

TEST_F(EndToEnd, Install_SendsBootgThenVerAboutOneSecondApart) {
    BoardSim& board = startBoard({});
    RealLoader& f = loader();
    f->Text1->setText(QStringLiteral("0"));
    f->BTNOpenCom_Click();
    ASSERT_TRUE(f->MSComm1->portOpen());
    f->TransferArmed = 1;
    f->TransferActive = 1;
    f->LineCount = 1;
    f->HexLines[1] = QByteArrayLiteral(":00000001FF");

    f->Command6_Click();
    // The installed program answers "VER"; that reply starts no file line.
    ASSERT_TRUE(waitFor([&] { return f->Label2->text() == QStringLiteral("READY"); }, 10s));
    QTest::qWait(200);

    const auto log = board.log();
    std::vector<const boardsim::LogEntry*> rx;
    for (const auto& e : log)
        if (e.direction == "RX") rx.push_back(&e);
    ASSERT_EQ(rx.size(), 2u);
    EXPECT_EQ(rx[0]->bytes, "BOOTg\r\n");
    EXPECT_EQ(rx[1]->bytes, "VER\r\n");
    const long long apart = (rx[1]->at - rx[0]->at) / 1000;
    EXPECT_GE(apart, 950);
    EXPECT_LT(apart, 5000);
    EXPECT_EQ(f->TransferActive, 0);
}

}  // namespace
}  // namespace vantrel::testing
