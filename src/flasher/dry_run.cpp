#include "flasher/dry_run.h"

#include <QStringList>

#include "boardsim/simulated_port.h"

namespace vantrel::flasher {
namespace {

std::optional<boardsim::Options> boardOptionsOf(const QString& text, QString* error) {
    const boardsim::ParseResult parsed = boardsim::parseOptionText(text.toStdString());
    if (!parsed.error.empty()) {
        if (error != nullptr) *error = QString::fromStdString(parsed.error);
        return std::nullopt;
    }
    return parsed.options;
}

// A job's own port component in front of the port's one simulator, so that
// what one job's loader leaves behind is what the next job's loader finds.
// Its receive event dies with it, even while the simulator lives on for the
// next board.
class SharedPort final : public SerialComponent {
  public:
    explicit SharedPort(std::shared_ptr<boardsim::SimulatedPort> inner) : inner_(std::move(inner)) {}
    SharedPort(const SharedPort&) = delete;
    SharedPort& operator=(const SharedPort&) = delete;
    void setSettings(const QString& settings) override { inner_->setSettings(settings); }
    void setCommPort(qint16 number) override { inner_->setCommPort(number); }
    void setPortOpen(bool open) override { inner_->setPortOpen(open); }
    bool portOpen() const override { return inner_->portOpen(); }
    void setOutput(const QByteArray& data) override { inner_->setOutput(data); }
    qint16 inBufferCount() override { return inner_->inBufferCount(); }
    QByteArray input() override { return inner_->input(); }
    void setReceiveEvent(std::function<void()> onReceive) override {
        if (!onReceive) {
            inner_->setReceiveEvent({});
            return;
        }
        inner_->setReceiveEvent([alive = std::weak_ptr<bool>(alive_), onReceive = std::move(onReceive)] {
            if (alive.lock()) onReceive();
        });
    }

  private:
    std::shared_ptr<boardsim::SimulatedPort> inner_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace

QString dryRunBoardOptions(const FlashOptions& options) {
    if (!options.dryRunBoard.isEmpty()) return options.dryRunBoard;
    QStringList words;
    if (options.modbus) {
        if (options.modbusSearch || options.modbusAll || options.modbusAddresses.isEmpty()) {
            words << QStringLiteral("--modbus 1");
        } else {
            QStringList addresses;
            for (int a : options.modbusAddresses) addresses << QString::number(a);
            words << QStringLiteral("--modbus ") + addresses.join(u',');
        }
    }
    // A verify alone rehearses against boards that hold the file already.
    if (options.action == Action::VerifyOnly) words << QStringLiteral("--flashed ") + options.file;
    return words.join(u' ');
}

std::shared_ptr<SimulatedBoards> SimulatedBoards::make(const QString& boardOptions, QString* error) {
    if (!boardOptionsOf(boardOptions, error)) return nullptr;
    std::shared_ptr<SimulatedBoards> boards(new SimulatedBoards);
    boards->defaultOptions_ = boardOptions;
    return boards;
}

bool SimulatedBoards::configure(const QString& port, const QString& boardOptions, QString* error) {
    if (!boardOptionsOf(boardOptions, error)) return false;
    portOptions_[port] = boardOptions;
    return true;
}

boardsim::SimulatedPort& SimulatedBoards::simulatorFor(const QString& name) {
    auto& port = ports_[name];
    if (!port) {
        const auto it = portOptions_.find(name);
        const QString text = it != portOptions_.end() ? it->second : defaultOptions_;
        port = std::make_shared<boardsim::SimulatedPort>(*boardOptionsOf(text, nullptr), boardsim::steadyClock());
    }
    return *port;
}

PortFactory SimulatedBoards::factory() {
    return [self = shared_from_this()](const PortName& name) {
        self->simulatorFor(name.text);
        PortAccess access;
        access.portBoxText = name.isPortOne() ? QStringLiteral("COM1") : name.text;
        access.resolver = [label = name.text](int) { return PortLocation{QStringLiteral("(simulated board)"), label}; };
        access.port = std::make_unique<SharedPort>(self->ports_.at(name.text));
        return access;
    };
}

const boardsim::SimulatedPort* SimulatedBoards::port(const QString& name) const {
    const auto it = ports_.find(name);
    return it == ports_.end() ? nullptr : it->second.get();
}

}  // namespace vantrel::flasher
