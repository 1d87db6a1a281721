#include "drive/drive_records.h"

#include <cstring>


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

bool ListIsFull(const DriveList& drives) { return drives.count >= kMaxDrives; }

void Append(DriveList& drives, DriveRecord* record) { drives.records[drives.count++] = record; }

}  // namespace drive
