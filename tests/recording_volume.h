#ifndef KESTRINE_TESTS_RECORDING_VOLUME_H_
#define KESTRINE_TESTS_RECORDING_VOLUME_H_

#include <string>
#include <vector>

// A stand-in for the volume operations, linked in their place: it records
// each call and answers as told, touching no platform audio.
namespace recording_volume {

// One entry per call: "report", or "apply <level>" with the level printed
// to 17 significant digits.
extern std::vector<std::string> calls;

// What the next calls report: false makes them fail.
extern bool report_succeeds;
extern bool apply_succeeds;

void Reset();

}  // namespace recording_volume

#endif  // KESTRINE_TESTS_RECORDING_VOLUME_H_
