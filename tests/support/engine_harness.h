// A test harness for the engine: an operating system of fakes (a virtual clock for sleep and the
// tick count, scripted message boxes, recorded restart steps, counted image storage) over the
// system's, a record of what the user would see through the UI callbacks, and a simulated
// device behind the real NT transport (a simulated port driver) with a trace of every command.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/update_job.h"
#include "drive/aspi_transport.h"
#include "drive/nt_pass_through_transport.h"
#include "platform/windows_os.h"
#include "sim/nt_port.h"
#include "sim/clock.h"
#include "sim/device.h"

namespace enginetest {

struct Box {
  std::string text;
  std::string caption;
  uint32_t style;
  bool hasOwner;
};

// One command as the device saw it.
struct TraceEntry {
  std::vector<uint8_t> cdb;
  uint8_t direction;
  uint32_t dataLength;
  bool delivered;
  uint8_t status;
  uint8_t sense[3];  // key, ASC, ASCQ of a failed command
};

class Harness;

// Records every command on its way to the wrapped device.
class TracingDevice : public sim::Device {
 public:
  TracingDevice(sim::Device& inner, Harness& harness) : inner_(inner), harness_(harness) {}
  sim::Outcome Execute(const sim::Command& command) override;
  uint8_t PeripheralByte() const override { return inner_.PeripheralByte(); }
  void StandardInquiry(uint8_t out[36]) const override { inner_.StandardInquiry(out); }

 private:
  sim::Device& inner_;
  Harness& harness_;
};

// Check boxes of the owner dialog, as BM_GETCHECK answers them.
struct FakeOwner : UpdateOwner {
  int forceBootOverwrite = 0;
  int disableChecksumProtect = 0;
  int GetCheckState(int controlId) const override {
    return controlId == kForceBootOverwriteBox ? forceBootOverwrite : disableChecksumProtect;
  }
};

class Harness {
 public:
  Harness();
  ~Harness();
  Harness(const Harness&) = delete;
  Harness& operator=(const Harness&) = delete;

  // Puts `device` behind the transport (traced); returns the job's drive record for it.
  void Attach(sim::Device& device);
  // A job for the attached drive, with the harness's callbacks, on the NT transport (or, with
  // useNt 0, on an ASPI transport that finds no manager); the version reported matches.
  UpdateJob Job(const std::string& path, uint8_t isHexFile, uint8_t useNt = 1);
  // The operating system the engine is to be built with.
  platform::WindowsOs& os() { return *portOs_; }

  // What the user saw, in order: "status: ...", "log: ...", "box: ...".
  std::vector<std::string> events;
  std::vector<std::string> statuses;
  std::vector<std::string> logs;
  std::vector<int> progress;
  std::vector<Box> boxes;
  // Answers for the message boxes in turn; when empty a box answers No (or OK).
  std::deque<int> answers;

  // Terminate requests: isAbortRequested answers what this says for each query (counted from
  // 1); without it, never.
  std::function<uint8_t(int query)> abortAnswer;
  int abortQueries = 0;

  sim::VirtualClock clock;
  std::vector<uint32_t> sleeps;
  std::vector<std::string> librariesLoaded;
  bool windowsNt = true;  // the family getVersion reports; Job sets it to match the transport
  bool privilegeGranted = true;
  int privilegeRequests = 0;
  std::vector<uint32_t> exitRequests;  // flags of each ExitWindowsEx
  int imagesHeld = 0;                  // storage blocks obtained and not yet freed
  bool failImageStorage = false;
  int inputFilesOpen = 0;              // firmware files opened and not yet closed

  std::vector<TraceEntry> trace;
  std::unique_ptr<TracingDevice> tracer;
  sim::Device* device = nullptr;  // what the transport reaches (the tracer)
  // Called before each command reaches the device (e.g. to request a terminate mid-run).
  std::function<void(const TraceEntry&)> onCommand;

 private:
  class FakeOs;

  std::unique_ptr<platform::WindowsOs> system_;
  std::unique_ptr<FakeOs> fakes_;
  sim::NtPort port_;
  std::unique_ptr<sim::NtPortOs> portOs_;
  std::unique_ptr<NtPassThroughTransport> nt_;
  std::unique_ptr<AspiTransport> aspi_;
  DriveRecord record_{};
};

// Count of traced commands whose CDB starts with `opcode` (and, if given, has `mode` in byte 1).
int CountCommands(const std::vector<TraceEntry>& trace, uint8_t opcode, int mode = -1);

}  // namespace enginetest
