// The files the terminal program writes (--trace, --sim-flash) must never be its own input, the
// firmware file, nor each other: a trace written over the firmware file would be sent to the
// drive as its image.
#pragma once

#include <string>

// True when the two paths name one file: the same device and inode when both exist; otherwise
// the same resolved path (symbolic links, "." and ".." followed as far as the path exists).
bool SameFile(const std::string& a, const std::string& b);

// Checks that traceFile and simFlashFile (each may be empty: not written) name neither the
// firmware file nor each other. False with a one-line reason in `error`.
bool CheckOutputFiles(const std::string& firmwareFile, const std::string& traceFile,
                      const std::string& simFlashFile, std::string& error);

// Opens an output file for writing, close-on-exec, without ever blocking: a FIFO without a
// reader, a device, a directory or anything else that is not a regular file is refused (-1,
// with a one-line reason in `error` naming `option`). A regular file is created or emptied.
// Returns the descriptor, in blocking mode once it is known to be a regular file.
int OpenOutputFile(const std::string& path, const char* option, std::string& error);
