#ifndef KESTRINE_TESTS_EXPECTED_OUTPUT_H_
#define KESTRINE_TESTS_EXPECTED_OUTPUT_H_

#include <string>

// The usage block as scripts see it, with line feeds.
inline constexpr char kExpectedUsage[] =
    "Get or Set the audio volume for the default audio output device\n"
    "Usage: \n"
    "Kestrine [option]\n"
    "\n"
    "Options:\n"
    "GetVolume\n"
    "SetVolume [0 to 100]\n"
    "help or ?\n";

// |text| as a text-mode stream on Windows writes it: each LF as CR LF.
inline std::string WithCrLf(const std::string& text) {
  std::string converted;
  for (char c : text) {
    if (c == '\n') converted += '\r';
    converted += c;
  }
  return converted;
}

#endif  // KESTRINE_TESTS_EXPECTED_OUTPUT_H_
