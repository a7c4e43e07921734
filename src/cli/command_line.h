#ifndef KESTRINE_CLI_COMMAND_LINE_H_
#define KESTRINE_CLI_COMMAND_LINE_H_

namespace kestrine {

// Exit statuses of a run.
inline constexpr int kExitOk = 0;
inline constexpr int kExitPlatformFailure = 1;
inline constexpr int kExitOutputFailure = 1;

// Reads a level argument as the C standard's atof does: leading white space
// is skipped, the longest numeric prefix (decimal, hexadecimal, "inf",
// "infinity", "nan") is converted and the rest ignored; no prefix reads as 0.
double ReadLevel(const char* text);

// True for a level from 0 to 100 percent, both inclusive; false for NaN.
bool IsAcceptedLevel(double percent);

// Runs one invocation: writes the banner, then the usage block or the
// requested volume operation, and checks that standard output took all of
// it. Returns the process exit status.
int RunCommandLine(int argc, const char* const argv[]);

}  // namespace kestrine

#endif  // KESTRINE_CLI_COMMAND_LINE_H_
