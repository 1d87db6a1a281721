// How the terminal program takes Ctrl-C, SIGTERM, SIGHUP, SIGQUIT and SIGPIPE: the handlers only
// record a signal, and the update's loop acts on it.
#pragma once

#include <atomic>
#include <string>

// Set by Ctrl-C; the confirmation prompt takes it as its answer.
extern std::atomic<bool> interruptSeen;
// SIGTERM, SIGHUP and SIGQUIT seen so far.
extern std::atomic<int> terminationCount;

// Installs the handlers: Ctrl-C, SIGTERM, SIGHUP and SIGQUIT are recorded; SIGPIPE and SIGXFSZ
// are ignored.
void TakeSignals();
// From now on SIGTSTP, SIGTTIN and SIGTTOU are ignored: an update is about to begin.
void HoldJobControl();
// "SIGTERM", "SIGHUP" or "SIGQUIT": the last termination signal seen.
std::string TerminationSignalName();

