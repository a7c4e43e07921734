#ifndef KESTRINE_CLI_CONSOLE_TEXT_H_
#define KESTRINE_CLI_CONSOLE_TEXT_H_

namespace kestrine {

// Written first on every run, whatever the arguments.
inline constexpr char kBanner[] =
    "Kestrine Utility\n"
    "Gets or Sets the audio volume level\n"
    "Copyright (c) 2026 The Kestrine Authors\n"
    "Provided as-is without warranty\n"
    "\n";

// Writes the usage block to standard output.
void PrintUsage();

}  // namespace kestrine

#endif  // KESTRINE_CLI_CONSOLE_TEXT_H_
