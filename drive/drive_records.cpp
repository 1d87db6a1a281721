#include "drive/drive_records.h"

#include <cstring>

#include "platform/platform.h"

namespace drive {
namespace {

constexpr uint32_t kIdentityLength = 24;
constexpr uint32_t kRevisionLength = 4;

// Copies up to `count` source bytes, stopping at a NUL; the rest of the field is NUL.
void CopyText(char* field, size_t fieldSize, const uint8_t* source, size_t count) {
  std::memset(field, 0, fieldSize);
  for (size_t i = 0; i < count && i + 1 < fieldSize && source[i] != 0; ++i) {
    field[i] = static_cast<char>(source[i]);
  }
}

}  // namespace

void SetIdentity(DriveRecord& record, const uint8_t* inquiry) {
  CopyText(record.identity, sizeof(record.identity), inquiry + 8, kIdentityLength);
  CopyText(record.revision, sizeof(record.revision), inquiry + 32, kRevisionLength);
}

DriveRecord* NewRecord() {
  return static_cast<DriveRecord*>(platform::os().heapAlloc(sizeof(DriveRecord)));
}

bool ListIsFull(const DriveList& drives) { return drives.count >= kMaxDrives; }

void Append(DriveList& drives, DriveRecord* record) { drives.records[drives.count++] = record; }

}  // namespace drive

void ReleaseDrives(DriveList& drives) {
  for (uint32_t i = 0; i < drives.count && i < kMaxDrives; ++i) {
    DriveRecord* record = drives.records[i];
    if (record == nullptr) continue;
    const platform::Handle handle = record->deviceHandle;
    bool closedBefore = false;
    for (uint32_t j = 0; j < i; ++j) {
      if (drives.records[j] != nullptr && drives.records[j]->deviceHandle == handle) {
        closedBefore = true;
      }
    }
    if (handle != nullptr && handle != platform::InvalidHandle() && !closedBefore) {
      platform::os().closeHandle(handle);
    }
  }
  for (uint32_t i = 0; i < drives.count && i < kMaxDrives; ++i) {
    platform::os().heapFree(drives.records[i]);
    drives.records[i] = nullptr;
  }
  drives.count = 0;
}
