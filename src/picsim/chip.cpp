#include "picsim/chip.h"

#include <16bit-processors.h>
#include <array>
#include <breakpoints.h>
#include <eeprom.h>
#include <gpsim_time.h>
#include <interface.h>
#include <ioports.h>
#include <pic-processor.h>
#include <processor.h>
#include <sim_context.h>
#include <stimuli.h>

namespace vantrel::picsim {
namespace {

// Package pins of the 18F452 in its 40-pin case.
constexpr unsigned kPinTx = 25;  // RC6
constexpr unsigned kPinRx = 26;  // RC7
constexpr std::uint32_t kProgramBytes = 0x8000;
constexpr std::uint32_t kConfigBytes = 14;

// Our end of the chip's TX line: told every level the chip drives.
class TxSense : public IOPIN {
  public:
    TxSense() : IOPIN("vantrel_host_rx") {}
    void setDrivenState(bool level) override {
        IOPIN::setDrivenState(level);
        if (callback) callback(get_cycles().get(), level);
    }
    std::function<void(Cycles, bool)> callback;
};

// Our end of the chip's RX line: a driver that is always an output.
class RxDrive : public IO_bi_directional {
  public:
    RxDrive() : IO_bi_directional("vantrel_host_tx") {
        update_direction(IOPIN::DIR_OUTPUT, true);
        putState(true);
    }
};

// The data sheet has the 18F452's USART take RC6 as its output whenever
// SPEN is set, with TRISC<6> set as it asks; gpsim 0.31 drives the pin only
// while TRISC<6> is clear. This control of the pin's direction reads both
// registers live and gives the USART its pin, as the chip does.
class UsartTxDirection : public SignalControl {
  public:
    explicit UsartTxDirection(Processor* cpu) : cpu_(cpu) {}
    char getState() override {
        const bool spen = (cpu_->registers[kRcsta]->get_value() & 0x80) != 0;
        const bool input = (cpu_->registers[kTrisc]->get_value() & 0x40) != 0;
        return spen || !input ? '0' : '1';
    }
    void release() override {}

  private:
    static constexpr unsigned kRcsta = 0xFAB;
    static constexpr unsigned kTrisc = 0xF94;
    Processor* cpu_;
};

class Wake : public TriggerObject {
  public:
    void callback() override {
        armed = 0;
        if (action) {
            // The action may set this timer again: run a copy.
            const std::function<void()> run = action;
            run();
        }
    }
    std::function<void()> action;
    Cycles armed = 0;  // the cycle of the pending break, 0: none
};

class GpsimChip final : public Chip {
  public:
    GpsimChip(Processor* cpu, double clockHz) : cpu_(cpu), clockHz_(clockHz), txDirection_(cpu) {
        if (auto* pic18 = dynamic_cast<_16bit_processor*>(cpu_); pic18 != nullptr && pic18->m_portc != nullptr) {
            txPin_ = &(*pic18->m_portc)[6];
            txPin_->setControl(&txDirection_);
            txPin_->updatePinModule();
        }
        txNode_ = new Stimulus_Node("vantrel_tx");
        txNode_->attach_stimulus(cpu_->get_pin(kPinTx));
        txNode_->attach_stimulus(&txSense_);
        rxNode_ = new Stimulus_Node("vantrel_rx");
        rxNode_->attach_stimulus(cpu_->get_pin(kPinRx));
        rxNode_->attach_stimulus(&rxDrive_);
        rxNode_->update();
    }

    bool load(const MemoryImage& image, std::string& error) override {
        std::array<int, kConfigBytes> config{};
        config.fill(-1);
        auto* pic = dynamic_cast<pic_processor*>(cpu_);
        EEPROM* eeprom = pic != nullptr ? pic->get_eeprom() : nullptr;
        for (auto it = image.begin(); it != image.end(); ++it) {
            const std::uint32_t address = it->first;
            if (address < kProgramBytes) {
                // Words: an odd byte alone keeps the other half as it is.
                const std::uint32_t even = address & ~1u;
                unsigned word = cpu_->get_program_memory_at_address(even) & 0xFFFF;
                if (address & 1u)
                    word = (word & 0x00FF) | (static_cast<unsigned>(it->second) << 8);
                else
                    word = (word & 0xFF00) | it->second;
                if (!(address & 1u)) {
                    const auto next = std::next(it);
                    if (next != image.end() && next->first == address + 1) {
                        word = (word & 0x00FF) | (static_cast<unsigned>(next->second) << 8);
                        it = next;
                    }
                }
                cpu_->init_program_memory_at_index(even / 2, word);
            } else if (address >= kConfigBase && address < kConfigBase + kConfigBytes) {
                config[address - kConfigBase] = it->second;
            } else if (address >= kEepromBase && eeprom != nullptr && address - kEepromBase < eeprom->get_rom_size()) {
                eeprom->change_rom(address - kEepromBase, it->second);
            } else if (address >= kIdBase && address < kIdBase + 8) {
                // ID locations: not modelled.
            } else {
                error = "no memory at " + std::to_string(address);
                return false;
            }
        }
        // Configuration words are set whole: gpsim takes them as 16-bit words.
        for (std::uint32_t i = 0; i < kConfigBytes; i += 2) {
            if (config[i] < 0 && config[i + 1] < 0) continue;
            const unsigned old = cpu_->get_config_word(kConfigBase + i);
            const unsigned low = config[i] >= 0 ? static_cast<unsigned>(config[i]) : old & 0xFF;
            const unsigned high = config[i + 1] >= 0 ? static_cast<unsigned>(config[i + 1]) : (old >> 8) & 0xFF;
            cpu_->set_config_word(kConfigBase + i, low | (high << 8));
        }
        return true;
    }

    MemoryImage dump() const override {
        MemoryImage image;
        for (std::uint32_t address = 0; address < kProgramBytes; address += 2) {
            const unsigned word = cpu_->get_program_memory_at_address(address);
            image[address] = static_cast<std::uint8_t>(word & 0xFF);
            image[address + 1] = static_cast<std::uint8_t>((word >> 8) & 0xFF);
        }
        auto* pic = dynamic_cast<pic_processor*>(cpu_);
        if (EEPROM* eeprom = pic != nullptr ? pic->get_eeprom() : nullptr) {
            for (unsigned i = 0; i < eeprom->get_rom_size(); ++i)
                image[kEepromBase + i] = static_cast<std::uint8_t>(eeprom->get_rom()[i]->get_value());
        }
        return image;
    }

    double cyclesPerSecond() const override { return clockHz_ / 4.0; }
    Cycles now() const override { return get_cycles().get(); }

    void driveRx(bool level) override {
        if (level == rxLevel_) return;
        rxLevel_ = level;
        rxDrive_.putState(level);
    }

    void onTx(std::function<void(Cycles, bool)> callback) override { txSense_.callback = std::move(callback); }

    void at(int timer, Cycles when, std::function<void()> callback) override {
        Wake& wake = wakes_.at(static_cast<std::size_t>(timer));
        if (wake.armed != 0) get_cycles().clear_break(&wake);
        wake.action = std::move(callback);
        when = std::max<Cycles>(when, now() + 1);
        wake.armed = when;
        get_cycles().set_break(when, &wake);
    }

    // MCLR low for a few cycles, then high again: the chip leaves reset
    // and starts from its reset vector.
    // gpsim settles a pin's direction only when something touches the pin
    // (SPEN alone does not), and its USART drops the pin's control when
    // SPEN is cleared: put ours back.
    void settlePins() override {
        if (txPin_ == nullptr) return;
        if (txPin_->getActiveControl() != &txDirection_) txPin_->setControl(&txDirection_);
        txPin_->updatePinModule();
    }

    void resetMclr() override {
        cpu_->reset(MCLR_RESET);
        at(kTimerMclr, now() + kMclrCycles, [this] { cpu_->reset(EXIT_RESET); });
    }

    // gpsim's run also returns on a reset (it halts to show it): only our
    // own stop ends it.
    void run() override {
        stopping_ = false;
        while (!stopping_) {
            get_bp().clear_halt();
            cpu_->run();
        }
    }
    void stop() override {
        stopping_ = true;
        get_bp().halt();
    }

  private:
    Processor* cpu_;
    double clockHz_;
    UsartTxDirection txDirection_;
    PinModule* txPin_ = nullptr;
    TxSense txSense_;
    RxDrive rxDrive_;
    Stimulus_Node* txNode_ = nullptr;
    Stimulus_Node* rxNode_ = nullptr;
    bool rxLevel_ = true;
    bool stopping_ = false;
    static constexpr int kTimerMclr = 3;
    static constexpr Cycles kMclrCycles = 4;
    std::array<Wake, 4> wakes_;
};

}  // namespace

std::unique_ptr<Chip> Chip::create(double clockHz, std::string& error) {
    initialize_gpsim_core();
    initialization_is_complete();
    Processor* cpu = CSimulationContext::GetContext()->add_processor("p18f452", "chip");
    if (cpu == nullptr) {
        error = "gpsim has no p18f452";
        return nullptr;
    }
    cpu->set_frequency(clockHz);
    return std::make_unique<GpsimChip>(cpu, clockHz);
}

}  // namespace vantrel::picsim
