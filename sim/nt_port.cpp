#include "sim/nt_port.h"

#include <algorithm>
#include <cstring>

namespace sim {
namespace {

char LowerLetter(char letter) {
  return (letter >= 'A' && letter <= 'Z') ? static_cast<char>(letter - 'A' + 'a') : letter;
}

// The letter of "\\.\x:", 0 for any other path.
char LetterOfPath(const char* path) {
  if (path == nullptr || std::strncmp(path, "\\\\.\\", 4) != 0) return 0;
  if (path[5] != ':' || path[6] != '\0') return 0;
  const char letter = LowerLetter(path[4]);
  return (letter >= 'a' && letter <= 'z') ? letter : 0;
}

}  // namespace

NtPort::Letter& NtPort::At(char letter) { return letters_[LowerLetter(letter)]; }

const NtPort::Letter* NtPort::Find(char letter) const {
  auto it = letters_.find(LowerLetter(letter));
  return it == letters_.end() ? nullptr : &it->second;
}

void NtPort::Attach(char letter, Device* device, uint8_t pathId, uint8_t targetId) {
  Letter& state = At(letter);
  state.device = device;
  state.attached = true;
  state.gone = false;
  state.pathId = pathId;
  state.targetId = targetId;
}

void NtPort::SetOpenFails(char letter, bool fails) { At(letter).openFails = fails; }

void NtPort::ListDevice(char letter, uint8_t bus, uint8_t pathId, uint8_t targetId,
                        const Device& device) {
  ListedDevice entry{};
  entry.pathId = pathId;
  entry.targetId = targetId;
  entry.lun = 0;
  device.StandardInquiry(entry.inquiry.data());
  ListInquiry(letter, bus, entry);
}

void NtPort::ListNothing(char letter) {
  Letter& state = At(letter);
  state.listingSet = true;
  state.buses.assign(1, {});
}

void NtPort::ListInquiry(char letter, uint8_t bus, const ListedDevice& entry) {
  Letter& state = At(letter);
  state.listingSet = true;
  if (state.buses.size() <= bus) state.buses.resize(size_t{bus} + 1);
  state.buses[bus].push_back(entry);
}

void NtPort::SetRawInquiryData(char letter, std::vector<uint8_t> bytes) {
  Letter& state = At(letter);
  state.hasRaw = true;
  state.raw = std::move(bytes);
}

void NtPort::SetInquiryDataFails(char letter, bool fails) { At(letter).inquiryDataFails = fails; }

void NtPort::SetCapabilities(char letter, uint32_t alignmentMask, uint32_t maximumTransferLength) {
  Letter& state = At(letter);
  state.alignmentMask = alignmentMask;
  state.maximumTransferLength = maximumTransferLength;
  state.capabilitiesFail = false;
}

void NtPort::SetCapabilitiesFail(char letter, bool fails) { At(letter).capabilitiesFail = fails; }

void NtPort::Disappear(char letter) { At(letter).gone = true; }

bool NtPort::WasClosed(platform::Handle handle) const {
  return std::find(closed_.begin(), closed_.end(), handle) != closed_.end();
}

char NtPort::LetterOf(platform::Handle handle) const {
  auto it = letterOf_.find(handle);
  return it == letterOf_.end() ? 0 : it->second;
}

std::vector<uint8_t> NtPort::InquiryDataBytes(char letter) const {
  const Letter* state = Find(letter);
  if (state == nullptr) return {};
  if (state->hasRaw) return state->raw;
  if (!state->listingSet && state->device != nullptr) {
    Letter copy = *state;
    copy.buses.assign(1, {});
    ListedDevice own{};
    own.pathId = state->pathId;
    own.targetId = state->targetId;
    state->device->StandardInquiry(own.inquiry.data());
    copy.buses[0].push_back(own);
    copy.listingSet = true;
    return LayOut(copy);
  }
  return LayOut(*state);
}

std::vector<uint8_t> NtPort::LayOut(const Letter& state) const {
  // SCSI_ADAPTER_BUS_INFO with one SCSI_BUS_DATA per bus, then each bus's chain of
  // SCSI_INQUIRY_DATA entries, each starting on a 4-byte boundary.
  const size_t busTable = offsetof(SCSI_ADAPTER_BUS_INFO, BusData);
  const size_t header = offsetof(SCSI_INQUIRY_DATA, InquiryData);
  const size_t buses = state.buses.size();
  size_t end = busTable + std::max<size_t>(buses, 1) * sizeof(SCSI_BUS_DATA);
  std::vector<uint8_t> bytes(end, 0);
  bytes[offsetof(SCSI_ADAPTER_BUS_INFO, NumberOfBuses)] = static_cast<uint8_t>(buses);
  for (size_t b = 0; b < buses; ++b) {
    SCSI_BUS_DATA bus{};
    bus.NumberOfLogicalUnits = static_cast<uint8_t>(state.buses[b].size());
    bus.InitiatorBusId = 7;
    size_t previous = 0;
    for (const ListedDevice& listed : state.buses[b]) {
      const size_t offset = (bytes.size() + 3) & ~size_t{3};
      bytes.resize(offset + header + listed.inquiry.size(), 0);
      SCSI_INQUIRY_DATA entry{};
      entry.PathId = listed.pathId;
      entry.TargetId = listed.targetId;
      entry.Lun = listed.lun;
      entry.DeviceClaimed = 1;
      entry.InquiryDataLength = static_cast<uint32_t>(listed.inquiry.size());
      entry.NextInquiryDataOffset = 0;
      std::memcpy(bytes.data() + offset, &entry, header);
      std::memcpy(bytes.data() + offset + header, listed.inquiry.data(), listed.inquiry.size());
      if (previous == 0) {
        bus.InquiryDataOffset = static_cast<uint32_t>(offset);
      } else {
        const uint32_t next = static_cast<uint32_t>(offset);
        std::memcpy(bytes.data() + previous + offsetof(SCSI_INQUIRY_DATA, NextInquiryDataOffset),
                    &next, sizeof(next));
      }
      previous = offset;
    }
    std::memcpy(bytes.data() + busTable + b * sizeof(SCSI_BUS_DATA), &bus, sizeof(bus));
  }
  return bytes;
}

platform::Handle NtPort::OpenDevice(const char* path) {
  const char letter = LetterOfPath(path);
  openAttempts_.push_back(letter);
  const Letter* state = letter ? Find(letter) : nullptr;
  if (state == nullptr || !state->attached || state->openFails || state->gone ||
      (state->device != nullptr && !state->device->Present())) {
    return platform::InvalidHandle();
  }
  const platform::Handle handle = reinterpret_cast<platform::Handle>(nextHandle_);
  nextHandle_ += 0x10;
  handles_[handle] = letter;
  attachmentOf_[handle] = state->device != nullptr ? state->device->Attachment() : 0;
  letterOf_[handle] = letter;
  opened_.push_back(handle);
  return handle;
}

bool NtPort::CloseHandle(platform::Handle handle) {
  auto it = handles_.find(handle);
  if (it == handles_.end()) return false;
  handles_.erase(it);
  closed_.push_back(handle);
  return true;
}

bool NtPort::DeviceControl(platform::Handle handle, uint32_t code, void* in, uint32_t inSize,
                           void* out, uint32_t outSize, uint32_t* bytesReturned) {
  if (bytesReturned != nullptr) *bytesReturned = 0;
  auto it = handles_.find(handle);
  if (it == handles_.end()) return false;  // never opened, or already closed
  const char letter = it->second;
  Letter& state = At(letter);
  if (code == IOCTL_SCSI_PASS_THROUGH_DIRECT) {
    const bool ok = PassThrough(handle, letter, state, in, inSize, out, outSize);
    if (ok && bytesReturned != nullptr) *bytesReturned = outSize;
    return ok;
  }
  if (state.gone) return false;

  switch (code) {
    case IOCTL_SCSI_GET_INQUIRY_DATA: {
      if (state.inquiryDataFails || out == nullptr) return false;
      const std::vector<uint8_t> bytes = InquiryDataBytes(letter);
      if (state.hasRaw) {  // raw data is handed over as far as it fits, as a faulty driver might
        const size_t n = std::min<size_t>(bytes.size(), outSize);
        if (n != 0) std::memcpy(out, bytes.data(), n);  // an empty vector's data() may be null
        if (bytesReturned != nullptr) *bytesReturned = static_cast<uint32_t>(n);
        return true;
      }
      if (bytes.size() > outSize) return false;  // ERROR_INSUFFICIENT_BUFFER
      std::memcpy(out, bytes.data(), bytes.size());
      if (bytesReturned != nullptr) *bytesReturned = static_cast<uint32_t>(bytes.size());
      return true;
    }
    case IOCTL_SCSI_GET_CAPABILITIES: {
      if (state.capabilitiesFail || out == nullptr || outSize < sizeof(IO_SCSI_CAPABILITIES)) {
        return false;
      }
      IO_SCSI_CAPABILITIES caps{};
      caps.Length = sizeof(IO_SCSI_CAPABILITIES);
      caps.MaximumTransferLength = state.maximumTransferLength;
      caps.MaximumPhysicalPages = state.maximumTransferLength / 4096 + 1;
      caps.AlignmentMask = state.alignmentMask;
      std::memcpy(out, &caps, sizeof(caps));
      if (bytesReturned != nullptr) *bytesReturned = sizeof(caps);
      return true;
    }
    default:
      return false;
  }
}

bool NtPort::PassThrough(platform::Handle handle, char letter, Letter& state, void* in, uint32_t inSize, void* out,
                         uint32_t outSize) {
  if (in == nullptr || out == nullptr || inSize < sizeof(SCSI_PASS_THROUGH_DIRECT) ||
      outSize < sizeof(SCSI_PASS_THROUGH_DIRECT)) {
    return false;
  }
  SCSI_PASS_THROUGH_DIRECT request;
  std::memcpy(&request, in, sizeof(request));
  PassThroughRecord record{};
  record.handle = handle;
  record.letter = letter;
  record.request = request;
  record.inSize = inSize;
  record.outSize = outSize;
  record.delivered = false;

  const bool senseFits = request.SenseInfoLength == 0 ||
                         uint64_t{request.SenseInfoOffset} + request.SenseInfoLength <= outSize;
  const bool aligned =
      (reinterpret_cast<uintptr_t>(request.DataBuffer) & uintptr_t{state.alignmentMask}) == 0;
  const bool sameAttachment = state.device != nullptr && state.device->Present() &&
                              attachmentOf_[handle] == state.device->Attachment();
  if (state.gone || state.device == nullptr || !sameAttachment || request.CdbLength == 0 ||
      request.CdbLength > 16 || !senseFits || !aligned ||
      (request.DataTransferLength > 0 && request.DataBuffer == nullptr)) {
    passThroughs_.push_back(record);
    return false;
  }

  Command command{};
  command.cdb = request.Cdb;
  command.cdbLength = request.CdbLength;
  command.data = static_cast<uint8_t*>(request.DataBuffer);
  command.dataLength = request.DataTransferLength;
  command.timeOutMs = MillisecondsOf(request.TimeOutValue);
  if (request.DataTransferLength == 0) {
    command.direction = kDirNone;
  } else if (request.DataIn == SCSI_IOCTL_DATA_IN) {
    command.direction = kDirIn;
  } else if (request.DataIn == SCSI_IOCTL_DATA_OUT) {
    command.direction = kDirOut;
  } else {
    command.direction = kDirNone;
  }
  const Outcome outcome = state.device->Execute(command);
  if (!outcome.delivered) {
    passThroughs_.push_back(record);
    return false;
  }
  record.delivered = true;
  passThroughs_.push_back(record);

  auto* reply = static_cast<SCSI_PASS_THROUGH_DIRECT*>(out);
  if (static_cast<void*>(reply) != in) std::memcpy(reply, &request, sizeof(request));
  reply->ScsiStatus = outcome.status;
  // As the port driver does, DataTransferLength comes back as the bytes actually moved.
  reply->DataTransferLength =
      request.DataTransferLength - std::min<uint32_t>(outcome.residual, request.DataTransferLength);
  if (outcome.status != kStatusGood && request.SenseInfoLength > 0) {
    const size_t n = std::min<size_t>(request.SenseInfoLength, kSenseLength);
    std::memcpy(static_cast<uint8_t*>(out) + request.SenseInfoOffset, outcome.sense, n);
  }
  return true;
}

}  // namespace sim
