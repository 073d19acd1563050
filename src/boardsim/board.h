#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel::boardsim {

// The texts a board sends. The loader looks for "VER=", "ERROR", "DOWNLOAD",
// "FORMAT" and "OK"; the address reply deliberately contains none of them.
namespace replies {
inline constexpr std::string_view kOk = "OK\r\n";
inline constexpr std::string_view kDownload = "DOWNLOAD\r\n";
inline constexpr std::string_view kError = "ERROR\r\n";
inline constexpr std::string_view kFormat = "FORMAT\r\n";
}  // namespace replies

struct BoardIdentity {
    std::string bootVersion = "4.01";    // answered to "BOOTi" as "VER=4.01"
    std::string appVersion = "APP 1.0";  // answered to "VER" once installed
};

enum class CommandKind {
    Empty,        // a bare line ending
    BootVersion,  // BOOTi
    Download,     // BOOT:<record>
    Verify,       // BOOT#<record>
    Install,      // BOOTg
    AppVersion,   // VER, while the application runs
    SetAddress,   // BOOT$<hh>
    UnknownBoot,  // any other BOOT... text
    Foreign,      // anything not meant for the bootloader
};

struct Outcome {
    CommandKind kind = CommandKind::Empty;
    std::optional<std::string> reply;
    bool endOfFile = false;  // the record was an end-of-file record

    bool isRecord() const { return kind == CommandKind::Download || kind == CommandKind::Verify; }
};

// One PIC with its resident bootloader: sparse flash, the extended address
// from the last 02/04 record, and whether the loaded application is running.
class Board {
  public:
    explicit Board(int address = 0, BoardIdentity identity = {});

    // `command` is one command without its CR LF.
    Outcome handle(std::string_view command);

    int address() const { return address_; }
    bool applicationRunning() const { return applicationRunning_; }

    // Flash contents; bytes never written read as erased (nullopt here, 0xFF
    // when verified).
    std::optional<std::uint8_t> byteAt(std::uint32_t address) const;
    std::size_t storedBytes() const { return flash_.size(); }

    // Power loss: flash survives, the session (extended address, running
    // application) does not.
    void powerCycle();

  private:
    Outcome record(std::string_view digits, bool verify);
    Outcome setAddress(std::string_view digits);

    int address_;
    BoardIdentity identity_;
    std::map<std::uint32_t, std::uint8_t> flash_;
    std::uint32_t base_ = 0;
    bool applicationRunning_ = false;
};

}  // namespace vantrel::boardsim
