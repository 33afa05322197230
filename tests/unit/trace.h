// The library's last trace line, for the white-box tests.
#pragma once

#include <string>

#include "frame/call.h"

namespace qvx {

inline std::string LastTrace() {
  char text[kTraceSize];
  CopyLastCallTrace(text, sizeof text);
  return text;
}

}  // namespace qvx
