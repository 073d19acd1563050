#pragma once

#include <functional>
#include <memory>
#include <string>

#include "picsim/hex_image.h"
#include "picsim/uart_wire.h"

namespace vantrel::picsim {

// A PIC18F452 in gpsim's library, in this process: its memory, its USART
// pins (RC6 = TX, chip to host; RC7 = RX, host to chip), its MCLR, and cycle
// breaks to run code of ours at given times. gpsim runs only inside run();
// everything the host side does happens in the callbacks it makes there.
class Chip {
  public:
    virtual ~Chip() = default;

    // Builds the processor (once a process: gpsim keeps global state) with
    // the oscillator at `clockHz`; nullptr with `error` set.
    static std::unique_ptr<Chip> create(double clockHz, std::string& error);

    // Program memory, configuration and EEPROM bytes from an image (ID
    // locations are not modelled and are skipped). Before run().
    virtual bool load(const MemoryImage& image, std::string& error) = 0;
    // Program memory from 0 and EEPROM at 0xF00000, as the chip holds them now.
    virtual MemoryImage dump() const = 0;

    // Instruction cycles a second (the clock / 4).
    virtual double cyclesPerSecond() const = 0;
    virtual Cycles now() const = 0;

    // The level the host drives on RC7.
    virtual void driveRx(bool level) = 0;
    // Told each change of the level the chip drives on RC6.
    virtual void onTx(std::function<void(Cycles, bool)> callback) = 0;

    // Calls `callback` once gpsim reaches cycle `at`. Three independent
    // timers for the caller: 0 to 2; setting one again replaces its
    // earlier time.
    virtual void at(int timer, Cycles when, std::function<void()> callback) = 0;

    // Brings the pins' directions up to date with the chip's registers;
    // called every tick.
    virtual void settlePins() = 0;

    // A reset through MCLR: the chip starts again from its reset vector.
    virtual void resetMclr() = 0;

    // Runs until stop() is called from a callback.
    virtual void run() = 0;
    virtual void stop() = 0;
};

}  // namespace vantrel::picsim
