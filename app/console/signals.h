// How the terminal program takes Ctrl-C, SIGTERM, SIGHUP, SIGQUIT and SIGPIPE: the handlers only
// record a signal, and the command loop acts on it through the dialog's Close command.
#pragma once

#include <atomic>
#include <string>

#include "app/console/console_ui.h"
#include "app/update_dialog.h"

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

// Runs the Close command for a Ctrl-C seen since the last call; true when there was one.
bool CloseOnInterrupt(UpdateDialog& dialog, ConsoleUi& screen);
// Acts on SIGTERM, SIGHUP and SIGQUIT seen since the last call, each as a confirmed
// "Terminate???"; true once one has been seen (`handled` counts those acted on).
bool TerminateOnSignal(UpdateDialog& dialog, ConsoleUi& screen, int& handled);
// Waits for the run to end, acting on signals meanwhile.
void WaitForRunEnd(UpdateDialog& dialog, ConsoleUi& screen, int& handled);
