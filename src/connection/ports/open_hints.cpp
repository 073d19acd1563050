#include "connection/ports/open_hints.h"

#include <vector>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include "common/failure.h"

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vantrel {
namespace {

#ifdef Q_OS_UNIX
bool processHasGroup(gid_t gid) {
    if (getegid() == gid) return true;
    const int n = getgroups(0, nullptr);
    if (n <= 0) return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(n));
    const int got = getgroups(n, groups.data());
    for (int i = 0; i < got; ++i)
        if (groups[static_cast<std::size_t>(i)] == gid) return true;
    return false;
}

bool userListedInGroup(gid_t gid) {
    const passwd* pw = getpwuid(getuid());
    if (pw == nullptr) return false;
    if (pw->pw_gid == gid) return true;
    const group* gr = getgrgid(gid);
    if (gr == nullptr) return false;
    for (char** member = gr->gr_mem; member != nullptr && *member != nullptr; ++member)
        if (std::strcmp(*member, pw->pw_name) == 0) return true;
    return false;
}
#endif

// ModemManager opens every new ttyACM port to look for a modem behind it.
bool modemManagerRunning() {
    const QDir proc(QStringLiteral("/proc"));
    for (const QString& pid : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (pid.isEmpty() || !pid[0].isDigit()) continue;
        QFile comm(proc.filePath(pid + QStringLiteral("/comm")));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "ModemManager") return true;
    }
    return false;
}

}  // namespace

DeviceFacts inspectDevice(const QString& path) {
    DeviceFacts f;
    const QFileInfo info(path);
    f.path = info.exists() ? info.canonicalFilePath() : (info.isSymLink() ? info.symLinkTarget() : path);
    f.exists = info.exists();
#ifdef Q_OS_UNIX
    const QByteArray native = QFile::encodeName(f.path);
    if (f.exists) {
        if (::access(native.constData(), R_OK | W_OK) == 0)
            f.readWrite = true;
        else
            f.accessErrno = errno;
        struct stat st {};
        if (::stat(native.constData(), &st) == 0) {
            if (const group* gr = getgrgid(st.st_gid)) f.group = QString::fromLocal8Bit(gr->gr_name);
            f.inGroupNow = processHasGroup(st.st_gid);
            f.inGroupDatabase = userListedInGroup(st.st_gid);
        }
    }
#endif
    f.modemManagerRunning = modemManagerRunning();
    return f;
}

QString openFailureHint(int failureNumber, const DeviceFacts& f) {
    QStringList hint;
    if (!f.exists) {
        hint << QStringLiteral(
                    "%1 does not exist. Check `vantrel-flash --list`, the cable and the board's power; a "
                    "USB board's port appears only while the board is powered.")
                    .arg(f.path);
        return hint.join(u' ');
    }
    const bool permission = failureNumber == failure::kPortPermission || (!f.readWrite && f.accessErrno == EACCES);
    if (permission && !f.readWrite) {
        const QString group = f.group.isEmpty() ? QStringLiteral("dialout") : f.group;
        if (f.inGroupDatabase && !f.inGroupNow) {
            hint << QStringLiteral(
                        "No permission for %1: you are in group %2, but this login session started "
                        "before that. Log out and in again (or run `newgrp %2`).")
                        .arg(f.path, group);
        } else {
            hint << QStringLiteral(
                        "No permission for %1 (group %2). Add yourself to the group: "
                        "sudo usermod -aG %2 $USER, then log out and in again.")
                        .arg(f.path, group);
        }
        return hint.join(u' ');
    }
    if (failureNumber == failure::kPortBusy || failureNumber == failure::kPortPermission ||
        failureNumber == failure::kPortAlreadyOpen) {
        hint << QStringLiteral("%1 is in use by another program; `fuser -v %1` names it.").arg(f.path);
        const bool acm = QFileInfo(f.path).fileName().startsWith(QStringLiteral("ttyACM"));
        if (acm || f.modemManagerRunning) {
            hint << QStringLiteral(
                        "ModemManager%1 opens new ttyACM ports for several seconds to look for a modem. Stop it "
                        "with `sudo systemctl stop ModemManager` (`disable` keeps it off), or have it leave the "
                        "board alone with a udev rule such as ATTRS{idVendor}==\"vvvv\", "
                        "ATTRS{idProduct}==\"pppp\", ENV{ID_MM_DEVICE_IGNORE}=\"1\" in "
                        "/etc/udev/rules.d/99-vantrel.rules (the ids from `vantrel-flash --list`), then "
                        "`sudo udevadm control --reload` and plug the board in again.")
                        .arg(f.modemManagerRunning ? QStringLiteral(" (running here)") : QString());
        }
        return hint.join(u' ');
    }
    return {};
}

}  // namespace vantrel
