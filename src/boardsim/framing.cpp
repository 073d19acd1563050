#include "boardsim/framing.h"

#include "boardsim/crc16.h"

namespace vantrel::boardsim {
namespace {

constexpr std::size_t kCrcSize = 2;
constexpr std::size_t kSmallestTerminatedFrame = 5;  // address, CR, LF, CRC
constexpr std::size_t kSmallestFrame = 4;            // address, one byte, CRC

bool endsFrame(std::string_view bytes, std::uint16_t crcOverAll) {
    if (crcOverAll != 0 || bytes.size() < kSmallestTerminatedFrame) return false;
    const std::size_t end = bytes.size() - kCrcSize;
    return bytes[end - 2] == '\r' && bytes[end - 1] == '\n';
}

struct Found {
    std::size_t begin;
    std::size_t end;
};

// The earliest CR LF terminated frame starting at or after `from`.
std::optional<Found> findFrame(std::string_view bytes, std::size_t from) {
    for (std::size_t begin = from; begin < bytes.size(); ++begin) {
        std::uint16_t crc = 0xFFFF;
        for (std::size_t end = begin; end < bytes.size(); ++end) {
            crc = crc16Modbus(bytes.substr(end, 1), crc);
            if (endsFrame(bytes.substr(begin, end + 1 - begin), crc)) return Found{begin, end + 1};
        }
    }
    return std::nullopt;
}

}  // namespace

std::string buildFrame(std::uint8_t address, std::string_view payload) {
    std::string frame(1, static_cast<char>(address));
    frame.append(payload);
    const std::uint16_t crc = crc16Modbus(frame);
    frame.push_back(static_cast<char>(crc & 0xFFU));
    frame.push_back(static_cast<char>(crc >> 8));
    return frame;
}

std::vector<Piece> LineSplitter::push(char byte) {
    buffer_.push_back(byte);
    if (buffer_.ends_with("\r\n")) {
        std::vector<Piece> out{Piece{Piece::Kind::Command, std::move(buffer_)}};
        buffer_.clear();
        return out;
    }
    if (buffer_.size() > limit_) {
        std::vector<Piece> out{Piece{Piece::Kind::Overflow, std::move(buffer_)}};
        buffer_.clear();
        return out;
    }
    return {};
}

std::vector<Piece> FrameAssembler::push(char byte) {
    buffer_.push_back(byte);
    runningCrc_ = crc16Modbus(std::string_view(&byte, 1), runningCrc_);
    if (endsFrame(buffer_, runningCrc_)) {
        std::vector<Piece> out{Piece{Piece::Kind::Command, std::move(buffer_)}};
        clear();
        return out;
    }
    // A stream of noise with no pause must not grow without bound.
    if (buffer_.size() > limit_) return settle();
    return {};
}

std::vector<Piece> FrameAssembler::settle() {
    std::vector<Piece> out;
    const std::string_view bytes = buffer_;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const std::string_view rest = bytes.substr(pos);
        if (rest.size() >= kSmallestFrame && crc16Modbus(rest) == 0) {
            out.push_back(Piece{Piece::Kind::Command, std::string(rest)});
            pos = bytes.size();
            break;
        }
        const auto found = findFrame(bytes, pos);
        if (!found) break;
        if (found->begin > pos) {
            out.push_back(Piece{Piece::Kind::Garbage, std::string(bytes.substr(pos, found->begin - pos))});
        }
        out.push_back(Piece{Piece::Kind::Command, std::string(bytes.substr(found->begin, found->end - found->begin))});
        pos = found->end;
    }
    if (pos < bytes.size()) out.push_back(Piece{Piece::Kind::Garbage, std::string(bytes.substr(pos))});
    clear();
    return out;
}

void FrameAssembler::clear() {
    buffer_.clear();
    runningCrc_ = 0xFFFF;
}

std::string_view framePayload(std::string_view frame) {
    if (frame.size() < 1 + kCrcSize) return {};
    return frame.substr(1, frame.size() - 1 - kCrcSize);
}

std::string_view stripLineEnd(std::string_view text) {
    if (text.ends_with("\r\n")) text.remove_suffix(2);
    return text;
}

}  // namespace vantrel::boardsim
