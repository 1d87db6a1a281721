// Loading a firmware file into the image: text records or a raw binary image. The load reads
// the file's bytes through a FirmwareReader (the file, or bytes in memory) and touches neither a
// drive nor the user interface: it answers with the image or with the failure and the message
// that names it. Finishing the image (the drive's boot data, the seal) is the run's next step.
#pragma once

#include <cstddef>
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

// Why a load refused the file, in more words than the message the run shows: a front end that
// explains a refusal reads it; the result and the message above stay what the run acts on.
enum LoadDetail : int32_t {
  kDetailNone = 0,         // a good load, a terminate request, no storage
  kDetailNotDigit,         // text: `value` is the character where a hexadecimal digit belongs
  kDetailEndInRecord,      // text: the file ends inside a record
  kDetailNoEndRecord,      // text: the file ends before its end record (`value` 0xFF: at a
                           // byte 0xFF, which counts as the end; 0: at the end itself)
  kDetailRecordType,       // text: `value` is a record type other than 00, 01 and 55
  kDetailCountNotZero,     // text: an end or bank record (type in `value`) with a count
  kDetailChecksum,         // text: the record's bytes sum to `value`, not 0
  kDetailBeyondImage,      // text: a data byte for address `value`, past the image's end
  kDetailNoData,           // text: an end record with no data byte before it
  kDetailNothingSurvives,  // every byte supplied lies under the drive's boot data or the seal
  kDetailEmptyFile,        // binary: the file holds no byte
  kDetailTooLarge,         // binary: the file is longer than the image
  kDetailShortRead,        // binary: the file did not deliver the bytes measured
};

struct LoadResult {
  int32_t result;      // kLoadOk, kLoadFormatError, kLoadReadError or kLoadStopped
  int message;         // with kLoadStopped: the index into errorMessages; otherwise -1
  uint32_t fileBytes;  // after kLoadOk: the image bytes that the file supplied
  // After kLoadOk: how many of them reach the drive as the file set them (SurvivesFinishing).
  // A file none of whose bytes would survive is a format failure: it would flash nothing of
  // its own, only zeros.
  uint32_t survivingBytes;
  int32_t detail;  // a LoadDetail
  uint32_t value;  // the detail's value, as LoadDetail says
  // Text records: the line (from 1, counted by line feeds) where the load stopped; 0 for a
  // binary file and a good load.
  uint32_t line;
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

// The detail of `load` in words, with its line first where it has one ("line 3: record type 04
// is not used by this format (00, 01 and 55 are)"), into `text` (always terminated). False,
// with `text` empty, when the load has no detail. Sizes are said as `model`'s, the model loaded.
bool DescribeLoadDetail(const LoadResult& load, char* text, size_t size,
                        const DriveModel& model = kSupportedDrive);
