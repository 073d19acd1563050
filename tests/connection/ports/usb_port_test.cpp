#include "connection/ports/usb_port.h"

#include <string>

#include <QStringList>

#include <gtest/gtest.h>

#include "common/failure.h"

namespace vantrel {
namespace {

SerialPortEntry usbPort(const char* device, quint16 vendor, quint16 product, const char* serial) {
    SerialPortEntry e;
    e.systemLocation = QString::fromLatin1(device);
    e.vendorId = vendor;
    e.productId = product;
    e.serialNumber = QString::fromLatin1(serial);
    return e;
}

SerialPortEntry builtIn(const char* device) {
    SerialPortEntry e;
    e.systemLocation = QString::fromLatin1(device);
    return e;
}

struct GoodForm {
    const char* name;
    const char* text;
    UsbPortId id;
};

void PrintTo(const GoodForm& c, std::ostream* os) {
    *os << c.text;
}

class UsbPortText : public ::testing::TestWithParam<GoodForm> {};

TEST_P(UsbPortText, GivesTheIdsAsListShowsThem) {
    QString why;
    const std::optional<UsbPortId> id = parseUsbPortId(QString::fromUtf8(GetParam().text), &why);
    ASSERT_TRUE(id) << why.toStdString();
    EXPECT_EQ(id->vendorId, GetParam().id.vendorId);
    EXPECT_EQ(id->productId, GetParam().id.productId);
    EXPECT_EQ(id->serialNumber, GetParam().id.serialNumber);
}

INSTANTIATE_TEST_SUITE_P(
    UsbPort, UsbPortText,
    ::testing::Values(GoodForm{"VendorAndProduct", "usb:0403:6001", UsbPortId{0x0403, 0x6001, std::nullopt}},
                      GoodForm{"WithSerial", "usb:0403:6001:A10K1XYZ",
                               UsbPortId{0x0403, 0x6001, QStringLiteral("A10K1XYZ")}},
                      GoodForm{"UpperCaseHex", "usb:10C4:EA60", UsbPortId{0x10c4, 0xea60, std::nullopt}},
                      GoodForm{"LowerCaseHex", "usb:10c4:ea60:0001", UsbPortId{0x10c4, 0xea60, QStringLiteral("0001")}},
                      GoodForm{"UpperCasePrefix", "USB:04d8:000a", UsbPortId{0x04d8, 0x000a, std::nullopt}},
                      GoodForm{"SerialKeepsItsCaseAndColons", "usb:ffff:0000:ab:Cd",
                               UsbPortId{0xffff, 0x0000, QStringLiteral("ab:Cd")}}),
    [](const auto& info) { return std::string(info.param.name); });

struct BadForm {
    const char* name;
    const char* text;
    const char* why;  // a part of the message
};

void PrintTo(const BadForm& c, std::ostream* os) {
    *os << c.text;
}

class BadUsbPortText : public ::testing::TestWithParam<BadForm> {};

TEST_P(BadUsbPortText, IsRefusedWithTheReasonAndTheForm) {
    QString why;
    EXPECT_FALSE(parseUsbPortId(QString::fromUtf8(GetParam().text), &why));
    EXPECT_TRUE(why.contains(QLatin1String(GetParam().why))) << why.toStdString();
    EXPECT_TRUE(why.contains(QLatin1String("usb:VID:PID"))) << why.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    UsbPort, BadUsbPortText,
    ::testing::Values(BadForm{"Empty", "usb:", "both needed"}, BadForm{"VendorOnly", "usb:0403", "both needed"},
                      BadForm{"ShortVendor", "usb:403:6001", "\"403\""},
                      BadForm{"LongVendor", "usb:04030:6001", "\"04030\""},
                      BadForm{"ShortProduct", "usb:0403:601", "\"601\""},
                      BadForm{"NotHex", "usb:04g3:6001", "\"04g3\""}, BadForm{"HexPrefix", "usb:0x03:6001", "\"0x03\""},
                      BadForm{"NoVendor", "usb::6001", "\"\""}, BadForm{"Dash", "usb:0403-6001", "both needed"},
                      BadForm{"Blank", "usb: 0403:6001", "\" 0403\""},
                      BadForm{"EmptySerial", "usb:0403:6001:", "serial number"}),
    [](const auto& info) { return std::string(info.param.name); });

// The ports of a machine with two FTDI adapters, a CP2102 and a built-in port.
QList<SerialPortEntry> machine() {
    return {builtIn("/dev/ttyS0"), usbPort("/dev/ttyUSB0", 0x0403, 0x6001, "A10K1XYZ"),
            usbPort("/dev/ttyUSB1", 0x0403, 0x6001, "A10K2ABC"), usbPort("/dev/ttyUSB2", 0x10c4, 0xea60, "0001")};
}

struct Resolution {
    const char* name;
    const char* text;
    bool waitsForPort;  // --speed usb
    std::optional<UsbPortProblem::Kind> kind;
    QStringList said;  // parts of the message
};

void PrintTo(const Resolution& c, std::ostream* os) {
    *os << c.name;
}

class UsbPortOnAMachine : public ::testing::TestWithParam<Resolution> {};

TEST_P(UsbPortOnAMachine, IsOneDeviceOrSaysWhichAreThere) {
    const QString label = QString::fromUtf8(GetParam().text);
    const std::optional<UsbPortId> id = parseUsbPortId(label, nullptr);
    ASSERT_TRUE(id);
    const std::optional<UsbPortProblem> problem = usbPortProblem(label, *id, machine(), GetParam().waitsForPort);
    ASSERT_EQ(problem.has_value(), GetParam().kind.has_value()) << (problem ? problem->message.toStdString() : "");
    if (!problem) return;
    EXPECT_EQ(problem->kind, *GetParam().kind);
    for (const QString& part : GetParam().said)
        EXPECT_TRUE(problem->message.contains(part)) << part.toStdString() << " in " << problem->message.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    UsbPort, UsbPortOnAMachine,
    ::testing::Values(
        Resolution{"OneMatchBySerial", "usb:0403:6001:A10K2ABC", false, std::nullopt, {}},
        Resolution{"OneMatchWithoutSerial", "usb:10c4:EA60", false, std::nullopt, {}},
        Resolution{"NoneIsAPortNotOpenedWithTheCandidates",
                   "usb:04d8:000a",
                   false,
                   UsbPortProblem::Kind::None,
                   {"usb:04d8:000a", "USB id 04d8:000a", "/dev/ttyS0",
                    "/dev/ttyUSB0  USB id 0403:6001  serial number A10K1XYZ",
                    "/dev/ttyUSB2  USB id 10c4:ea60  serial number 0001"}},
        Resolution{"AnUnknownSerialIsNone",
                   "usb:0403:6001:a10k1xyz",
                   false,
                   UsbPortProblem::Kind::None,
                   {"serial number a10k1xyz", "/dev/ttyUSB0"}},
        Resolution{"NoneIsWhatTheUsbScanWaitsFor", "usb:04d8:000a", true, std::nullopt, {}},
        Resolution{"SeveralIsAUsageErrorListingThem",
                   "usb:0403:6001",
                   false,
                   UsbPortProblem::Kind::Several,
                   {"usb:0403:6001 matches 2", "/dev/ttyUSB0  USB id 0403:6001  serial number A10K1XYZ",
                    "/dev/ttyUSB1  USB id 0403:6001  serial number A10K2ABC"}},
        Resolution{
            "SeveralIsAUsageErrorWhenWaitingToo", "usb:0403:6001", true, UsbPortProblem::Kind::Several, {"matches 2"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UsbPort, TheResolverLooksAtEveryCallAndFindsAPortThatAppearsLate) {
    int calls = 0;
    const PortResolver resolve =
        usbPortResolver(*parseUsbPortId(QStringLiteral("usb:0403:6001:A10K1XYZ"), nullptr),
                        QStringLiteral("usb:0403:6001:A10K1XYZ"), [&calls] {
                            ++calls;
                            // The board is powered at the third attempt.
                            return calls < 3 ? QList<SerialPortEntry>{builtIn("/dev/ttyS0")} : machine();
                        });
    for (int attempt = 1; attempt <= 2; ++attempt) {
        try {
            resolve(1);
            ADD_FAILURE() << "attempt " << attempt << " found a port that is not there";
        } catch (const Failure& f) {
            EXPECT_TRUE(f.description().contains(QStringLiteral("usb:0403:6001:A10K1XYZ")))
                << f.description().toStdString();
        }
    }
    const PortLocation found = resolve(1);
    EXPECT_EQ(found.device, QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(found.name, QStringLiteral("usb:0403:6001:A10K1XYZ")) << "named as given";
    EXPECT_EQ(calls, 3);
    EXPECT_TRUE(resolve(2).device.isEmpty()) << "only port 1 leads anywhere";
}

TEST(UsbPort, TheResolverRefusesToChooseBetweenSeveral) {
    const PortResolver resolve = usbPortResolver(*parseUsbPortId(QStringLiteral("usb:0403:6001"), nullptr),
                                                 QStringLiteral("usb:0403:6001"), [] { return machine(); });
    try {
        resolve(1);
        ADD_FAILURE() << "one of several was taken";
    } catch (const Failure& f) {
        EXPECT_TRUE(f.description().contains(QStringLiteral("/dev/ttyUSB0"))) << f.description().toStdString();
        EXPECT_TRUE(f.description().contains(QStringLiteral("/dev/ttyUSB1"))) << f.description().toStdString();
    }
}

}  // namespace
}  // namespace vantrel
