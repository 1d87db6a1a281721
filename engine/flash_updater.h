// The update engine: one FlashUpdater per firmware update run.
#pragma once

#include <cstdint>

#include "drive/supported_model.h"
#include "engine/firmware_reader.h"
#include "engine/update_job.h"

// The 512 KiB firmware image as 16 banks of 32 KiB, consecutive slices of one storage block.
struct FirmwareImage {
  uint8_t* banks[16];
  uint32_t length;
  uint8_t bankIndex;
  uint16_t bankOffset;
};

constexpr uint32_t kImageSize = kSupportedDrive.imageSize;
constexpr uint32_t kBankSize = 0x8000;
constexpr uint32_t kBankCount = 16;
constexpr uint32_t kBlockSize = 4096;

// Drive buffer address where the drive places its own 16 KiB of boot data after PrepareReadBack.
constexpr uint32_t kBootDataAddress = kSupportedDrive.bootDataAddress;
constexpr uint32_t kBootDataSize = kSupportedDrive.bootDataSize;

// Drive progress values (bytes programmed) that count as the end of programming.
constexpr uint32_t kEndWindowFirst = 0x7E000;
constexpr uint32_t kEndWindowLast = 0x80000;

// Pauses of the run.
constexpr uint32_t kClosingPauseMs = 1500;
constexpr uint32_t kPollIntervalMs = 168;
// A drive that programs its flash may miss an answer to the progress poll; only this long a
// silence after its last answer (or after the commit) ends the polling, as a failure.
constexpr uint32_t kSilenceLimitMs = 60000;

// Attempts per block: the first and up to five more.
constexpr int kBlockAttempts = 6;

// The sixteen error texts that FailWithMessage shows as "ERR: %s".
extern const char* const errorMessages[16];

// Indices into errorMessages that the engine uses.
constexpr int kErrOpenInput = 3;
constexpr int kErrReadInput = 5;
constexpr int kErrFormat = 6;
constexpr int kErrReadFlash = 7;
constexpr int kErrAllocate = 11;
constexpr int kErrTerminate = 14;

// Results of LoadFirmwareFile.
constexpr int32_t kLoadOk = 1;
constexpr int32_t kLoadFormatError = -1;   // the run shows "input file format mismatched!"
constexpr int32_t kLoadReadError = -2;     // the run shows "fail to read input file!"
constexpr int32_t kLoadAlreadyShown = -3;  // the loader has shown its own message already


// The texts the run shows.
extern const char kUnableToStartText[];  // box after an abort or a failed block or commit
// Log line for a terminate request seen once the commit has been sent.
extern const char kTerminateWhileProgrammingText[];

class FlashUpdater {
 public:
  // Copies what it needs out of `job`; keeps `owner` only to read its two option check boxes.
  FlashUpdater(const UpdateOwner& owner, const UpdateJob& job);
  virtual ~FlashUpdater();
  FlashUpdater(const FlashUpdater&) = delete;
  FlashUpdater& operator=(const FlashUpdater&) = delete;

  // One whole update: stop, load, transfer, commit, poll, closing messages, restart offer.
  // Returns the outcome the closing messages said.
  UpdateOutcome Run();

  // --- The run (update_run.cpp) ---
  // Stop, load, send 128 blocks, commit, poll. 0 when everything ran through, 0xFF otherwise.
  uint8_t TransferImage();

  // --- Error exit (flash_updater.cpp) ---
  // Shows "ERR: " and errorMessages[index], closes the firmware file, releases the image.
  void FailWithMessage(int index);
  // Releases the image storage if it is held; all 16 bank pointers become null.
  void ReleaseImage();

  // --- Loading (firmware_loader.cpp) ---
  // 1 loaded, finished and sealed; -1 format failure; -2 open or read failure; -3 a message
  // has already been shown (storage not obtained, a character reader failed, or the drive's
  // boot data could not be read back). Opens firmwarePath (a regular file only) and loads it
  // with LoadFirmwareFrom.
  int32_t LoadFirmwareFile();
  // The same load from an opened source (the file, or bytes in memory); the load closes it.
  int32_t LoadFirmwareFrom(FirmwareReader& source);
  // Reads the drive's boot data into image addresses 0..0x3FFF, twice, and seals the image.
  // False when the prepare command or a read-back failed or the two reads differ: those image
  // bytes are then not known to be the drive's. Virtual so that a check of the file alone can
  // run the loaders without any drive.
  virtual bool FinishImage();
  // Character readers of the text format. On end of file, a wrong character or a terminate
  // request they call FailWithMessage and answer false / kReaderFailed; the load must end then.
  // The two digit readers are inline in firmware_loader.cpp, for the loader's own use: they run
  // once or twice for every character of the file.
  static constexpr int kReaderFailed = -1;
  bool SkipToRecordMark(char mark);
  int ReadHexDigit();  // 0..15, or kReaderFailed
  int ReadHexByte();   // 0..255 (added to recordSum), or kReaderFailed

  // --- Download commands (download_commands.cpp) ---
  // Each sends one 12-byte command block through SendScsiRequest and returns true when the
  // transport reports success, except where noted. `senseArea` (kSenseAreaSize bytes) receives
  // the drive's sense data when a command fails.
  bool StopUnit(uint8_t* senseArea);
  bool WriteBlock(uint32_t address, uint8_t* senseArea);
  // True when the read-back succeeds and all 4096 bytes equal the image block at the cursor.
  bool VerifyBlock(uint32_t address, uint8_t* senseArea);
  bool ReadDriveBuffer(uint32_t address, uint32_t length, uint8_t* destination);
  bool PrepareReadBack();
  bool CommitUpdate(uint8_t* senseArea);
  // The drive's programming progress in per cent; 100 ends the polling. Sets the flags above.
  // `answered` (if given) says whether the drive answered at all: a REQUEST SENSE that failed is
  // no answer, which decides nothing (the result is then 0 and the flags stay as they were).
  uint8_t PollProgress(bool* answered = nullptr);
  // The polling's outcome flags, this run's own (both 0 when it is built).
  int32_t completionSeen = 0;   // 1 once a poll saw the end window
  int32_t updateSucceeded = 0;  // the outcome of the last deciding poll

  // --- Fields ---
  DriveRecord drive;          // copy of the job's target drive
  char firmwarePath[512];     // copy of the job's file path
  FirmwareReader* firmwareFile;  // the open firmware file (or bytes) only while it is loaded
  FirmwareImage image;        // banks null until loaded, and again once released
  uint8_t isHexFile;          // 1: text records; 0: raw binary
  uint8_t recordSum;          // running sum of the current text record's bytes
  uint16_t imageSum;          // sum of all image bytes modulo 65536, sent with the commit
  uint32_t fileBytes;         // image bytes that the firmware file supplied to the last load
  uint8_t useNtPassThrough;   // the job's transport flag, carried in each request
  DriveTransport* transport;  // the job's transport: every command goes through it
  uint32_t bankBase;          // text loader: 0x10000 higher for each bank record
  UiCallbacks callbacks;      // copy of the job's four operations
  const UpdateOwner* owner;   // the dialog whose check boxes the commit reads

 private:
  // Sends one 12-byte command block through the transport.
  bool Send(const uint8_t cdb[12], uint8_t direction, uint8_t* data, uint32_t length,
            uint8_t* senseArea);
  int32_t LoadTextRecords();
  int32_t LoadBinaryFile();
  int32_t FinishLoad(int32_t result);
  // Reads one character; 0xFF (and the end of the file, or a read error) stand for end of file.
  int ReadChar();
  // Refills the read-ahead and answers its first character, as ReadChar does.
  int RefillAhead();
  // Polls the drive until it reports the end or stays silent too long (the run's step after
  // the commit); notes a terminate request, which cannot stop a programming drive.
  void FollowProgramming();

  FileReader file_;  // the firmware file while LoadFirmwareFile reads it
  // Read-ahead of the text loader, so that its one-character reads stay cheap.
  uint8_t ahead_[4096];
  uint32_t aheadAt_ = 0;
  uint32_t aheadEnd_ = 0;
};
