#include "app/console/signals.h"

#include <signal.h>

#include <chrono>
#include <string>
#include <thread>

// Ctrl-C must not kill the program in the middle of an update, which would leave the drive
// with half an image or stop the reports while it programs its flash. It is taken as the Close
// command instead: outside a run it ends the program, during a run it asks "Terminate???".
//
// SIGTERM, SIGHUP (a dropped session) and SIGQUIT ask for termination without a question: the
// run stops at its next check, and once the drive is programming the program waits for it and
// reports.
// A closed pipe on standard output or error loses that text, never the run: SIGPIPE is ignored.
// SIGQUIT is taken as SIGTERM: its default would kill the program, with a core, while the drive
// programs. A file-size limit reached by a trace must not kill it either: SIGXFSZ is ignored,
// and the short write is reported. The handlers only record the signal; the command loop acts
// on it.
std::atomic<bool> interruptSeen{false};
std::atomic<int> terminationCount{0};

namespace {

std::atomic<int> terminationSignal{0};

extern "C" void OnInterrupt(int) { interruptSeen = true; }

extern "C" void OnTermination(int signo) {
  terminationSignal = signo;
  terminationCount.fetch_add(1);
}

}  // namespace

void TakeSignals() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  action.sa_handler = OnTermination;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  sigaction(SIGQUIT, &action, nullptr);
  action.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &action, nullptr);
  sigaction(SIGXFSZ, &action, nullptr);
}

// Stopped by job control while the drive programs, the program would miss the drive's end and
// report a good flash as failed: from the confirmation on, the terminal's stop keys and a
// background terminal's reads and writes no longer stop it. (SIGSTOP cannot be refused: the
// drive's state read again after the run tells the truth then.)
void HoldJobControl() {
  struct sigaction action {};
  action.sa_handler = SIG_IGN;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTSTP, &action, nullptr);
  sigaction(SIGTTIN, &action, nullptr);
  sigaction(SIGTTOU, &action, nullptr);
}

std::string TerminationSignalName() {
  switch (terminationSignal.load()) {
    case SIGHUP: return "SIGHUP";
    case SIGQUIT: return "SIGQUIT";
    default: return "SIGTERM";
  }
}

// Runs the Close command for a Ctrl-C seen since the last call; true when there was one.
bool CloseOnInterrupt(UpdateDialog& dialog, ConsoleUi& screen) {
  if (!interruptSeen.exchange(false)) return false;
  if (dialog.RunActive()) {
    screen.Say("Ctrl-C: an update is in progress; Close asks whether to terminate it.");
  }
  dialog.OnClose();
  return true;
}

// Acts on SIGTERM, SIGHUP and SIGQUIT seen since the last call, each as a confirmed "Terminate???";
// true once one has been seen (`handled` counts those acted on). A repeated signal changes
// nothing: the drive is left to finish.
bool TerminateOnSignal(UpdateDialog& dialog, ConsoleUi& screen, int& handled) {
  const int seen = terminationCount.load();
  if (seen == handled) return handled != 0;
  handled = seen;
  const std::string name = TerminationSignalName();
  if (dialog.RunActive()) {
    screen.Say("Terminated by " + name + ": the update stops at its next check; a drive that is "
               "already programming its flash is left to finish, and fwloader waits for it.");
  } else {
    screen.Say("Terminated by " + name + ".");
  }
  dialog.TerminateWithoutAsking();
  return true;
}

void WaitForRunEnd(UpdateDialog& dialog, ConsoleUi& screen, int& handled) {
  while (dialog.RunActive()) {
    TerminateOnSignal(dialog, screen, handled);
    CloseOnInterrupt(dialog, screen);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}
