#include "boardsim/board.h"

#include "boardsim/hex_record.h"

namespace vantrel::boardsim {
namespace {

constexpr std::uint8_t kErased = 0xFF;
constexpr int kLowestAddress = 1;
constexpr int kHighestAddress = 247;  // Modbus reserves 0 (broadcast) and 248..255

Outcome withReply(CommandKind kind, std::string_view text) {
    return Outcome{kind, std::string(text), false};
}

int upperHexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

Board::Board(int address, BoardIdentity identity) : address_(address), identity_(std::move(identity)) {}

Outcome Board::handle(std::string_view command) {
    if (command.empty()) return Outcome{CommandKind::Empty, std::nullopt, false};

    if (command.starts_with("BOOT")) {
        // A running application hands any BOOT command back to the bootloader,
        // so the loader can start over without a power cycle.
        applicationRunning_ = false;
        const std::string_view rest = command.substr(4);
        if (rest == "i") return withReply(CommandKind::BootVersion, "VER=" + identity_.bootVersion + "\r\n");
        if (rest == "g") {
            applicationRunning_ = true;
            base_ = 0;
            return Outcome{CommandKind::Install, std::nullopt, false};
        }
        if (rest.starts_with(':')) return record(rest.substr(1), false);
        if (rest.starts_with('#')) return record(rest.substr(1), true);
        if (rest.starts_with('$')) return setAddress(rest.substr(1));
        return withReply(CommandKind::UnknownBoot, replies::kFormat);
    }

    if (command == "VER" && applicationRunning_) {
        return withReply(CommandKind::AppVersion, "VER=" + identity_.appVersion + "\r\n");
    }
    // The bootloader listens for its BOOT keyword only; other traffic (and
    // anything the application does not know) goes unanswered.
    return Outcome{CommandKind::Foreign, std::nullopt, false};
}

Outcome Board::record(std::string_view digits, bool verify) {
    const CommandKind kind = verify ? CommandKind::Verify : CommandKind::Download;
    const RecordParse parsed = parseRecord(digits);
    if (!parsed.record) return withReply(kind, replies::kFormat);
    const HexRecord& rec = *parsed.record;

    switch (rec.type) {
        case RecordType::EndOfFile:
            base_ = 0;
            return Outcome{kind, std::string(replies::kDownload), true};
        case RecordType::ExtendedSegmentAddress:
            base_ = static_cast<std::uint32_t>(rec.data[0] << 8 | rec.data[1]) << 4;
            break;
        case RecordType::ExtendedLinearAddress:
            base_ = static_cast<std::uint32_t>(rec.data[0] << 8 | rec.data[1]) << 16;
            break;
        case RecordType::StartSegmentAddress:
        case RecordType::StartLinearAddress:
            break;  // a PIC starts at its reset vector; nothing to keep
        case RecordType::Data: {
            bool same = true;
            for (std::size_t i = 0; i < rec.data.size(); ++i) {
                // Offsets wrap inside the 64 KiB window, as Intel HEX defines.
                const std::uint32_t at = base_ + ((rec.offset + i) & 0xFFFFU);
                if (verify) {
                    const auto found = flash_.find(at);
                    const std::uint8_t stored = found == flash_.end() ? kErased : found->second;
                    same = same && stored == rec.data[i];
                } else {
                    flash_[at] = rec.data[i];
                }
            }
            if (!same) return withReply(kind, replies::kError);
            break;
        }
    }
    return withReply(kind, replies::kOk);
}

Outcome Board::setAddress(std::string_view digits) {
    if (digits.size() != 2 || upperHexValue(digits[0]) < 0 || upperHexValue(digits[1]) < 0) {
        return withReply(CommandKind::SetAddress, replies::kFormat);
    }
    const int value = upperHexValue(digits[0]) * 16 + upperHexValue(digits[1]);
    if (value < kLowestAddress || value > kHighestAddress) return withReply(CommandKind::SetAddress, replies::kFormat);
    address_ = value;
    return withReply(CommandKind::SetAddress, "ADR=" + std::string(digits) + "\r\n");
}

std::optional<std::uint8_t> Board::byteAt(std::uint32_t address) const {
    const auto found = flash_.find(address);
    if (found == flash_.end()) return std::nullopt;
    return found->second;
}

void Board::powerCycle() {
    base_ = 0;
    applicationRunning_ = false;
}

}  // namespace vantrel::boardsim
