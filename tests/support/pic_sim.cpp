#include "pic_sim.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

namespace vantrel::testing {
namespace {

using Clock = std::chrono::steady_clock;

std::optional<std::vector<std::uint8_t>> hexBytes(std::string_view digits) {
    if (digits.size() % 2 != 0) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        unsigned value = 0;
        for (const char c : digits.substr(i, 2)) {
            value <<= 4;
            if (c >= '0' && c <= '9')
                value |= static_cast<unsigned>(c - '0');
            else if (c >= 'A' && c <= 'F')
                value |= static_cast<unsigned>(c - 'A' + 10);
            else if (c >= 'a' && c <= 'f')
                value |= static_cast<unsigned>(c - 'a' + 10);
            else
                return std::nullopt;
        }
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return bytes;
}

}  // namespace

PicSim::PicSim(std::vector<std::string> arguments) : arguments_(std::move(arguments)) {}

PicSim::~PicSim() {
    stop();
    if (!tempDir_.empty()) std::filesystem::remove_all(tempDir_);
}

std::string PicSim::executable() {
    return VANTREL_PICSIM_PATH;
}

std::string PicSim::firmwareDir() {
    return VANTREL_FIRMWARE_DIR;
}

void PicSim::setAlias(std::string portsDir, int comNumber) {
    aliasPath_ = portsDir + "/com" + std::to_string(comNumber);
    arguments_.push_back("--ports-dir");
    arguments_.push_back(std::move(portsDir));
    arguments_.push_back("--com");
    arguments_.push_back(std::to_string(comNumber));
}

bool PicSim::start(std::chrono::milliseconds timeout) {
    if (running()) return true;
    error_.clear();
    std::vector<std::string> arguments = arguments_;
    const auto namedLog = optionValue(arguments, "--log");
    const auto namedDump = optionValue(arguments, "--flash-out");
    if ((!namedLog || !namedDump) && tempDir_.empty()) {
        tempDir_ = makeTempDir("picsim");
        if (tempDir_.empty()) {
            error_ = "cannot make a temporary folder";
            return false;
        }
    }
    logPath_ = namedLog ? *namedLog : tempDir_ + "/picsim.log";
    if (!namedLog) arguments.insert(arguments.end(), {"--log", logPath_});
    flashOutPath_ = namedDump ? *namedDump : tempDir_ + "/flash-out.hex";
    if (!namedDump) arguments.insert(arguments.end(), {"--flash-out", flashOutPath_});

    const std::string program = executable();
    if (!child_.start(program, std::move(arguments))) {
        error_ = child_.error();
        return false;
    }
    const auto deadline = Clock::now() + timeout;
    if (const auto line = child_.waitForLine("READY ", deadline)) {
        readyLine_ = *line;
        ptyPath_ = ptyOfLine(*line);
        return true;
    }
    error_ = "no READY line from " + program + (Clock::now() >= deadline ? " in time" : " (it exited)");
    stop();
    return false;
}

int PicSim::stop(std::chrono::milliseconds timeout) {
    return child_.stop(timeout);
}

PicSim::Memory PicSim::flashOut() const {
    return readHexMemory(flashOutPath_).value_or(Memory{});
}

PicSim::Log PicSim::log() const {
    return readLogFile(logPath_);
}

bool PicSim::waitForLog(const std::function<bool(const Log&)>& done, std::chrono::milliseconds timeout) const {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (done(log())) return true;
        if (Clock::now() >= deadline) return false;
        // The log has no change notification; re-read it a little later.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::optional<PicSim::Memory> readHexMemory(const std::string& path) {
    std::ifstream in(path);
    if (!in) return std::nullopt;
    PicSim::Memory memory;
    std::uint32_t base = 0;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        if (line[0] != ':') return std::nullopt;
        const auto bytes = hexBytes(std::string_view(line).substr(1));
        if (!bytes || bytes->size() < 5 || bytes->size() != 5u + (*bytes)[0]) return std::nullopt;
        unsigned sum = 0;
        for (const std::uint8_t b : *bytes) sum += b;
        if ((sum & 0xFF) != 0) return std::nullopt;
        const std::uint32_t offset = (static_cast<std::uint32_t>((*bytes)[1]) << 8) | (*bytes)[2];
        const std::uint8_t type = (*bytes)[3];
        const auto data = [&](std::size_t i) { return static_cast<std::uint32_t>((*bytes)[4 + i]); };
        if (type == 0x00) {
            for (std::size_t i = 0; i < (*bytes)[0]; ++i) memory[base + offset + i] = (*bytes)[4 + i];
        } else if (type == 0x01) {
            break;
        } else if (type == 0x02 && (*bytes)[0] == 2) {
            base = ((data(0) << 8) | data(1)) << 4;
        } else if (type == 0x04 && (*bytes)[0] == 2) {
            base = ((data(0) << 8) | data(1)) << 16;
        }
    }
    return memory;
}

}  // namespace vantrel::testing
