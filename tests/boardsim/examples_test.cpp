#include <fstream>
#include <ostream>

#include <gtest/gtest.h>

#include "simulator.h"

namespace boardsim {
namespace {

struct ExampleCase {
    const char* file;
    std::size_t dataBytes;  // bytes the image puts into flash
};

void PrintTo(const ExampleCase& c, std::ostream* out) {
    *out << c.file;
}

class ExampleImage : public ::testing::TestWithParam<ExampleCase> {};

std::vector<std::string> readLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (line.ends_with('\r')) line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

// What the loader does with a file: every line as a download command, then
// every line again with ':' made '#' as a verify command.
TEST_P(ExampleImage, DownloadsAndVerifies) {
    const auto lines = readLines(std::string(VANTREL_EXAMPLES_DIR) + "/" + GetParam().file);
    ASSERT_GE(lines.size(), 2U) << GetParam().file;
    Simulator sim(SimConfig{});
    for (const char mark : {':', '#'}) {
        for (std::size_t i = 0; i < lines.size(); ++i) {
            std::string line = lines[i];
            ASSERT_EQ(line[0], ':') << GetParam().file << " line " << i + 1;
            line[0] = mark;
            sim.receive(0, "BOOT" + line + "\r\n");
            const std::string reply = sim.takeDue(0);
            const bool last = i + 1 == lines.size();
            ASSERT_EQ(reply, last ? "DOWNLOAD\r\n" : "OK\r\n") << mark << " line " << i + 1 << ": " << lines[i];
        }
    }
    EXPECT_EQ(sim.board(0).storedBytes(), GetParam().dataBytes);
}

INSTANTIATE_TEST_SUITE_P(Files, ExampleImage,
                         ::testing::Values(ExampleCase{"blink.hex", 63}, ExampleCase{"medium.hex", 33600},
                                           ExampleCase{"large.hex", 0x14000}),
                         [](const auto& info) {
                             std::string name = info.param.file;
                             return name.substr(0, name.find('.'));
                         });

}  // namespace
}  // namespace boardsim
