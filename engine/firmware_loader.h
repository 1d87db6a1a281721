// Loading a firmware file into the image: text records or a raw binary image. The load reads
// the file's bytes through a FirmwareReader (the file, or bytes in memory) and touches neither a
// drive nor the user interface: it answers with the image or with the failure and the message
// that names it. Finishing the image (the drive's boot data, the seal) is the run's next step.
#pragma once

#include <cstdint>

#include "engine/firmware_image.h"
#include "engine/firmware_reader.h"

// Results of a load.
constexpr int32_t kLoadOk = 1;
constexpr int32_t kLoadFormatError = -1;  // the run shows "input file format mismatched!"
constexpr int32_t kLoadReadError = -2;    // the run shows "fail to read input file!"
// The load stopped at once (no storage, a wrong character or the end of the file inside the
// text records, a terminate request): the result names the message that says why. Once the
// updater has shown that message, the same value means "already shown".
constexpr int32_t kLoadStopped = -3;
constexpr int32_t kLoadAlreadyShown = kLoadStopped;

// Asked before every character of a text file is used: 1 once the user has confirmed a
// terminate request.
struct AbortQuery {
  void* context;
  uint8_t (*isAbortRequestedOf)(void* context);
};

struct LoadResult {
  int32_t result;      // kLoadOk, kLoadFormatError, kLoadReadError or kLoadStopped
  int message;         // with kLoadStopped: the index into errorMessages; otherwise -1
  uint32_t fileBytes;  // after kLoadOk: the image bytes that the file supplied
  // After kLoadOk: how many of them reach the drive as the file set them (SurvivesFinishing).
  // A file none of whose bytes would survive is a format failure: it would flash nothing of
  // its own, only zeros.
  uint32_t survivingBytes;
};

// Loads `source` (text records when `isHexFile` is 1, else a binary image) into `image`, an
// image of `model`'s size (the image keeps a pointer to `model`, which must outlive it), whose
// storage it obtains from `os`. The storage stays held for the caller, also after a failure,
// whenever it was obtained: after kLoadOk, kLoadFormatError or kLoadReadError it holds the
// load's bytes, and the run finishes it; the caller releases it. A binary file that is empty or
// longer than the image obtains none. `source` is left open.
LoadResult LoadFirmware(platform::Os& os, FirmwareReader& source, uint8_t isHexFile,
                        AbortQuery abort, FirmwareImage& image,
                        const DriveModel& model = kSupportedDrive);
