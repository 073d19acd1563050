#include "flasher/options.h"

#include <string>
#include <vector>

#include <QStringList>

#include <gtest/gtest.h>

namespace vantrel::flasher {
namespace {

using Kind = CommandLine::Kind;

CommandLine parse(const std::vector<const char*>& arguments) {
    QStringList args{QStringLiteral("vantrel-flash")};
    for (const char* a : arguments) args << QString::fromUtf8(a);
    return parseCommandLine(args);
}

struct Accepted {
    const char* name;
    std::vector<const char*> arguments;
    std::function<void(const FlashOptions&)> check;
};

void PrintTo(const Accepted& c, std::ostream* os) {
    *os << c.name;
}

class AcceptedCommandLine : public ::testing::TestWithParam<Accepted> {};

TEST_P(AcceptedCommandLine, GivesTheJobItsSettings) {
    const CommandLine c = parse(GetParam().arguments);
    ASSERT_EQ(c.kind, Kind::Run) << c.text.toStdString();
    GetParam().check(c.options);
}

INSTANTIATE_TEST_SUITE_P(Options, AcceptedCommandLine,
                         ::testing::Values(Accepted{"DefaultsToDownloadAndVerifyAt115200",
                                                    {"--port", "COM3", "fw.hex"},
                                                    [](const FlashOptions& o) {
                                                        EXPECT_EQ(o.action, Action::DownloadVerify);
                                                        EXPECT_EQ(o.port, QStringLiteral("COM3"));
                                                        EXPECT_FALSE(o.portIsDevice);
                                                        EXPECT_EQ(o.speed, Speed::B115200);
                                                        EXPECT_FALSE(o.modbus);
                                                        EXPECT_EQ(o.file, QStringLiteral("fw.hex"));
                                                        EXPECT_EQ(o.timeoutMs, 5000);
                                                        EXPECT_FALSE(o.installAfter);
                                                        EXPECT_FALSE(o.trace);
                                                        EXPECT_FALSE(o.quiet);
                                                        EXPECT_TRUE(o.checkFile);
                                                    }},
                                           Accepted{"NoCheck",
                                                    {"--port", "COM3", "--no-check", "--verify-only", "fw.hex"},
                                                    [](const FlashOptions& o) {
                                                        EXPECT_EQ(o.action, Action::VerifyOnly);
                                                        EXPECT_FALSE(o.checkFile);
                                                    }},
                                           Accepted{
                                               "ShortOptions",
                                               {"-p", "COM12", "-s", "9600", "-m", "5", "-t", "2.5", "-q", "fw.hex"},
                                               [](const FlashOptions& o) {
                                                   EXPECT_EQ(o.port, QStringLiteral("COM12"));
                                                   EXPECT_EQ(o.speed, Speed::B9600);
                                                   EXPECT_TRUE(o.modbus);
                                                   EXPECT_EQ(o.modbusAddress, 5);
                                                   EXPECT_EQ(o.timeoutMs, 2500);
                                                   EXPECT_TRUE(o.quiet);
                                               }},
                                           Accepted{"DevicePath",
                                                    {"--port", "/dev/ttyUSB0", "fw.hex"},
                                                    [](const FlashOptions& o) {
                                                        EXPECT_TRUE(o.portIsDevice);
                                                        EXPECT_EQ(o.port, QStringLiteral("/dev/ttyUSB0"));
                                                    }},
                                           Accepted{"UsbIdentity",
                                                    {"--port", "usb:0403:6001:A10K1XYZ", "--port", "COM4", "fw.hex"},
                                                    [](const FlashOptions& o) {
                                                        EXPECT_EQ(o.ports.size(), 2);
                                                        EXPECT_EQ(o.ports[0].text,
                                                                  QStringLiteral("usb:0403:6001:A10K1XYZ"));
                                                        EXPECT_TRUE(o.ports[0].isUsb);
                                                        EXPECT_FALSE(o.ports[0].isDevice);
                                                        EXPECT_FALSE(o.ports[1].isUsb);
                                                    }},
                                           Accepted{"UsbIdentityWithTheUsbScan",
                                                    {"--port", "USB:10C4:ea60", "--speed", "usb", "fw.hex"},
                                                    [](const FlashOptions& o) {
                                                        EXPECT_TRUE(o.ports[0].isUsb);
                                                        EXPECT_EQ(o.ports[0].text, QStringLiteral("USB:10C4:ea60"))
                                                            << "kept as given";
                                                        EXPECT_EQ(o.speed, Speed::Usb);
                                                    }},
                                           Accepted{"PortBoxTextAsTheWindowReadsIt",
                                                    {"--port", "XYZ7", "fw.hex"},
                                                    [](const FlashOptions& o) {
                                                        EXPECT_EQ(o.port, QStringLiteral("XYZ7"));
                                                    }},
                                           Accepted{"UsbSpeed",
                                                    {"--port", "COM4", "--speed", "USB", "fw.hex"},
                                                    [](const FlashOptions& o) { EXPECT_EQ(o.speed, Speed::Usb); }},
                                           Accepted{"Speed19200",
                                                    {"--port", "COM4", "--speed=19200", "fw.hex"},
                                                    [](const FlashOptions& o) { EXPECT_EQ(o.speed, Speed::B19200); }},
                                           Accepted{"ModbusSearch",
                                                    {"--port", "COM3", "--modbus", "search", "fw.hex"},
                                                    [](const FlashOptions& o) {
                                                        EXPECT_TRUE(o.modbus);
                                                        EXPECT_TRUE(o.modbusSearch);
                                                    }},
                                           Accepted{"HighestModbusAddress",
                                                    {"--port", "COM3", "--modbus", "247", "fw.hex"},
                                                    [](const FlashOptions& o) { EXPECT_EQ(o.modbusAddress, 247); }},
                                           Accepted{"VerifyOnlyWithInstall",
                                                    {"--port", "COM3", "--verify-only", "--install", "fw.hex"},
                                                    [](const FlashOptions& o) {
                                                        EXPECT_EQ(o.action, Action::VerifyOnly);
                                                        EXPECT_TRUE(o.installAfter);
                                                    }},
                                           Accepted{"InstallAlone",
                                                    {"--port", "COM3", "--install"},
                                                    [](const FlashOptions& o) {
                                                        EXPECT_EQ(o.action, Action::InstallOnly);
                                                        EXPECT_FALSE(o.installAfter);
                                                    }},
                                           Accepted{"QueryVersion",
                                                    {"--port", "COM3", "--query-version"},
                                                    [](const FlashOptions& o) {
                                                        EXPECT_EQ(o.action, Action::QueryVersion);
                                                    }},
                                           Accepted{"SetAddress",
                                                    {"--port", "COM3", "--modbus", "5", "--set-address", "9"},
                                                    [](const FlashOptions& o) {
                                                        EXPECT_EQ(o.action, Action::SetAddress);
                                                        EXPECT_EQ(o.newAddress, 9);
                                                        EXPECT_EQ(o.modbusAddress, 5);
                                                    }},
                                           Accepted{"List",
                                                    {"--list"},
                                                    [](const FlashOptions& o) { EXPECT_EQ(o.action, Action::List); }},
                                           Accepted{
                                               "SeveralPortsInTheOrderGiven",
                                               {"--port", "COM3", "-p", "/dev/ttyUSB1", "--port", "COM12", "fw.hex"},
                                               [](const FlashOptions& o) {
                                                   EXPECT_EQ(o.ports,
                                                             (QList<PortName>{{QStringLiteral("COM3"), false},
                                                                              {QStringLiteral("/dev/ttyUSB1"), true},
                                                                              {QStringLiteral("COM12"), false}}));
                                                   EXPECT_EQ(o.port, QStringLiteral("COM3"));
                                                   EXPECT_TRUE(o.severalBoards());
                                               }},
                                           Accepted{"ModbusBusList",
                                                    {"--port", "COM3", "--modbus", "3, 7,9", "fw.hex"},
                                                    [](const FlashOptions& o) {
                                                        EXPECT_EQ(o.modbusAddresses, (QList<int>{3, 7, 9}));
                                                        EXPECT_EQ(o.modbusAddress, 3);
                                                        EXPECT_FALSE(o.modbusSearch);
                                                        EXPECT_TRUE(o.severalBoards());
                                                    }},
                                           Accepted{"ModbusAll",
                                                    {"--port", "COM3", "--modbus", "ALL", "--install", "fw.hex"},
                                                    [](const FlashOptions& o) {
                                                        EXPECT_TRUE(o.modbus);
                                                        EXPECT_TRUE(o.modbusAll);
                                                        EXPECT_FALSE(o.modbusSearch);
                                                        EXPECT_TRUE(o.installAfter);
                                                        EXPECT_TRUE(o.severalBoards());
                                                    }},
                                           Accepted{"OneBoardIsNotSeveral",
                                                    {"--port", "COM3", "--modbus", "5", "fw.hex"},
                                                    [](const FlashOptions& o) { EXPECT_FALSE(o.severalBoards()); }},
                                           Accepted{"FastReportAndDryRun",
                                                    {"--port", "COM3", "--fast", "--report", "out.json", "--dry-run",
                                                     "fw.hex"},
                                                    [](const FlashOptions& o) {
                                                        EXPECT_TRUE(o.fast);
                                                        EXPECT_EQ(o.reportPath, QStringLiteral("out.json"));
                                                        EXPECT_TRUE(o.dryRun);
                                                        EXPECT_TRUE(o.dryRunBoard.isEmpty());
                                                    }},
                                           Accepted{
                                               "DryRunWithBoardOptions",
                                               {"--port", "COM3", "--dry-run-with", "--error-at-verify 2", "fw.hex"},
                                               [](const FlashOptions& o) {
                                                   EXPECT_TRUE(o.dryRun);
                                                   EXPECT_EQ(o.dryRunBoard, QStringLiteral("--error-at-verify 2"));
                                               }},
                                           Accepted{"TraceAndTinyTimeout",
                                                    {"--port", "COM3", "--trace", "--timeout", "0.0001", "fw.hex"},
                                                    [](const FlashOptions& o) {
                                                        EXPECT_TRUE(o.trace);
                                                        EXPECT_EQ(o.timeoutMs, 1);
                                                    }},
                                           Accepted{"NoRetriesByDefault",
                                                    {"--port", "COM3", "fw.hex"},
                                                    [](const FlashOptions& o) {
                                                        EXPECT_EQ(o.retries, 0);
                                                        EXPECT_FALSE(o.autoSpeed);
                                                    }},
                                           Accepted{"Retries",
                                                    {"--port", "COM3", "--retries", "3", "fw.hex"},
                                                    [](const FlashOptions& o) { EXPECT_EQ(o.retries, 3); }},
                                           Accepted{"AutoSpeedStartsAtTheFastest",
                                                    {"--port", "COM3", "--speed", "AUTO", "--modbus", "5", "fw.hex"},
                                                    [](const FlashOptions& o) {
                                                        EXPECT_TRUE(o.autoSpeed);
                                                        EXPECT_EQ(o.speed, Speed::B115200);
                                                        EXPECT_TRUE(o.modbus);
                                                    }}),
                         [](const ::testing::TestParamInfo<Accepted>& info) { return std::string(info.param.name); });

struct Refused {
    const char* name;
    std::vector<const char*> arguments;
    const char* why;  // a part of the message
};

void PrintTo(const Refused& c, std::ostream* os) {
    *os << c.name;
}

class RefusedCommandLine : public ::testing::TestWithParam<Refused> {};

TEST_P(RefusedCommandLine, IsAUsageErrorThatSaysWhy) {
    const CommandLine c = parse(GetParam().arguments);
    ASSERT_EQ(c.kind, Kind::Error);
    EXPECT_TRUE(c.text.contains(QLatin1String(GetParam().why))) << c.text.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Options, RefusedCommandLine,
    ::testing::Values(
        Refused{"NoPort", {"fw.hex"}, "port"}, Refused{"NoFile", {"--port", "COM3"}, "file"},
        Refused{"TwoFiles", {"--port", "COM3", "a.hex", "b.hex"}, "one file"},
        Refused{"UnknownOption", {"--port", "COM3", "--turbo", "fw.hex"}, "turbo"},
        Refused{"SamePortTwice", {"--port", "COM3", "--port", "COM3", "fw.hex"}, "twice"},
        Refused{"AddressTwiceOnTheBus", {"--port", "COM3", "--modbus", "3,7,3", "fw.hex"}, "twice"},
        Refused{"BusListWithABadAddress", {"--port", "COM3", "--modbus", "3,0,9", "fw.hex"}, "\"0\""},
        Refused{"SetAddressOnABus", {"--port", "COM3", "--modbus", "3,7", "--set-address", "9"}, "--modbus"},
        Refused{"SetAddressOnAll", {"--port", "COM3", "--modbus", "all", "--set-address", "9"}, "--modbus"},
        Refused{"SetAddressOnTwoPorts",
                {"--port", "COM3", "--port", "COM4", "--modbus", "5", "--set-address", "9"},
                "one board"},
        Refused{"ReportWithoutAName", {"--port", "COM3", "--report", "", "fw.hex"}, "--report"},
        Refused{"ListWithFast", {"--list", "--fast"}, "--list"},
        Refused{"PortWithoutNumber", {"--port", "COMx", "fw.hex"}, "COMx"},
        Refused{"PortTooShort", {"--port", "COM", "fw.hex"}, "names no port"},
        Refused{"PortZero", {"--port", "COM0", "fw.hex"}, "names no port"},
        Refused{"PortBeyond16Bits", {"--port", "COM40000", "fw.hex"}, "names no port"},
        Refused{"DeviceNameWithoutPath", {"--port", "ttyUSB0", "fw.hex"}, "device path"},
        Refused{"UsbIdWithoutProduct", {"--port", "usb:0403", "fw.hex"}, "usb:VID:PID"},
        Refused{"UsbIdNotHex", {"--port", "usb:04g3:6001", "fw.hex"}, "\"04g3\""},
        Refused{"UsbIdWithEmptySerial", {"--port", "usb:0403:6001:", "fw.hex"}, "serial number"},
        Refused{
            "SameUsbIdTwiceInAnotherCase", {"--port", "usb:10c4:ea60", "--port", "usb:10C4:EA60", "fw.hex"}, "twice"},
        Refused{"Speed", {"--port", "COM3", "--speed", "57600", "fw.hex"}, "57600"},
        Refused{"ModbusAddressZero", {"--port", "COM3", "--modbus", "0", "fw.hex"}, "1..247"},
        Refused{"ModbusAddressTooHigh", {"--port", "COM3", "--modbus", "248", "fw.hex"}, "1..247"},
        Refused{"ModbusAddressText", {"--port", "COM3", "--modbus", "five", "fw.hex"}, "five"},
        Refused{"ModbusOverUsb", {"--port", "COM3", "--speed", "usb", "--modbus", "5", "fw.hex"}, "usb"},
        Refused{"TimeoutZero", {"--port", "COM3", "--timeout", "0", "fw.hex"}, "timeout"},
        Refused{"RetriesNegative", {"--port", "COM3", "--retries", "-1", "fw.hex"}, "retries"},
        Refused{"RetriesText", {"--port", "COM3", "--retries", "twice", "fw.hex"}, "retries"},
        Refused{"RetriesTooMany", {"--port", "COM3", "--retries", "101", "fw.hex"}, "retries"},
        Refused{"RetriesWithList", {"--list", "--retries", "1"}, "--retries"},
        Refused{"TimeoutNegative", {"--port", "COM3", "--timeout", "-1", "fw.hex"}, "timeout"},
        Refused{"TimeoutText", {"--port", "COM3", "--timeout", "soon", "fw.hex"}, "timeout"},
        Refused{"TimeoutInfinite", {"--port", "COM3", "--timeout", "inf", "fw.hex"}, "timeout"},
        Refused{"VerifyOnlyWithoutFile", {"--port", "COM3", "--verify-only"}, "file"},
        Refused{"QueryVersionWithFile", {"--port", "COM3", "--query-version", "fw.hex"}, "stands alone"},
        Refused{"QueryVersionWithInstall", {"--port", "COM3", "--query-version", "--install"}, "stands alone"},
        Refused{"SetAddressWithoutModbus", {"--port", "COM3", "--set-address", "9"}, "--modbus"},
        Refused{"SetAddressDuringSearch", {"--port", "COM3", "--modbus", "search", "--set-address", "9"}, "--modbus"},
        Refused{"SetAddressOutOfRange", {"--port", "COM3", "--modbus", "5", "--set-address", "256"}, "1..247"},
        Refused{
            "SetAddressWithFile", {"--port", "COM3", "--modbus", "5", "--set-address", "9", "fw.hex"}, "stands alone"},
        Refused{"ListWithPort", {"--list", "--port", "COM3"}, "--list"},
        Refused{"ListWithFile", {"--list", "fw.hex"}, "--list"},
        Refused{"ListWithNoCheck", {"--list", "--no-check"}, "--list"},
        Refused{"CheckWithPort", {"--check", "--port", "COM3", "fw.hex"}, "--check takes only the file"},
        Refused{"CheckWithDryRun", {"--check", "--dry-run", "fw.hex"}, "--dry-run"},
        Refused{"CheckWithNoCheck", {"--check", "--no-check", "fw.hex"}, "--no-check"},
        Refused{"CheckWithList", {"--check", "--list", "fw.hex"}, "--list"},
        Refused{"CheckWithoutFile", {"--check"}, "needs the file"},
        Refused{"NoCheckWithoutFile", {"--port", "COM3", "--no-check", "--query-version"}, "--no-check"}),
    [](const ::testing::TestParamInfo<Refused>& info) { return std::string(info.param.name); });

TEST(Options, HelpAndVersionAreNotRuns) {
    const CommandLine help = parse({"--help"});
    EXPECT_EQ(help.kind, Kind::Help);
    for (const char* option : {"--port", "--speed", "--modbus", "--verify-only", "--install", "--query-version",
                               "--set-address", "--timeout", "--retries", "--trace", "--list", "--quiet", "--fast",
                               "--report", "--dry-run", "--dry-run-with", "--check", "--no-check"})
        EXPECT_TRUE(help.text.contains(QLatin1String(option))) << option;
    EXPECT_EQ(parse({"--version"}).kind, Kind::Version);
}

TEST(Options, CheckIsNoRunAndTakesTheFileAndQuiet) {
    const CommandLine check = parse({"--check", "fw.hex"});
    ASSERT_EQ(check.kind, Kind::Check) << check.text.toStdString();
    EXPECT_EQ(check.options.file, QStringLiteral("fw.hex"));
    EXPECT_FALSE(check.options.quiet);
    const CommandLine quiet = parse({"-q", "--check", "fw.hex"});
    ASSERT_EQ(quiet.kind, Kind::Check) << quiet.text.toStdString();
    EXPECT_TRUE(quiet.options.quiet);
}

}  // namespace
}  // namespace vantrel::flasher
