// The standard's words for the sense a drive returns: the sense key and the additional sense
// code and qualifier, as the Debian-maintained decoding of libsgutils2 names them.
#pragma once

#include <cstdint>
#include <string>

// "Hardware Error" for key 4. The key is the low four bits of sense byte 2.
std::string SenseKeyText(uint8_t key);
// "Internal target failure" for 44h/00h; the library's own wording for a code it does not know.
std::string AdditionalSenseText(uint8_t asc, uint8_t ascq);
