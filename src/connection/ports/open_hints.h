#pragma once

#include <QString>

namespace vantrel {

// What the operating system says about a serial device, gathered once when
// an open has failed, so the advice names the real cause.
struct DeviceFacts {
    QString path;  // the device itself, aliases followed
    bool exists = false;
    bool readWrite = false;        // access(R_OK | W_OK) succeeded
    int accessErrno = 0;           // errno of that check when it failed
    QString group;                 // the group that owns the device
    bool inGroupNow = false;       // this process carries that group
    bool inGroupDatabase = false;  // the user is listed in it (maybe since a later login)
    bool modemManagerRunning = false;
};

DeviceFacts inspectDevice(const QString& path);

// Advice for a failed open, from the port component's failure number and the
// facts; empty when the cause is not one we know a remedy for.
QString openFailureHint(int failureNumber, const DeviceFacts& facts);

}  // namespace vantrel
