// Command blocks of the supported drive's download protocol and the steps the drive tests
// share: sending a block, reading the progress, a sealed image as the updater would send it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "sim/device.h"
#include "sumseal/seal.h"

namespace sim {
namespace testing_blocks {

// 12-byte command blocks of the download protocol.
inline std::vector<uint8_t> BufferCdb(uint8_t opcode, uint32_t address, uint32_t length,
                                      uint8_t mode = 2, uint8_t id = 0) {
  return {opcode, mode, id, uint8_t(address >> 16), uint8_t(address >> 8), uint8_t(address),
          uint8_t(length >> 16), uint8_t(length >> 8), uint8_t(length), 0x0A, 0x0B, 0x0C};
}

inline std::vector<uint8_t> CommitCdb(uint16_t sum, uint8_t b9 = 0x0A, uint8_t b10 = 0x0B,
                                      uint8_t b11 = 0x0C) {
  return {0x3B, 0x01, 0x01, uint8_t(sum >> 8), uint8_t(sum), 0, 0, 0, 0, b9, b10, b11};
}

inline const std::vector<uint8_t> kPrepareCdb = {0xF1, 0x01, 0, 0, 0x40, 0x7D,
                                                 0,    0,    0, 0x26, 0, 0};
inline const std::vector<uint8_t> kRequestSenseCdb = {0x03, 0, 0, 0, 18, 0, 0, 0, 0, 0, 0, 0};
inline const std::vector<uint8_t> kStopUnitCdb = {0x1B, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
inline const std::vector<uint8_t> kInquiryCdb = {0x12, 0, 0, 0, 36, 0};
inline const std::vector<uint8_t> kTestUnitReadyCdb = {0x00, 0, 0, 0, 0, 0};

inline Outcome Send(Device& d, const std::vector<uint8_t>& cdb, uint8_t dir, uint8_t* data,
                    uint32_t length, uint32_t timeOutMs = 0) {
  return d.Execute(Command{cdb.data(), uint8_t(cdb.size()), dir, data, length, timeOutMs});
}

// Sense key, ASC and ASCQ, and the INFORMATION field (the progress in bytes).
struct Progress {
  uint8_t key, asc, ascq;
  uint32_t done;
};

inline Progress SenseOf(const uint8_t* sense) {
  return {sense[2], sense[12], sense[13],
          (uint32_t{sense[3]} << 24) | (uint32_t{sense[4]} << 16) | (uint32_t{sense[5]} << 8) |
              sense[6]};
}

// REQUEST SENSE as the updater polls: 18 bytes.
inline Progress RequestSense(Device& d) {
  uint8_t reply[18] = {};
  Send(d, kRequestSenseCdb, kDirIn, reply, 18);
  return SenseOf(reply);
}

// A sealed image as the updater would send it, with its 16-bit sum.
inline std::vector<uint8_t> SealedImage(uint16_t& sum) {
  std::vector<uint8_t> image(0x80000);
  for (uint32_t i = 0; i < image.size(); ++i) image[i] = uint8_t(i * 31 + (i >> 11));
  const uint32_t seal = sumseal::ComputeImageSeal(image.data(), 0x80000, 0x3000, 0x1000);
  const uint8_t trailer[8] = {uint8_t(seal >> 24), uint8_t(seal >> 16), uint8_t(seal >> 8),
                              uint8_t(seal), 0xFF, 0xFF, 0xFF, 0xFF};
  std::copy(trailer, trailer + 8, image.end() - 8);
  sum = 0;
  for (uint8_t b : image) sum = uint16_t(sum + b);
  return image;
}

// Writes `image` into the drive's buffer, block by block; false when a block is refused.
inline bool Upload(Device& d, std::vector<uint8_t>& image) {
  for (uint32_t a = 0; a < image.size(); a += 4096) {
    if (Send(d, BufferCdb(0x3B, a, 4096), kDirOut, image.data() + a, 4096).status != kStatusGood) {
      return false;
    }
  }
  return true;
}

}  // namespace testing_blocks
}  // namespace sim
