// What the transports' discovery shares: the list's limit, and the identity taken from standard
// INQUIRY data.
#pragma once

#include <cstdint>

#include "drive/drive.h"

namespace drive {

constexpr uint8_t kCdRomPeripheralByte = 5;  // qualifier 0 (connected), device type 5
constexpr uint32_t kStandardInquiryLength = 36;

bool ListIsFull(const DriveList& drives);
void Append(DriveList& drives, DriveRecord* record);
// Identity (vendor and product, 24 characters) and revision (4) from standard INQUIRY data.
void SetIdentity(DriveRecord& record, const uint8_t* inquiry);

}  // namespace drive
