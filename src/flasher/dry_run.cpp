#include "flasher/dry_run.h"

#include <QStringList>

#include "simulated_port.h"

namespace vantrel::flasher {

QString dryRunBoardOptions(const FlashOptions& options) {
    if (!options.dryRunBoard.isEmpty()) return options.dryRunBoard;
    if (!options.modbus) return QString();
    if (options.modbusSearch || options.modbusAll || options.modbusAddresses.isEmpty())
        return QStringLiteral("--modbus 1");
    QStringList addresses;
    for (int a : options.modbusAddresses) addresses << QString::number(a);
    return QStringLiteral("--modbus ") + addresses.join(u',');
}

PortFactory simulatedPortFactory(const FlashOptions& options, QString* error) {
    const std::string text = dryRunBoardOptions(options).toStdString();
    const boardsim::ParseResult parsed = boardsim::parseOptionText(text);
    if (!parsed.error.empty()) {
        if (error != nullptr) *error = QString::fromStdString(parsed.error);
        return {};
    }
    const boardsim::Options board = parsed.options;
    return [board](const PortName& name) {
        PortAccess access;
        access.portBoxText = name.isDevice ? QStringLiteral("COM1") : name.text;
        const QString device = QStringLiteral("(simulated board)");
        access.resolver = [device, label = name.text](int) { return PortLocation{device, label}; };
        access.port = std::make_unique<boardsim::SimulatedPort>(board, boardsim::steadyClock());
        return access;
    };
}

}  // namespace vantrel::flasher
