#include <ostream>

#include <gtest/gtest.h>

#include "boardsim/crc16.h"
#include "boardsim/framing.h"
#include "boardsim/log_line.h"

namespace vantrel::boardsim {

bool operator==(const Piece& a, const Piece& b) {
    return a.kind == b.kind && a.bytes == b.bytes;
}

void PrintTo(const Piece& piece, std::ostream* out) {
    static constexpr const char* kKinds[] = {"Command", "Garbage", "Overflow"};
    *out << kKinds[static_cast<int>(piece.kind)] << "(" << toHex(piece.bytes) << ")";
}

namespace {

std::string bytes(std::initializer_list<unsigned char> values) {
    return std::string(values.begin(), values.end());
}

TEST(Crc16Modbus, MatchesTheStandardCheckValue) {
    EXPECT_EQ(crc16Modbus("123456789"), 0x4B37);
}

TEST(Crc16Modbus, ContinuesAcrossBlocks) {
    EXPECT_EQ(crc16Modbus("6789", crc16Modbus("12345")), 0x4B37);
}

struct FrameCase {
    const char* name;
    std::uint8_t address;
    std::string payload;
    std::string wire;
};

void PrintTo(const FrameCase& c, std::ostream* out) {
    *out << c.name;
}

class ModbusFrame : public ::testing::TestWithParam<FrameCase> {};

TEST_P(ModbusFrame, BuildsTheBytesOnTheWire) {
    EXPECT_EQ(toHex(buildFrame(GetParam().address, GetParam().payload)), toHex(GetParam().wire));
}

// The assembler relies on a whole frame, CRC included, having a CRC of zero.
TEST_P(ModbusFrame, WholeFrameHasZeroCrc) {
    EXPECT_EQ(crc16Modbus(GetParam().wire), 0);
}

INSTANTIATE_TEST_SUITE_P(Examples, ModbusFrame,
                         ::testing::Values(FrameCase{"VersionQuery", 1, "BOOTi\r\n",
                                                     bytes({0x01, 0x42, 0x4F, 0x4F, 0x54, 0x69, 0x0D, 0x0A, 0xFC,
                                                            0x89})},
                                           FrameCase{"OkReply", 1, "BOK", bytes({0x01, 0x42, 0x4F, 0x4B, 0xD5, 0xCB})}),
                         [](const auto& info) { return std::string(info.param.name); });

// Frames as the loader writes them; f3 has CR LF inside its data so that a cut
// at the first CR LF plus two bytes would be wrong.
const std::string f1 = buildFrame(3, "BOOTi\r\n");
const std::string f2 = buildFrame(7, "BOOT:00000001FF\r\n");
const std::string f3 = buildFrame(3, "X\r\nYZ\r\n");
const std::string damaged = f1.substr(0, f1.size() - 1) + static_cast<char>(f1.back() ^ 0x01);

struct AssemblyCase {
    const char* name;
    std::string input;
    std::vector<Piece> onArrival;  // handed out as the bytes come in
    std::vector<Piece> onSettle;   // handed out once the line is quiet
};

void PrintTo(const AssemblyCase& c, std::ostream* out) {
    *out << c.name;
}

Piece command(std::string b) {
    return Piece{Piece::Kind::Command, std::move(b)};
}
Piece garbage(std::string b) {
    return Piece{Piece::Kind::Garbage, std::move(b)};
}

class FrameAssembly : public ::testing::TestWithParam<AssemblyCase> {};

TEST_P(FrameAssembly, CutsFramesOutOfTheStream) {
    FrameAssembler assembler;
    std::vector<Piece> arrived;
    for (char byte : GetParam().input) {
        for (Piece& piece : assembler.push(byte)) arrived.push_back(std::move(piece));
    }
    EXPECT_EQ(arrived, GetParam().onArrival);
    EXPECT_EQ(assembler.settle(), GetParam().onSettle);
    EXPECT_TRUE(assembler.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Streams, FrameAssembly,
    ::testing::Values(
        AssemblyCase{"WholeFrame", f1, {command(f1)}, {}},
        AssemblyCase{"FramesRunTogether", f1 + f2 + f1, {command(f1), command(f2), command(f1)}, {}},
        AssemblyCase{"FrameThenPartOfTheNext", f1 + f2.substr(0, 6), {command(f1)}, {garbage(f2.substr(0, 6))}},
        AssemblyCase{"LineEndInsideData", f3, {command(f3)}, {}},
        AssemblyCase{"BadCrcThenGoodFrame", damaged + f2, {}, {garbage(damaged), command(f2)}},
        AssemblyCase{"NoiseBeforeFrame", "\x55\xAA" + f1, {}, {garbage("\x55\xAA"), command(f1)}},
        AssemblyCase{"GoodCrcWithoutLineEnd", buildFrame(3, "BOOTi"), {}, {command(buildFrame(3, "BOOTi"))}},
        AssemblyCase{"OnlyNoise", bytes({0x01, 0x02, 0x03}), {}, {garbage(bytes({0x01, 0x02, 0x03}))}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FrameAssembly, EndlessNoiseIsDroppedWithoutAPause) {
    FrameAssembler assembler(64);
    std::vector<Piece> out;
    for (int i = 0; i < 65; ++i) {
        for (Piece& piece : assembler.push('\x55')) out.push_back(std::move(piece));
    }
    ASSERT_EQ(out.size(), 1U);
    EXPECT_EQ(out[0].kind, Piece::Kind::Garbage);
    EXPECT_TRUE(assembler.empty());
}

TEST(FramePayload, DropsAddressAndCrc) {
    EXPECT_EQ(framePayload(f1), "BOOTi\r\n");
    EXPECT_EQ(stripLineEnd(framePayload(f1)), "BOOTi");
}

struct LineCase {
    const char* name;
    std::string input;
    std::vector<Piece> pieces;
};

void PrintTo(const LineCase& c, std::ostream* out) {
    *out << c.name;
}

class LineSplitting : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineSplitting, EndsCommandsAtCrLfOnly) {
    LineSplitter splitter(16);
    std::vector<Piece> out;
    for (char byte : GetParam().input) {
        for (Piece& piece : splitter.push(byte)) out.push_back(std::move(piece));
    }
    EXPECT_EQ(out, GetParam().pieces);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, LineSplitting,
    ::testing::Values(LineCase{"OneLine", "BOOTi\r\n", {command("BOOTi\r\n")}},
                      LineCase{"TwoLines", "BOOTi\r\nVER\r\n", {command("BOOTi\r\n"), command("VER\r\n")}},
                      LineCase{"LoneLineFeedDoesNotEnd", "BOOTi\nVER\r\n", {command("BOOTi\nVER\r\n")}},
                      LineCase{"LoneReturnDoesNotEnd", "BOOTi\rVER\r\n", {command("BOOTi\rVER\r\n")}},
                      LineCase{"Unfinished", "BOOTi", {}},
                      LineCase{"TooLong",
                               "0123456789ABCDEFG\r\n",
                               {Piece{Piece::Kind::Overflow, "0123456789ABCDEFG"}, command("\r\n")}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vantrel::boardsim
