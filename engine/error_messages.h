// The sixteen error texts that the engine shows as "ERR: %s", and the indices it uses.
#pragma once

extern const char* const errorMessages[16];

constexpr int kErrOpenInput = 3;
constexpr int kErrReadInput = 5;
constexpr int kErrFormat = 6;
constexpr int kErrReadFlash = 7;
constexpr int kErrAllocate = 11;
constexpr int kErrTerminate = 14;
