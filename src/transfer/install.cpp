#include "loader/loader.h"

namespace vantrel {

void Loader::Command6_Click() {
    // From now on a version reply no longer sends lines of the loaded file.
    TransferActive = 0;
    writeCommand(QByteArrayLiteral("BOOTg\r\n"));
    // The bootloader needs the second to start the installed program, which
    // then answers "VER".
    sleeper().sleep(1000);
    writeCommand(QByteArrayLiteral("VER\r\n"));
}

}  // namespace vantrel
