// fwsim-iscsi-target: serves the devices of a simulation scenario as iSCSI logical units on the
// loopback address, so that a guest kernel under QEMU (through QEMU's iSCSI initiator) reaches
// the simulated drive as a real SCSI device. A test tool; never installed.
//
//   fwsim-iscsi-target --port N [--scenario TEXT] [--iqn NAME] [--flash FILE] [--trace FILE]
//                      [--program-ms N] [--finish-ms N] [--lifetime SECONDS]
//
// --port 0 picks a free port. The first line on standard output is "listening 127.0.0.1:PORT".
// It runs until SIGTERM or SIGINT, or at most --lifetime seconds (default 900), then writes the
// supported drive's flash to --flash. --trace gets one line per SCSI command. The drive programs
// for --program-ms (default 8000), then reports all bytes done for --finish-ms (default 1000):
// the end window the program must see, kept wide enough for a guest under TCG (a scenario's
// finish= item takes precedence). A LOGICAL UNIT RESET or a target reset resets the drives
// (sim/iscsi/session.h), and the trace has a line for it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "sim/clock.h"
#include "sim/iscsi/pdu.h"
#include "sim/iscsi/scenario_units.h"
#include "sim/iscsi/session.h"
#include "sim/scenario.h"
#include "sim/scenario_devices.h"

namespace {

using sim::iscsi::Pdu;

std::atomic<bool> g_stop{false};

void OnSignal(int) { g_stop.store(true); }

constexpr int kPollMs = 200;

// Reads exactly `size` bytes; false on end of stream, error or stop.
bool ReadFull(int fd, uint8_t* out, size_t size) {
  size_t done = 0;
  while (done < size) {
    if (g_stop.load()) return false;
    pollfd p{fd, POLLIN, 0};
    const int ready = poll(&p, 1, kPollMs);
    if (ready < 0 && errno != EINTR) return false;
    if (ready <= 0) continue;
    const ssize_t n = read(fd, out + done, size - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool WriteFull(int fd, const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

void Serve(int fd, sim::iscsi::SessionConfig config, sim::iscsi::LogicalUnits* units) {
  sim::iscsi::Session session(config, *units);
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  for (;;) {
    Pdu in;
    if (!ReadFull(fd, in.header, sim::iscsi::kHeaderSize)) break;
    const uint32_t extra = sim::iscsi::AdditionalHeaderBytes(in.header);
    const uint32_t length = sim::iscsi::DataSegmentLength(in.header);
    // Login and text requests arrive before our limit is known to the initiator: allow 64 KiB.
    if (length > std::max<uint32_t>(config.maxRecvDataSegment, 65536)) {
      std::fprintf(stderr, "fwsim-iscsi-target: data segment of %u bytes refused\n", length);
      break;
    }
    std::vector<uint8_t> skipped(extra);
    if (extra > 0 && !ReadFull(fd, skipped.data(), extra)) break;
    std::vector<uint8_t> data(sim::iscsi::Padded(length));
    if (!data.empty() && !ReadFull(fd, data.data(), data.size())) break;
    data.resize(length);
    in.data = std::move(data);
    std::vector<Pdu> out;
    const bool keep = session.Receive(in, out);
    bool written = true;
    for (const Pdu& pdu : out) written = written && WriteFull(fd, sim::iscsi::Serialize(pdu));
    if (!keep || !written) break;
  }
  close(fd);
}

bool ParseNumber(const char* text, unsigned long max, unsigned long& out) {
  char* end = nullptr;
  out = std::strtoul(text, &end, 10);
  return end != text && *end == '\0' && out <= max;
}

int Usage(const char* why) {
  std::fprintf(stderr,
               "fwsim-iscsi-target: %s\nusage: fwsim-iscsi-target --port N [--scenario TEXT] "
               "[--iqn NAME] [--flash FILE] [--trace FILE] [--program-ms N] [--finish-ms N] "
               "[--lifetime S]\n",
               why);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned long port = 65536;
  unsigned long programMs = 8000;
  unsigned long finishMs = 1000;
  unsigned long lifetime = 900;
  std::string scenarioText;
  std::string iqn = "iqn.2026-01.test.fwloader:sim";
  std::string flashFile;
  std::string traceFile;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (i + 1 >= argc) return Usage(("missing value after " + option).c_str());
    const char* value = argv[++i];
    bool ok = true;
    if (option == "--port") {
      ok = ParseNumber(value, 65535, port);
    } else if (option == "--program-ms") {
      ok = ParseNumber(value, 600000, programMs);
    } else if (option == "--finish-ms") {
      ok = ParseNumber(value, 600000, finishMs);
    } else if (option == "--lifetime") {
      ok = ParseNumber(value, 86400, lifetime);
    } else if (option == "--scenario") {
      scenarioText = value;
    } else if (option == "--iqn") {
      iqn = value;
    } else if (option == "--flash") {
      flashFile = value;
    } else if (option == "--trace") {
      traceFile = value;
    } else {
      return Usage(("unknown option " + option).c_str());
    }
    if (!ok) return Usage(("bad value for " + option).c_str());
  }
  if (port > 65535) return Usage("--port is required");

  sim::Scenario scenario{};
  char reason[160];
  if (!sim::ParseScenario(scenarioText.c_str(), scenario, reason, sizeof reason)) {
    return Usage(reason);
  }
  std::FILE* trace = nullptr;
  if (!traceFile.empty() && (trace = std::fopen(traceFile.c_str(), "w")) == nullptr) {
    return Usage(("cannot write " + traceFile).c_str());
  }

  sim::SteadyClock clock;
  sim::KdrDriveConfig driveConfig;
  driveConfig.programMs = static_cast<uint32_t>(programMs);
  driveConfig.finishMs = static_cast<uint32_t>(finishMs);
  sim::ScenarioDevices devices(scenario, clock, driveConfig);
  sim::iscsi::ScenarioUnits units(devices, clock, trace);

  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // the loopback address only
  socklen_t addressLength = sizeof address;
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 8) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &addressLength) != 0) {
    std::perror("fwsim-iscsi-target: listen");
    return 2;
  }
  sim::iscsi::SessionConfig config;
  config.targetName = iqn;
  config.address = "127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + ",1";
  std::printf("listening 127.0.0.1:%u\n", ntohs(address.sin_port));
  std::fflush(stdout);

  std::signal(SIGTERM, OnSignal);
  std::signal(SIGINT, OnSignal);
  std::signal(SIGPIPE, SIG_IGN);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(lifetime);
  std::vector<std::thread> connections;
  while (!g_stop.load() && std::chrono::steady_clock::now() < deadline) {
    pollfd p{listener, POLLIN, 0};
    if (poll(&p, 1, kPollMs) <= 0) continue;
    const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) connections.emplace_back(Serve, fd, config, &units);
  }
  g_stop.store(true);
  for (std::thread& connection : connections) connection.join();
  close(listener);

  int status = 0;
  if (!flashFile.empty()) {
    units.Exclusively([&] {
      sim::KdrDrive* drive = devices.supportedDrive();
      if (drive == nullptr || !drive->DumpFlash(flashFile)) {
        std::fprintf(stderr, "fwsim-iscsi-target: no flash written to %s\n", flashFile.c_str());
        status = 1;
      }
    });
  }
  if (trace != nullptr) std::fclose(trace);
  return status;
}
