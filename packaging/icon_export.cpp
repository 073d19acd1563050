// Writes the program's icon into a hicolor icon theme folder, as the desktop
// looks for it: <out>/hicolor/<n>x<n>/apps/<name>.png for each size, and
// <out>/hicolor/scalable/apps/<name>.svg.
//
//   vantrel-icon-export <out> <name> <size>...

#include <cstdio>

#include <QDir>
#include <QFile>
#include <QString>

#include "window/app_icon.h"

int main(int argc, char* argv[]) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: vantrel-icon-export <out> <name> <size>...\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLocal8Bit(argv[2]);
    auto folder = [&out](const QString& theme) {
        const QString path = out + QStringLiteral("/hicolor/") + theme + QStringLiteral("/apps");
        return QDir().mkpath(path) ? path : QString();
    };

    for (int i = 3; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
        if (!ok || size < 1 || size > 1024) {
            std::fprintf(stderr, "vantrel-icon-export: bad size %s\n", argv[i]);
            return 2;
        }
        const QString dir = folder(QStringLiteral("%1x%1").arg(size));
        if (dir.isEmpty() || !vantrel::appIconImage(size).save(dir + u'/' + name + QStringLiteral(".png"), "PNG")) {
            std::fprintf(stderr, "vantrel-icon-export: cannot write the %dx%d icon under %s\n", size, size, argv[1]);
            return 1;
        }
    }

    const QString dir = folder(QStringLiteral("scalable"));
    QFile svg(dir + u'/' + name + QStringLiteral(".svg"));
    if (dir.isEmpty() || !svg.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        svg.write(vantrel::appIconSvg()) < 0 || !svg.flush()) {
        std::fprintf(stderr, "vantrel-icon-export: cannot write the SVG icon under %s\n", argv[1]);
        return 1;
    }
    return 0;
}
