#pragma once

#include <QList>
#include <QtGlobal>

namespace vantrel::flasher {

// One port of a run as the time left sees it: the board running on it, the
// boards queued after it (a bus runs them one after the other), and the rate
// its boards have shown so far.
struct PortTimeLeft {
    bool running = false;           // a board is at work on the port
    qint64 runningSecondsLeft = 0;  // that board's time left; -1 while unknown
    int queuedBoards = 0;           // boards still to come after it
    double linesPerSecond = 0.0;    // seen so far on the port; 0 while unknown
    bool searching = false;         // a search of the bus has not ended: its boards are not known yet
};

// The run's time left: the ports work at the same time, so the longest of
// them; on each port the running board's time left plus, for every board
// queued after it, `linesPerBoard` (lines times passes) at the port's rate.
// The boards a search is still to find count for nothing until found.
// -1 while a part of it is unknown (a running board without figures, queued
// boards without a rate); 0 when nothing is left.
qint64 runSecondsLeft(const QList<PortTimeLeft>& ports, qint64 linesPerBoard);

}  // namespace vantrel::flasher
