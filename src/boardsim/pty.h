#pragma once

#include <optional>
#include <string>

#include "boardsim/simulator.h"

namespace vantrel::boardsim {

// A raw pseudo-terminal: the master is ours, the slave's path is what the
// host opens. The slave stays open on our side too, so the master never sees
// a hang-up between the host's sessions.
struct Pty {
    int master = -1;
    int slave = -1;
    std::string path;
};

// Non-blocking master, raw 8-bit slave (no echo, no CR/LF mapping, no
// signals); both close on exec. Empty when the system gives no pty.
std::optional<Pty> openPty();
void closePty(Pty& pty);

// The speed the host set its end to (both ends share one set of line
// settings); 0 when it is none of the usual ones.
long hostSpeed(int master);

// Bytes the host has not read yet from its end.
int unreadByHost(const Pty& pty);

// SIGINT and SIGTERM become a byte on a pipe, so a poll loop ends cleanly at
// its next turn; SIGPIPE is ignored, so a reader of stdout that went away
// does not kill the program. False when the pipe cannot be made.
bool installSignalPipe();
// The pipe's read end: readable once a signal came.
int signalPipeFd();

// A line on stdout, flushed at once: scripts wait for it.
void say(const std::string& line);

}  // namespace vantrel::boardsim
