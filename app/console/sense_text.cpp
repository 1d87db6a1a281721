#include "app/console/sense_text.h"

#include <scsi/sg_lib.h>

std::string SenseKeyText(uint8_t key) {
  char text[80] = "";
  sg_get_sense_key_str(key & 0x0F, sizeof text, text);
  return text;
}

std::string AdditionalSenseText(uint8_t asc, uint8_t ascq) {
  char text[160] = "";
  sg_get_asc_ascq_str(asc, ascq, sizeof text, text);
  // The library introduces the standard's words with a label of its own.
  static const char kLabel[] = "Additional sense: ";
  const std::string words = text;
  return words.rfind(kLabel, 0) == 0 ? words.substr(sizeof kLabel - 1) : words;
}
