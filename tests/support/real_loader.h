#pragma once

#include <memory>

#include "connection/qt_serial_component.h"
#include "fake_platform.h"
#include "loader/loader.h"
#include "loader/platform.h"

namespace vantrel::testing {

// The loader on the real serial port component and its real timers, with
// every box and the file dialog recorded instead of shown: the loader of the
// end-to-end tests, the real-port tests and the benchmarks. The pause is
// recorded (so a test sees the probe's 100 ms without waiting for it) unless
// the test asks for the real one.
struct RealLoader : RecordingLoader {
    enum class Pause { Recorded, Real };

    QtSerialComponent* port = nullptr;
    // The recorded pauses; null with Pause::Real.
    FakeSleeper* sleeper = nullptr;

    // Ports are found with `resolver`: the loader's own rule unless the test
    // keeps its aliases in a folder of its own (aliasFolderResolver).
    explicit RealLoader(Pause pause = Pause::Recorded, PortResolver resolver = systemPortResolver())
        : RecordingLoader(
              std::make_unique<QtSerialComponent>(std::move(resolver)),
              pause == Pause::Real ? makeThreadSleeper() : std::unique_ptr<Sleeper>(std::make_unique<FakeSleeper>())),
          port(static_cast<QtSerialComponent*>(w->MSComm1)),
          sleeper(pause == Pause::Real ? nullptr : static_cast<FakeSleeper*>(&w->sleeper())) {}
};

}  // namespace vantrel::testing
