#include "app/console/signals.h"

#include <signal.h>

#include <string>

// Ctrl-C must not kill the program in the middle of an update, which would leave the drive
// with half an image or stop the reports while it programs its flash. Before the commit it
// stops the update at its next block; while the drive programs it is answered, each time, with
// the reason it cannot stop it.
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

