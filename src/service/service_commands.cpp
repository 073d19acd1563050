#include <QTimer>

#include "loader/loader.h"
#include "service/address_digits.h"

namespace vantrel {

void Loader::Command4_Click() {
    Text8->clear();
    // A version reply must never start sending a loaded file.
    TransferActive = 0;
    writeCommand(QByteArrayLiteral("BOOTi\r\n"));
}

void Loader::Command1_Click() {
    if (AddressSearch == 1) {
        // "Next": the probe goes on at the address after the one that answered.
        Timer3->start();
        Text8->clear();
        return;
    }
    // "Set Addr": the command goes to the present address; the address box
    // is left as it is, so later commands do not follow the board by themselves.
    const std::optional<QByteArray> digits = addressDigits(Text2->text());
    if (!digits || *digits == "00") return;
    writeCommand("BOOT$" + *digits + "\r\n");
}

}  // namespace vantrel
