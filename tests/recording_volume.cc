#include "recording_volume.h"

#include <cstdio>
#include <iostream>

#include "volume/volume.h"

namespace recording_volume {

std::vector<std::string> calls;
bool report_succeeds = true;
bool apply_succeeds = true;

void Reset() {
  calls.clear();
  report_succeeds = true;
  apply_succeeds = true;
}

}  // namespace recording_volume

namespace kestrine {

bool ReportCurrentVolume() {
  recording_volume::calls.push_back("report");
  if (recording_volume::report_succeeds) std::cout << "<report>\n";
  return recording_volume::report_succeeds;
}

bool ApplyVolumeLevel(double percent) {
  char text[64];
  std::snprintf(text, sizeof text, "apply %.17g", percent);
  recording_volume::calls.push_back(text);
  return recording_volume::apply_succeeds;
}

}  // namespace kestrine
