#include "flasher/plan.h"

namespace vantrel::flasher {

FlashPlan planOf(const FlashOptions& options) {
    FlashPlan plan;
    plan.action = options.action;
    plan.limits.replyMs = options.timeoutMs;
    plan.options = options;
    QList<PortName> ports = options.ports;
    if (ports.isEmpty()) ports.append(PortName{options.port, options.portIsDevice});
    for (const PortName& name : ports) {
        PortPlan p;
        p.port = name;
        p.searchFirst = options.modbusAll;
        if (options.modbusAll) {
            // The boards are those the search finds.
        } else if (options.modbus && !options.modbusSearch && options.action != Action::Search &&
                   !options.modbusAddresses.isEmpty()) {
            for (int a : options.modbusAddresses) p.boards.append(Target{name, Target::Kind::Address, a});
        } else {
            Target t;
            t.port = name;
            if (options.modbus && (options.modbusSearch || options.action == Action::Search)) {
                t.kind = Target::Kind::Search;
            } else if (options.modbus) {
                t.kind = Target::Kind::Address;
                t.address = options.modbusAddress;
            }
            p.boards.append(t);
        }
        plan.ports.append(p);
    }
    return plan;
}

Target firstTarget(const FlashOptions& options) {
    FlashOptions one = options;
    one.modbusAll = false;
    const FlashPlan plan = planOf(one);
    return plan.ports.front().boards.front();
}

}  // namespace vantrel::flasher
