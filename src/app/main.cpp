#include <QApplication>
#include <QStyleFactory>

#include "window/frm_serial.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vantrel"));
    // The classic look the window was drawn for; its controls are sized for it.
    if (QStyle* style = QStyleFactory::create(QStringLiteral("Windows"))) QApplication::setStyle(style);

    vantrel::frmSerial window(vantrel::makeDesktopPlatform());
    window.show();
    return QApplication::exec();
}
