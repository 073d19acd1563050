// The flasher and the window against the simulated PIC18F452 with the
// reference bootloader: download, verify, install the example application,
// and what the chip's memory holds afterwards. gpsim in real time (lock
// vantrel_gpsim, label firmware).
#include <array>
#include <cstdio>
#include <string>

#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "pic_sim.h"
#include "pseudo_terminal.h"
#include "real_loader.h"
#include "window/colors.h"
#include "window/progress_bar.h"

namespace vantrel::testing {
namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kBootStart = VANTREL_FW_BOOT_START;
constexpr std::uint32_t kSettings = VANTREL_FW_SETTINGS;

std::string firmware(const char* name) {
    return PicSim::firmwareDir() + "/" + name;
}

// Runs a command and gives its stdout and exit status.
std::pair<std::string, int> run(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return {out, -1};
    std::array<char, 512> buffer{};
    while (std::fgets(buffer.data(), buffer.size(), pipe) != nullptr) out += buffer.data();
    const int status = pclose(pipe);
    return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

// What a download of `app` must leave in the chip, checked on its dump.
void expectInstalled(const PicSim::Memory& dump, const PicSim::Memory& app, const PicSim::Memory& boot) {
    ASSERT_FALSE(dump.empty());
    int checked = 0;
    for (const auto& [address, byte] : app) {
        if (address < 4 || address >= kBootStart) continue;
        ASSERT_EQ(dump.count(address), 1u) << address;
        EXPECT_EQ(dump.at(address), byte) << "application byte at " << address;
        ++checked;
    }
    EXPECT_GT(checked, 100);
    // The application's first instruction is kept in the settings row; the
    // reset vector stays the bootloader's.
    for (std::uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(dump.at(kSettings + i), app.at(i)) << "kept byte " << i;
        EXPECT_EQ(dump.at(i), boot.at(i)) << "reset vector byte " << i;
    }
    // The bootloader's own code, below its settings row, is unchanged.
    for (const auto& [address, byte] : boot) {
        if (address < kBootStart || address >= kSettings) continue;
        EXPECT_EQ(dump.at(address), byte) << "bootloader byte at " << address;
    }
}

TEST(ChipFlashTest, TheFlasherDownloadsVerifiesAndInstallsTheExampleApplication) {
    const std::string app = firmware("example-app-18f452.hex");
    PicSim chip({"--start-on-open"});
    ASSERT_TRUE(chip.start()) << chip.error();
    const auto [out, status] =
        run(std::string(VANTREL_FLASH_PATH) + " --port " + chip.ptyPath() + " --install " + app + " 2>&1");
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("END"), std::string::npos) << out;
    // The application itself answers "VER" after the install.
    EXPECT_NE(out.find("VER=EXAMPLE APP"), std::string::npos) << out;
    EXPECT_TRUE(chip.waitForLog(
        [](const PicSim::Log& log) {
            for (const auto& entry : log)
                if (entry.direction == "TX" && entry.bytes.starts_with("VER=EXAMPLE APP")) return true;
            return false;
        },
        2s));
    EXPECT_EQ(chip.stop(), 0);
    expectInstalled(chip.flashOut(), *readHexMemory(app), *readHexMemory(firmware("bootloader-18f452.hex")));
}

bool transferOver(const RealLoader& f) {
    const QString t = f->vbalProgressBar1->text();
    return t == QStringLiteral("END") || t == QStringLiteral("ERROR");
}

TEST(ChipWindowTest, TheWindowDownloadsVerifiesAndInstallsOnTheChip) {
    std::string why;
    if (!ptyAvailable(why)) GTEST_SKIP() << why;
    QTemporaryDir config;
    ASSERT_TRUE(config.isValid());
    const std::string ports = (config.path() + QStringLiteral("/vantrel/ports")).toStdString();
    PicSim chip({"--start-on-open"});
    chip.setAlias(ports, 3);
    ASSERT_TRUE(chip.start()) << chip.error();

    RealLoader f(RealLoader::Pause::Real, aliasFolderResolver(QString::fromStdString(ports)));
    f->Option3->setChecked(true);  // 115200
    f->BTNOpenCom_Click();
    ASSERT_TRUE(f->MSComm1->portOpen()) << f.box->texts().join(u'\n').toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return f->Label2->text() == QStringLiteral("READY"); }, 30000))
        << f->Label2->text().toStdString();
    EXPECT_TRUE(f->Text8->text().startsWith(QStringLiteral("VER="))) << f->Text8->text().toStdString();

    f.dialog->nextPath = QString::fromStdString(firmware("example-app-18f452.hex"));
    f->Command3_Click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return transferOver(f); }, 120000))
        << "stuck at line " << f->LineIndex << " with text " << f->vbalProgressBar1->text().toStdString();
    EXPECT_EQ(f->vbalProgressBar1->text(), QStringLiteral("END"));
    EXPECT_EQ(f->vbalProgressBar1->barColor(), color::kGreen);

    f->Command6_Click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return f->Text8->text().startsWith(QStringLiteral("VER=EXAMPLE APP")); }, 10000))
        << f->Text8->text().toStdString();
    f->BTNCloseCom_Click();
    EXPECT_EQ(chip.stop(), 0);
}

}  // namespace
}  // namespace vantrel::testing
