// Firmware files for tests and benchmarks: a patterned image and its text-record form.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace enginetest {

// A 512 KiB image with a pattern that differs from block to block.
std::vector<uint8_t> PatternImage(uint32_t seed = 1);

// The image as text records: 16 data bytes per record, a bank record before each further
// 64 KiB, an end record; lines end in CR LF. About 1.4 MB for a full image.
std::string TextRecordsFor(const std::vector<uint8_t>& image);

// What loading leaves of `image`: the drive's `bootData` at 0..0x3FFF, then the seal and its
// four 0xFF bytes in the last eight bytes. This is also what the drive holds after a clean run.
std::vector<uint8_t> FinishedImage(std::vector<uint8_t> image,
                                   const std::vector<uint8_t>& bootData);

}  // namespace enginetest
