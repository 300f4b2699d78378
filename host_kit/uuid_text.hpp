#pragma once
// A UUID as velloq-host and velloq-validate write it: 8-4-4-4-12 hexadecimal
// digits, the form the plug-in's own UUID text has and parse_uuid reads.

#include <cstdio>
#include <string>

#include "host/types.hpp"

inline std::string uuid_text(const Uuid& uuid) {
  char text[40];
  std::snprintf(text, sizeof text, "%08X-%04X-%04X-%04X-%04X%08X", uuid.words[0],
                uuid.words[1] >> 16, uuid.words[1] & 0xFFFFu, uuid.words[2] >> 16,
                uuid.words[2] & 0xFFFFu, uuid.words[3]);
  return text;
}
