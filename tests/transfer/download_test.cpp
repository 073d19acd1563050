#include <string>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QList>
#include <QPushButton>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "loader/texts.h"
#include "qt_printers.h"
#include "window/progress_bar.h"

namespace vantrel::testing {
namespace {

// ":L1" CR LF ... ":Ln" CR LF, each line telling its own number.
QByteArray numberedLines(int n, const char* prefix = ":L") {
    QByteArray data;
    for (int k = 1; k <= n; ++k) data += prefix + QByteArray::number(k) + "\r\n";
    return data;
}

QString writeFileIn(const QTemporaryDir& dir, const QString& name, const QByteArray& data) {
    const QString path = dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(data);
    return path;
}

// Notes the progress text at the moment "Send" becomes enabled: by then the
// file is read and line 1 is not yet sent.
class SendEnabledSpy {
  public:
    explicit SendEnabledSpy(FakeLoader& f) : f_(f) {
        f_->Command5->setEnabled(false);
        QObject::connect(f_.w.get(), &Loader::controlChanged, [this](const Control& c, Control::Property what) {
            if (&c == f_->Command5 && what == Control::Property::Enabled && c.isEnabled()) {
                barTexts << f_->vbalProgressBar1->text();
                writesSoFar << f_.port->writes.size();
            }
        });
    }
    QStringList barTexts;
    QList<qsizetype> writesSoFar;

  private:
    FakeLoader& f_;
};

class DownloadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        f.port->setPortOpen(true);
    }

    QString writeFile(const QString& name, const QByteArray& data) { return writeFileIn(dir, name, data); }

    void start(bool verify, const QString& path) {
        f.dialog->nextPath = path;
        f.dialog->nextCancelled = false;
        if (verify)
            f->Command2_Click();
        else
            f->Command3_Click();
    }

    void okReply() {
        f.port->feed("OK\r\n");
        f->TMRComm_Timer();
    }

    QString barText() const { return f->vbalProgressBar1->text(); }

    FakeLoader f;
    QTemporaryDir dir;
};

// --- A successful start ---------------------------------------------------

struct StartCase {
    const char* name;
    bool verify;
    QByteArray firstLine;  // as sent
    const char* barText;   // once line 1 is sent
};

class StartPass : public DownloadTest, public ::testing::WithParamInterface<StartCase> {};

TEST_P(StartPass, LoadsTheFileAndSendsLineOneAtOnce) {
    const StartCase& c = GetParam();
    const QString path = writeFile("a.hex", ":L1\r\n:L2\r\n:L3\r\n");
    SendEnabledSpy spy(f);

    start(c.verify, path);

    EXPECT_EQ(f.dialog->filter, QStringLiteral("HEX files (*.hex)|*.hex"));
    EXPECT_EQ(f.dialog->shows, 1);
    EXPECT_TRUE(f.box->shown.isEmpty());
    EXPECT_EQ(f->LineCount, 3);
    EXPECT_EQ(f->HexLines[1], QByteArray(":L1"));
    EXPECT_EQ(f->HexLines[3], QByteArray(":L3"));
    EXPECT_EQ(f->vbalProgressBar1->max(), 3);
    EXPECT_EQ(spy.barTexts, QStringList{QStringLiteral("READY")});
    EXPECT_EQ(spy.writesSoFar, QList<qsizetype>{0});
    EXPECT_TRUE(f->Command5->isEnabled());
    EXPECT_EQ(f->TransferArmed, 1);
    EXPECT_EQ(f->TransferActive, 1);
    EXPECT_EQ(f->VerifyPhase, c.verify ? 1 : 0);
    EXPECT_EQ(f.port->writes, QList<QByteArray>{c.firstLine});
    EXPECT_EQ(f->LineIndex, 1);
    EXPECT_EQ(f->vbalProgressBar1->value(), 1);
    EXPECT_EQ(barText(), QString::fromLatin1(c.barText));
}

TEST_P(StartPass, BootloaderOkCarriesThePassOnInItsForm) {
    const StartCase& c = GetParam();
    start(c.verify, writeFile("a.hex", ":L1\r\n:L2\r\n"));

    okReply();

    ASSERT_EQ(f.port->writes.size(), 2);
    EXPECT_EQ(f.port->writes[1], QByteArray(c.verify ? "BOOT#L2\r\n" : "BOOT:L2\r\n"));
}

TEST_P(StartPass, EmptyFileLoadsNoLineAndSendsNothing) {
    const StartCase& c = GetParam();

    start(c.verify, writeFile("empty.hex", ""));

    EXPECT_TRUE(f.box->shown.isEmpty());
    EXPECT_EQ(f->LineCount, 0);
    EXPECT_EQ(f->vbalProgressBar1->max(), 0);
    EXPECT_EQ(f->TransferActive, 1);
    EXPECT_EQ(barText(), QString::fromLatin1(c.verify ? "VERIFY" : "READY"));
    EXPECT_TRUE(f.port->writes.isEmpty());
}

TEST_P(StartPass, StartReadsTheFileAnewAndBeginsAtLineOne) {
    const StartCase& c = GetParam();
    const QString path = writeFile("a.hex", ":OLD1\r\n:OLD2\r\n:OLD3\r\n");
    start(false, path);
    okReply();
    writeFile("a.hex", ":L1\r\n:L2\r\n:L3\r\n");
    f.port->writes.clear();

    start(c.verify, path);

    EXPECT_EQ(f.port->writes, QList<QByteArray>{c.firstLine});
    EXPECT_EQ(f->HexLines[2], QByteArray(":L2"));
}

TEST_P(StartPass, PortClosedStillLoadsAndCountsLineOneAsSent) {
    const StartCase& c = GetParam();
    f.port->setPortOpen(false);

    start(c.verify, writeFile("a.hex", ":L1\r\n:L2\r\n:L3\r\n"));

    EXPECT_EQ(f->LineCount, 3);
    EXPECT_EQ(f->LineIndex, 1);
    EXPECT_EQ(f->vbalProgressBar1->value(), 1);
    EXPECT_EQ(f->TransferActive, 1);
    EXPECT_TRUE(f.port->writes.isEmpty());
    EXPECT_TRUE(f.box->shown.isEmpty());
}

TEST_P(StartPass, KeepsTheBarColourOfTheLastTransfer) {
    for (const quint32 colour : {color::kGreen, color::kRed}) {
        f->vbalProgressBar1->setBarColor(colour);

        start(GetParam().verify, writeFile("a.hex", ":L1\r\n"));

        EXPECT_EQ(f->vbalProgressBar1->barColor(), colour);
    }
}

// A pass on lines already read (what a face without a dialog uses) starts
// exactly as the buttons' pass once their file is read, and shows no dialog.
TEST_P(StartPass, OnLinesAlreadyReadStartsAsTheButtonsDoWithoutADialog) {
    const StartCase& c = GetParam();
    SendEnabledSpy spy(f);

    f->startPass(c.verify, {":L1", ":L2", ":L3"});

    EXPECT_EQ(f.dialog->shows, 0);
    EXPECT_TRUE(f.box->shown.isEmpty());
    EXPECT_EQ(f->LineCount, 3);
    EXPECT_EQ(f->HexLines[3], QByteArray(":L3"));
    EXPECT_EQ(spy.barTexts, QStringList{QStringLiteral("READY")});
    EXPECT_EQ(f->VerifyPhase, c.verify ? 1 : 0);
    EXPECT_EQ(f.port->writes, QList<QByteArray>{c.firstLine});
    EXPECT_EQ(barText(), QString::fromLatin1(c.barText));
    okReply();
    ASSERT_EQ(f.port->writes.size(), 2);
    EXPECT_EQ(f.port->writes[1], QByteArray(c.verify ? "BOOT#L2\r\n" : "BOOT:L2\r\n"));
}

TEST_P(StartPass, OnMoreLinesThanTheLoaderTakesIsRefusedAndLoadsNothing) {
    const StartCase& c = GetParam();
    int failed = 0;
    QObject::connect(f.w.get(), &Loader::startFailed, [&failed] { ++failed; });

    f->startPass(c.verify, QList<QByteArray>(Loader::kMaxLines + 1, ":L"));

    EXPECT_EQ(f->LineCount, 0);
    EXPECT_TRUE(f.port->writes.isEmpty());
    EXPECT_EQ(failed, 1);
    ASSERT_EQ(f.box->shown.size(), 1);
    EXPECT_TRUE(f.box->shown[0].title.startsWith(QStringLiteral("Error#"))) << f.box->shown[0].title.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Passes, StartPass,
                         ::testing::Values(StartCase{"Download", false, "BOOT:L1\r\n", "DOWNLOAD"},
                                           StartCase{"Verify", true, "BOOT#L1\r\n", "VERIFY"}),
                         [](const ::testing::TestParamInfo<StartCase>& info) { return std::string(info.param.name); });

// --- Reading the file ----------------------------------------------------

struct LineEndCase {
    const char* name;
    QByteArray data;
};

class LineEnds : public DownloadTest, public ::testing::WithParamInterface<LineEndCase> {};

TEST_P(LineEnds, GiveOneEntryPerLineAndNoEmptyLastEntry) {
    start(false, writeFile("a.hex", GetParam().data));

    EXPECT_EQ(f->LineCount, 3);
    EXPECT_EQ(f->HexLines[1], QByteArray(":020000040000FA"));
    EXPECT_EQ(f->HexLines[2], QByteArray(":0400000001020304F2"));
    EXPECT_EQ(f->HexLines[3], QByteArray(":00000001FF"));
}

INSTANTIATE_TEST_SUITE_P(
    Files, LineEnds,
    ::testing::Values(LineEndCase{"CrLf", ":020000040000FA\r\n:0400000001020304F2\r\n:00000001FF\r\n"},
                      LineEndCase{"LfAlone", ":020000040000FA\n:0400000001020304F2\n:00000001FF\n"},
                      LineEndCase{"NoFinalLineEnd", ":020000040000FA\r\n:0400000001020304F2\r\n:00000001FF"}),
    [](const ::testing::TestParamInfo<LineEndCase>& info) { return std::string(info.param.name); });

TEST_F(DownloadTest, FileOf9000LinesLoadsWhole) {
    start(false, writeFile("full.hex", numberedLines(9000)));

    EXPECT_TRUE(f.box->shown.isEmpty());
    EXPECT_EQ(f->LineCount, 9000);
    EXPECT_EQ(f->HexLines[9000], QByteArray(":L9000"));
    EXPECT_EQ(f.port->writes, QList<QByteArray>{"BOOT:L1\r\n"});
}

TEST_F(DownloadTest, ShorterSecondFileNeverSendsTheLeftoverLines) {
    start(false, writeFile("long.hex", numberedLines(5, ":LONG")));
    start(false, writeFile("short.hex", ":S1\r\n:S2\r\n"));
    EXPECT_EQ(f->LineCount, 2);
    EXPECT_EQ(f->HexLines[3], QByteArray(":LONG3"));  // the table is never cleared
    f.port->writes.clear();

    for (int i = 0; i < 6; ++i) okReply();
    for (int i = 0; i < 3; ++i) f->Command5_Click();

    ASSERT_EQ(f.port->writes.size(), 9);
    for (const QByteArray& w : f.port->writes)
        EXPECT_TRUE(w == "BOOT:S1\r\n" || w == "BOOT:S2\r\n") << ::testing::PrintToString(w);
}

// --- Cancelling the dialog -----------------------------------------------

struct CancelCase {
    const char* name;
    bool verify;
    bool emptyPath;  // otherwise the cancel indicator is set
};

class CancelledChoice : public DownloadTest, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(CancelledChoice, ShowsCancelAndLeavesTheTransferAsItWas) {
    const CancelCase& c = GetParam();
    start(false, writeFile("a.hex", ":L1\r\n:L2\r\n:L3\r\n"));
    f.port->writes.clear();
    f->VerifyPhase = c.verify ? 0 : 1;  // the opposite of what the start sets
    f->TransferArmed = 0;
    f->TransferActive = 0;
    f->vbalProgressBar1->setText(QStringLiteral("END"));
    f->vbalProgressBar1->setBarColor(color::kGreen);
    f.dialog->nextPath = c.emptyPath ? QString() : writeFile("other.hex", ":OTHER1\r\n");
    f.dialog->nextCancelled = !c.emptyPath;

    if (c.verify)
        f->Command2_Click();
    else
        f->Command3_Click();

    ASSERT_EQ(f.box->shown.size(), 1);
    EXPECT_EQ(f.box->shown[0].text, QStringLiteral("Cancel"));
    EXPECT_EQ(f.box->shown[0].title, QString::fromUtf8(text::kAppTitle));
    EXPECT_EQ(f.box->shown[0].icon, MsgBox::Icon::None);
    EXPECT_EQ(f->VerifyPhase, c.verify ? 0 : 1) << "the pass stays the one that was running";
    EXPECT_EQ(f->TransferArmed, 0);
    EXPECT_EQ(f->TransferActive, 0);
    EXPECT_EQ(f->LineCount, 3);
    EXPECT_EQ(f->LineIndex, 1);
    EXPECT_EQ(f->HexLines[1], QByteArray(":L1"));
    EXPECT_EQ(barText(), QStringLiteral("END"));
    EXPECT_EQ(f->vbalProgressBar1->barColor(), color::kGreen);
    EXPECT_EQ(f->vbalProgressBar1->value(), 1);
    EXPECT_EQ(f->vbalProgressBar1->max(), 3);
    EXPECT_TRUE(f.port->writes.isEmpty());

    f->Command5_Click();
    EXPECT_EQ(f.port->writes, QList<QByteArray>{c.verify ? "BOOT:L2\r\n" : "BOOT#L2\r\n"});
}

// Cancelling "Verify" in the middle of a download must not turn the rest of
// it into verify commands: the board's end-of-file reply would then show a
// green "END" for a file that was never verified.
TEST_F(DownloadTest, CancelledVerifyDuringADownloadLetsTheDownloadGoOnToItsVerifyPass) {
    start(false, writeFile("a.hex", ":L1\r\n:00000001FF\r\n"));
    f.dialog->nextCancelled = true;
    f->Command2_Click();
    ASSERT_EQ(f.box->texts(), QStringList{QStringLiteral("Cancel")});

    f->RxLine = "OK\r\n";
    f->Com_Parser();
    f->RxLine = "DOWNLOAD\r\n";
    f->Com_Parser();

    EXPECT_EQ(f.port->writes, (QList<QByteArray>{"BOOT:L1\r\n", "BOOT:00000001FF\r\n", "BOOT#L1\r\n"}));
    EXPECT_EQ(barText(), QStringLiteral("VERIFY"));
}

INSTANTIATE_TEST_SUITE_P(Choices, CancelledChoice,
                         ::testing::Values(CancelCase{"DownloadNothingChosen", false, true},
                                           CancelCase{"DownloadCancelIndicator", false, false},
                                           CancelCase{"VerifyNothingChosen", true, true},
                                           CancelCase{"VerifyCancelIndicator", true, false}),
                         [](const ::testing::TestParamInfo<CancelCase>& info) { return std::string(info.param.name); });

TEST_F(DownloadTest, DialogFailureShowsItsNumberInAnErrorBox) {
    f->VerifyPhase = 1;
    f.dialog->showFailure = Failure(32755, QStringLiteral("Dialog failed"));

    f->Command3_Click();

    ASSERT_EQ(f.box->shown.size(), 1);
    EXPECT_EQ(f.box->shown[0].title, QStringLiteral("Error#32755"));
    EXPECT_EQ(f.box->shown[0].text, QStringLiteral("Dialog failed"));
    EXPECT_EQ(f.box->shown[0].icon, MsgBox::Icon::Stop);
    EXPECT_EQ(f->TransferArmed, 0) << "no file was chosen: the transfer is left as it was";
    EXPECT_EQ(f->VerifyPhase, 1);
    EXPECT_TRUE(f.port->writes.isEmpty());
}

// --- Files that cannot be loaded as they are -----------------------------

struct BadFileCase {
    const char* name;
    // Makes the path the dialog hands back; an empty path skips the case.
    QString (*make)(const QTemporaryDir& dir);
    bool refused;     // an "Error#" box; otherwise the file loads
    int loadedLines;  // when it loads; -1 where the count is not known beforehand
};

class BadFile : public DownloadTest, public ::testing::WithParamInterface<BadFileCase> {};

template <std::size_t N>
QByteArray bytes(const char (&text)[N]) {
    return QByteArray(text, N - 1);
}

QByteArray garbage() {
    QByteArray data;
    quint32 x = 12345;
    for (int i = 0; i < 4096; ++i) {
        x = x * 1103515245u + 12345u;
        data += static_cast<char>(x >> 24);
    }
    return data;
}

TEST_P(BadFile, EndsInAnErrorBoxOrLoadsOnlyWhatTheFileHolds) {
    const BadFileCase& c = GetParam();
    // A file loaded before, whose lines must never come back.
    start(false, writeFile("previous.hex", numberedLines(5, ":PREV")));
    f.port->writes.clear();
    const QString path = c.make(dir);
    if (path.isEmpty()) GTEST_SKIP() << "this case cannot be set up here";
    QString barTextAtBox;
    f.box->onShow = [&](const ShownMessage&) { barTextAtBox = barText(); };

    start(false, path);

    if (c.refused) {
        ASSERT_EQ(f.box->shown.size(), 1);
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^Error#\\d+$")).match(f.box->shown[0].title).hasMatch())
            << f.box->shown[0].title.toStdString();
        EXPECT_FALSE(f.box->shown[0].text.isEmpty());
        EXPECT_EQ(f.box->shown[0].icon, MsgBox::Icon::Stop);
        EXPECT_EQ(barTextAtBox, QStringLiteral("NO FILE"));
        EXPECT_EQ(barText(), QStringLiteral("NO FILE"));
        EXPECT_EQ(f->LineCount, 0);
        EXPECT_EQ(f->LineIndex, 0);
        EXPECT_TRUE(f.port->writes.isEmpty());
        for (int i = 0; i < 3; ++i) f->Command5_Click();
        EXPECT_TRUE(f.port->writes.isEmpty());
        return;
    }

    EXPECT_TRUE(f.box->shown.isEmpty());
    if (c.loadedLines >= 0) {
        EXPECT_EQ(f->LineCount, c.loadedLines);
    }
    ASSERT_GE(f->LineCount, 1);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray data = file.readAll();
    for (int k = 1; k <= f->LineCount; ++k) {
        const QByteArray& line = f->HexLines[k];
        EXPECT_TRUE(data.contains(line)) << "entry " << k;
        EXPECT_FALSE(line.contains('\r') || line.contains('\n') || line.contains(',')) << "entry " << k;
    }
    for (int i = 0; i < 6; ++i) f->Command5_Click();
    ASSERT_FALSE(f.port->writes.isEmpty());
    EXPECT_EQ(f.port->writes[0], "BOOT" + f->HexLines[1] + "\r\n");
    for (const QByteArray& w : f.port->writes) {
        EXPECT_TRUE(w.startsWith("BOOT") && w.endsWith("\r\n"));
        EXPECT_TRUE(data.contains(w.mid(4, w.size() - 6)));
        EXPECT_FALSE(w.contains("PREV"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadFile,
    ::testing::Values(
        BadFileCase{"BinaryGarbage",
                    [](const QTemporaryDir& dir) { return writeFileIn(dir, "garbage.hex", garbage()); }, false, -1},
        BadFileCase{
            "NulBytes",
            [](const QTemporaryDir& dir) { return writeFileIn(dir, "nul.hex", bytes(":00\0\0FF\r\n\0:01\0\r\n")); },
            false, 2},
        BadFileCase{"LineOfAMegabyte",
                    [](const QTemporaryDir& dir) {
                        return writeFileIn(dir, "long.hex", ":" + QByteArray(1 << 20, 'A') + "\r\n");
                    },
                    false, 1},
        BadFileCase{"MoreThan9000Lines",
                    [](const QTemporaryDir& dir) { return writeFileIn(dir, "over.hex", numberedLines(9001)); }, true,
                    0},
        BadFileCase{"PathVanishedAfterTheChoice",
                    [](const QTemporaryDir& dir) {
                        const QString path = writeFileIn(dir, "gone.hex", ":L1\r\n");
                        QFile::remove(path);
                        return path;
                    },
                    true, 0},
        BadFileCase{"Directory",
                    [](const QTemporaryDir& dir) {
                        QDir(dir.path()).mkdir(QStringLiteral("folder.hex"));
                        return dir.filePath(QStringLiteral("folder.hex"));
                    },
                    true, 0},
        BadFileCase{"WithoutReadPermission",
                    [](const QTemporaryDir& dir) {
                        if (geteuid() == 0) return QString();  // root reads it anyway
                        const QString path = writeFileIn(dir, "locked.hex", ":L1\r\n");
                        QFile::setPermissions(path, QFileDevice::WriteOwner);
                        return path;
                    },
                    true, 0},
        BadFileCase{"FarTooLargeForAHexFile",
                    [](const QTemporaryDir& dir) {
                        const QString path = writeFileIn(dir, "huge.hex", ":L1\r\n");
                        QFile(path).resize(65LL * 1024 * 1024);  // sparse: costs no disk
                        return path;
                    },
                    true, 0}),
    [](const ::testing::TestParamInfo<BadFileCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vantrel::testing
