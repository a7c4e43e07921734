#include "cli/command_line.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "cli/console_text.h"
#include "cli/process.h"
#include "volume/volume.h"

namespace kestrine {
namespace {

enum class Action { kUsage, kGetVolume, kSetVolume };

struct Keyword {
  const char* text;
  Action action;
};

// Matched exactly and case-sensitively; anything else shows the usage.
constexpr Keyword kKeywords[] = {
    {"Help", Action::kUsage},          {"?", Action::kUsage},
    {"help", Action::kUsage},          {"GetVolume", Action::kGetVolume},
    {"getvolume", Action::kGetVolume}, {"SetVolume", Action::kSetVolume},
    {"setvolume", Action::kSetVolume},
};

Action FindAction(const char* first_argument) {
  for (const Keyword& keyword : kKeywords) {
    if (std::strcmp(first_argument, keyword.text) == 0) return keyword.action;
  }
  return Action::kUsage;
}

int ExitStatus(bool operation_succeeded) {
  return operation_succeeded ? kExitOk : kExitPlatformFailure;
}

int SetVolume(int argc, const char* const argv[]) {
  if (argc <= 2) {
    PrintUsage();
    return kExitOk;
  }
  const double percent = ReadLevel(argv[2]);
  if (!IsAcceptedLevel(percent)) {
    PrintUsage();
    return kExitOk;
  }
  // A level that could not be set is not reported as if it had been.
  if (!ApplyVolumeLevel(percent)) return kExitPlatformFailure;
  return ExitStatus(ReportCurrentVolume());
}

int Dispatch(int argc, const char* const argv[]) {
  std::cout << kBanner;
  if (argc <= 1) {
    PrintUsage();
    return kExitOk;
  }
  switch (FindAction(argv[1])) {
    case Action::kGetVolume:
      return ExitStatus(ReportCurrentVolume());
    case Action::kSetVolume:
      return SetVolume(argc, argv);
    case Action::kUsage:
      break;
  }
  PrintUsage();
  return kExitOk;
}

// A script reads the exit status, not the file it redirected to: output lost
// to a full disk or a closed pipe must not end as a success. Checked after
// the last flush, so that nothing is left to fail silently at process exit.
int CheckOutputWritten(int status) {
  std::cout.flush();
  const bool written =
      std::cout.good() && std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
  // A failed platform step has said so already; a process started without
  // standard output had nothing to lose.
  if (written || status != kExitOk || !HasStandardOutput()) return status;
  std::cerr << "Kestrine: cannot write to standard output\n";
  return kExitOutputFailure;
}

}  // namespace

double ReadLevel(const char* text) {
  // MinGW's default atof comes from the old system C runtime, which reads
  // "inf", "nan" and hexadecimal forms as 0; strtod here is the conforming
  // one, and atof is defined as strtod without the end pointer.
  return std::strtod(text, nullptr);
}

bool IsAcceptedLevel(double percent) {
  // Each test is written so that NaN fails it.
  if (!(percent >= 0.0)) return false;
  if (!(percent <= 100.0)) return false;
  return true;
}

int RunCommandLine(int argc, const char* const argv[]) {
  return CheckOutputWritten(Dispatch(argc, argv));
}

}  // namespace kestrine
