#include "boardsim/simulator.h"

#include <algorithm>

namespace vantrel::boardsim {
namespace {

constexpr Micros kMicrosPerSecond = 1'000'000;
constexpr Micros kMicrosPerMilli = 1000;
constexpr long kBitsPerByte = 10;  // start, 8 data, stop

}  // namespace

Simulator::Simulator(SimConfig config, LogSink log)
    : config_(std::move(config)), log_(std::move(log)), lines_(config_.lineLimit), noise_(config_.faults.noiseSeed) {
    if (config_.modbus) {
        for (int address : config_.addresses) boards_.emplace_back(address, config_.identity);
    } else {
        boards_.emplace_back(0, config_.identity);
    }
    // A board that already holds an image took its records once; the end of
    // the file leaves it in its bootloader, as after a download.
    for (Board& board : boards_) {
        for (const std::string& record : config_.flashedRecords) board.handle("BOOT" + record);
        board.powerCycle();
    }
}

Micros Simulator::frameGap() const {
    // At very slow rates the bytes of one frame come further apart than the gap.
    return std::max(config_.frameGap, 4 * byteTime());
}

Micros Simulator::byteTime() const {
    if (config_.baud <= 0) return 0;
    return (kBitsPerByte * kMicrosPerSecond + config_.baud / 2) / config_.baud;
}

void Simulator::setHostSpeed(Micros now, long bitsPerSecond) {
    if (bitsPerSecond == hostSpeed_) return;
    hostSpeed_ = bitsPerSecond;
    if (config_.lineSpeed > 0)
        note(now, "host at " + std::to_string(bitsPerSecond) + " bit/s, boards at " +
                      std::to_string(config_.lineSpeed) + (bitsPerSecond == config_.lineSpeed ? "" : ": not heard"));
}

void Simulator::receive(Micros now, std::string_view bytes) {
    if (unplugRequested_) return;  // the port is on its way out
    // At the wrong speed every byte is framing errors to the UART: nothing
    // that starts a command, so nothing is answered.
    if (config_.lineSpeed > 0 && hostSpeed_ != config_.lineSpeed) return;
    // Each byte is cut into the stream at once, stamped with the time its
    // last bit arrives; what it completes waits for that time in pieces_.
    // So the boards wake once per command, not once per byte.
    const Micros step = byteTime();
    for (char byte : bytes) {
        Micros at = now;
        if (step > 0) {
            lineFreeIn_ = std::max(lineFreeIn_, now) + step;
            at = lineFreeIn_;
        }
        deliver(at, byte);
    }
    advance(now);
}

void Simulator::advance(Micros now) {
    while (!pieces_.empty() && pieces_.front().first <= now && !unplugRequested_) {
        const auto [at, piece] = std::move(pieces_.front());
        pieces_.pop_front();
        handlePiece(at, piece);
    }
    if (unplugRequested_) pieces_.clear();
    if (config_.modbus && !frames_.empty() && now >= lastByteAt_ + frameGap()) {
        settle(lastByteAt_ + frameGap());
        advance(now);
    }
}

void Simulator::deliver(Micros at, char byte) {
    if (!config_.modbus) {
        for (Piece& piece : lines_.push(byte)) pieces_.emplace_back(at, std::move(piece));
        return;
    }
    // A pause longer than the frame gap ends whatever came before it.
    if (!frames_.empty() && at >= lastByteAt_ + frameGap()) settle(lastByteAt_ + frameGap());
    lastByteAt_ = at;
    for (Piece& piece : frames_.push(byte)) pieces_.emplace_back(at, std::move(piece));
}

void Simulator::settle(Micros at) {
    for (Piece& piece : frames_.settle()) pieces_.emplace_back(at, std::move(piece));
}

void Simulator::handlePiece(Micros at, const Piece& piece) {
    if (unplugRequested_) return;
    switch (piece.kind) {
        case Piece::Kind::Overflow:
            writeLog(LogEntry{at, "IG", std::nullopt, piece.bytes, "overflow"});
            return;
        case Piece::Kind::Garbage:
            writeLog(LogEntry{at, "IG", static_cast<unsigned char>(piece.bytes[0]), piece.bytes, "bad-frame"});
            return;
        case Piece::Kind::Command:
            break;
    }
    if (!config_.modbus) {
        command(at, boards_.front(), piece.bytes);
        return;
    }
    const int address = static_cast<unsigned char>(piece.bytes[0]);
    // Address changes take effect after the reply, so pick the boards first.
    std::vector<Board*> addressed;
    for (Board& board : boards_) {
        if (board.address() == address) addressed.push_back(&board);
    }
    if (addressed.empty()) {
        writeLog(LogEntry{at, "IG", address, piece.bytes, "other-address"});
        return;
    }
    for (Board* board : addressed) command(at, *board, framePayload(piece.bytes));
}

void Simulator::command(Micros at, Board& board, std::string_view received) {
    if (unplugRequested_) return;
    const int address = board.address();
    writeLog(LogEntry{at, "RX", logAddress(address), std::string(received), {}});

    const Outcome outcome = board.handle(stripLineEnd(received));
    std::optional<std::string> reply = outcome.reply;
    long record = 0;
    if (outcome.isRecord()) {
        record = ++records_;
        if (outcome.kind == CommandKind::Verify) {
            const long verify = ++verifies_;
            if (config_.faults.errorVerifies.contains(verify)) {
                reply = std::string(replies::kError);
                note(at, "fault error-at-verify " + std::to_string(verify), logAddress(address));
            }
        }
        if (config_.faults.silentRecords.contains(record)) {
            reply.reset();
            note(at, "fault no-reply-record " + std::to_string(record), logAddress(address));
        }
    }
    if (reply && config_.faults.okBeforeDownload > 0 && *reply == replies::kDownload) {
        note(at, "fault ok-before-download", logAddress(address));
        queueReply(at, address, std::string(replies::kOk));
        queueReply(at + config_.faults.okBeforeDownload, address, *reply);
    } else if (reply) {
        queueReply(at, address, *reply);
    }
    if (record != 0 && record == config_.faults.unplugAfterRecord) {
        unplugRequested_ = true;
        pieces_.clear();
        lines_.clear();
        frames_.clear();
        note(at, "fault unplug-after " + std::to_string(record), logAddress(address));
    }
}

void Simulator::queueReply(Micros at, int address, const std::string& text) {
    const long number = ++replies_;
    const Faults& faults = config_.faults;
    const std::optional<int> logged = logAddress(address);
    if (faults.droppedReplies.contains(number)) {
        note(at, "fault drop-reply " + std::to_string(number), logged);
        return;
    }
    std::string reply = text;
    if (const auto instead = faults.replacedReplies.find(number); instead != faults.replacedReplies.end()) {
        reply = instead->second + "\r\n";
        note(at, "fault replace-reply " + std::to_string(number) + " " + instead->second, logged);
    }
    std::string wire = reply;
    if (config_.modbus) {
        wire = buildFrame(static_cast<std::uint8_t>(address), "B" + reply);
        if (faults.damagedReplies.contains(number)) {
            wire[wire.size() - 2] = static_cast<char>(~wire[wire.size() - 2]);
            wire[wire.size() - 1] = static_cast<char>(~wire[wire.size() - 1]);
            note(at, "fault bad-crc-reply " + std::to_string(number), address);
        }
    }
    if (faults.doubledReplies.contains(number)) {
        wire += wire;
        note(at, "fault double-reply " + std::to_string(number), logged);
    }

    // Each byte with the extra wait in front of it; noise bytes travel with
    // the reply byte they precede, so a split stays between reply bytes.
    struct WireByte {
        char byte;
        Micros pause = 0;
    };
    std::vector<WireByte> bytes;
    bytes.reserve(wire.size());
    for (char byte : wire) bytes.push_back({byte});

    const auto split = faults.splitReplies.find(number);
    const std::optional<ReplySplit> cut = split != faults.splitReplies.end() ? split->second : faults.splitEveryReply;
    if (cut && cut->after > 0 && cut->after < bytes.size()) {
        bytes[cut->after].pause = cut->pause;
        note(at,
             "fault split-reply " + std::to_string(number) + " after byte " + std::to_string(cut->after) + " for " +
                 std::to_string(cut->pause / kMicrosPerMilli) + " ms",
             logged);
    }

    std::vector<WireByte> sent;
    sent.reserve(bytes.size());
    if (const auto before = faults.noiseBeforeReplies.find(number); before != faults.noiseBeforeReplies.end()) {
        std::string junk;
        for (int i = 0; i < before->second; ++i) junk.push_back(static_cast<char>(noise_() & 0xFFU));
        for (char byte : junk) sent.push_back({byte});
        note(at, "fault noise-before-reply " + std::to_string(number) + " " + toHex(junk), logged);
    }
    const auto threshold = static_cast<std::uint32_t>(faults.noisePercent * 100.0);
    std::string added;
    for (const WireByte& out : bytes) {
        if (faults.noisePercent > 0 && noise_() % 10000U < threshold) {
            const auto junk = static_cast<char>(noise_() & 0xFFU);
            sent.push_back({junk, out.pause});
            added.push_back(junk);
            sent.push_back({out.byte});
        } else {
            sent.push_back(out);
        }
    }
    if (!added.empty()) note(at, "fault noise " + toHex(added) + " in reply " + std::to_string(number), logged);

    const Micros wireTime = byteTime();
    const Micros step = std::max(faults.dribbleGap, wireTime);
    if (const auto late = faults.lateReplies.find(number); late != faults.lateReplies.end()) {
        // Out of the line's order: its bytes go in among the others by time.
        note(at,
             "fault late-reply " + std::to_string(number) + " by " + std::to_string(late->second / kMicrosPerMilli) +
                 " ms",
             logged);
        Micros when = at + faults.replyDelay + late->second + wireTime;
        for (std::size_t i = 0; i < sent.size(); ++i) {
            if (i > 0) when += std::max(step, sent[i].pause);
            OutByte out{when, sent[i].byte, std::nullopt};
            if (i == 0) out.log = LogEntry{0, "TX", logged, reply, {}};
            const auto place = std::upper_bound(output_.begin(), output_.end(), when,
                                                [](Micros t, const OutByte& b) { return t < b.at; });
            output_.insert(place, std::move(out));
        }
        return;
    }
    Micros when = std::max(at + faults.replyDelay, lineFreeOut_) + wireTime;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        if (i > 0) when += std::max(step, sent[i].pause);
        OutByte out{when, sent[i].byte, std::nullopt};
        if (i == 0) out.log = LogEntry{0, "TX", logged, reply, {}};
        // Behind everything due no later; only a late reply can be due later.
        if (output_.empty() || output_.back().at <= when) {
            output_.push_back(std::move(out));
        } else {
            const auto place = std::upper_bound(output_.begin(), output_.end(), when,
                                                [](Micros t, const OutByte& b) { return t < b.at; });
            output_.insert(place, std::move(out));
        }
    }
    // The next reply keeps the same pace: its first byte one step after our last.
    lineFreeOut_ = when + (step - wireTime);
}

std::string Simulator::takeDue(Micros now) {
    std::string due;
    while (!output_.empty() && output_.front().at <= now) {
        OutByte& out = output_.front();
        if (out.log) {
            out.log->at = now;
            writeLog(std::move(*out.log));
        }
        due.push_back(out.byte);
        output_.pop_front();
    }
    return due;
}

std::optional<Micros> Simulator::nextDeadline(Micros gather) const {
    std::optional<Micros> next;
    auto consider = [&next](Micros at) { next = next ? std::min(*next, at) : at; };
    if (!pieces_.empty()) consider(pieces_.front().first);
    if (!output_.empty()) {
        // Bytes that follow one another on the wire may gather: the last of
        // them within `gather` of the first is when they go together.
        const Micros first = output_.front().at;
        Micros last = first;
        for (std::size_t i = 1; i < output_.size(); ++i) {
            const Micros at = output_[i].at;
            if (at - output_[i - 1].at > byteTime() || at - first > gather) break;
            last = at;
        }
        consider(last);
    }
    if (config_.modbus && !frames_.empty()) consider(lastByteAt_ + frameGap());
    return next;
}

void Simulator::reconnect(Micros now) {
    pieces_.clear();
    output_.clear();
    lines_.clear();
    frames_.clear();
    lineFreeIn_ = lineFreeOut_ = lastByteAt_ = now;
    unplugRequested_ = false;
    for (Board& board : boards_) board.powerCycle();
}

void Simulator::note(Micros now, std::string message, std::optional<int> address) {
    writeLog(LogEntry{now, "EV", address, {}, std::move(message)});
}

void Simulator::writeLog(LogEntry entry) {
    if (log_) log_(entry);
}

std::optional<int> Simulator::logAddress(int address) const {
    if (!config_.modbus) return std::nullopt;
    return address;
}

}  // namespace vantrel::boardsim
