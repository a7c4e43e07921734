// Runs the built Kestrine.exe as a child process, as a script would, and
// checks the exact bytes it writes, its exit status and every call it makes
// on the emulated audio endpoint.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/console_text.h"
#include "expected_output.h"

namespace {

const char kStateVariable[] = "KESTRINE_EMULATED_STATE";
const char kLogVariable[] = "KESTRINE_EMULATED_LOG";
const char kFailVariable[] = "KESTRINE_EMULATED_FAIL";

const std::string kBannerBytes = WithCrLf(kestrine::kBanner);

std::string Directory(const std::string& path) {
  return path.substr(0, path.find_last_of("\\/") + 1);
}

std::string ThisDirectory() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return Directory(std::string(path, length));
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream contents;
  contents << file.rdbuf();
  return contents.str();
}

void WriteFile(const std::string& path, const std::string& contents) {
  std::ofstream(path, std::ios::binary) << contents;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

std::string Quoted(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos)
    return argument;
  return "\"" + argument + "\"";
}

HANDLE InheritableFile(const std::string& path, DWORD access, DWORD creation) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     &inherit, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
}

struct ProcessResult {
  DWORD exit_code;
  std::string out;
  std::string err;
};

// A private emulated device for one test: its own state, log and failure.
class EmulatedEndpoint {
 public:
  EmulatedEndpoint() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    static int counter = 0;
    directory_ = std::string(temp) + "kestrine-e2e-" +
                 std::to_string(GetCurrentProcessId()) + "-" +
                 std::to_string(++counter) + "\\";
    CreateDirectoryA(directory_.c_str(), nullptr);
    SetEnvironmentVariableA(kStateVariable, StatePath().c_str());
    SetEnvironmentVariableA(kLogVariable, LogPath().c_str());
    SetEnvironmentVariableA(kFailVariable, nullptr);
  }
  ~EmulatedEndpoint() {
    for (const std::string& path :
         {StatePath(), LogPath(), OutPath(), ErrPath()})
      DeleteFileA(path.c_str());
    RemoveDirectoryA(directory_.c_str());
    SetEnvironmentVariableA(kStateVariable, nullptr);
    SetEnvironmentVariableA(kLogVariable, nullptr);
    SetEnvironmentVariableA(kFailVariable, nullptr);
  }

  void SetLevelBits(unsigned bits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x\n", bits);
    WriteFile(StatePath(), text);
  }
  void SetLevel(float level) {
    unsigned bits;
    std::memcpy(&bits, &level, sizeof bits);
    SetLevelBits(bits);
  }
  std::string State() const { return ReadFile(StatePath()); }
  void Fail(const std::string& setting) {
    SetEnvironmentVariableA(kFailVariable, setting.c_str());
  }
  std::vector<std::string> Log() const { return Lines(ReadFile(LogPath())); }
  void ClearLog() { DeleteFileA(LogPath().c_str()); }

  ProcessResult RunKestrine(const std::vector<std::string>& arguments) {
    std::string command_line = Quoted(ThisDirectory() + "Kestrine.exe");
    for (const std::string& argument : arguments)
      command_line += " " + Quoted(argument);

    HANDLE out = InheritableFile(OutPath(), GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE err = InheritableFile(ErrPath(), GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE in = InheritableFile("NUL", GENERIC_READ, OPEN_EXISTING);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process = {};
    std::vector<char> writable(command_line.begin(), command_line.end());
    writable.push_back('\0');
    const BOOL started =
        CreateProcessA(nullptr, writable.data(), nullptr, nullptr, TRUE, 0,
                       nullptr, nullptr, &startup, &process);
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);
    ProcessResult run = {~0u, "", ""};
    EXPECT_TRUE(started) << "cannot start " << command_line;
    if (!started) return run;
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
    GetExitCodeProcess(process.hProcess, &run.exit_code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    run.out = ReadFile(OutPath());
    run.err = ReadFile(ErrPath());
    return run;
  }

 private:
  std::string StatePath() const { return directory_ + "level.state"; }
  std::string LogPath() const { return directory_ + "calls.log"; }
  std::string OutPath() const { return directory_ + "stdout"; }
  std::string ErrPath() const { return directory_ + "stderr"; }

  std::string directory_;
};

std::string Report(const std::string& number) {
  return kBannerBytes + "Current volume level: " + number + "%\r\n";
}

std::string StateText(unsigned bits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x\n", bits);
  return text;
}

const unsigned kHalfBits = 0x3f000000;  // 0.5f

// The three references of one sequence, up to the volume call.
std::vector<std::string> Acquire() {
  return {
      "load",
      "DllGetClassObject clsid={BCDE0395-E52F-467C-8E3D-C4579291692E}",
      "factory.CreateInstance outer=null "
      "iid={A95664D2-9614-4F35-A746-DE8DB63617E6} apartment=sta",
      "enumerator.GetDefaultAudioEndpoint flow=0 role=0",
      "device.Activate iid={5CDF2C82-841E-4546-9722-0CF74078229A} clsctx=0x1 "
      "params=null",
  };
}

// Release in reverse order, then COM lets the server go with nothing alive.
std::vector<std::string> ReleaseAll() {
  return {
      "endpoint_volume.Release left=0",
      "device.Release left=0",
      "enumerator.Release left=0",
      "detach unload alive=0",
  };
}

std::vector<std::string> Sequence(
    const std::vector<std::string>& volume_calls) {
  std::vector<std::string> sequence = Acquire();
  sequence.insert(sequence.end(), volume_calls.begin(), volume_calls.end());
  const std::vector<std::string> release = ReleaseAll();
  sequence.insert(sequence.end(), release.begin(), release.end());
  return sequence;
}

std::vector<std::string> ReadSequence(unsigned bits) {
  char level[48];
  std::snprintf(level, sizeof level, "endpoint_volume.level 0x%08x", bits);
  return Sequence(
      {"endpoint_volume.GetMasterVolumeLevelScalar -> 0x00000000", level});
}

std::vector<std::string> SetSequence(unsigned bits) {
  char call[96];
  std::snprintf(call, sizeof call,
                "endpoint_volume.SetMasterVolumeLevelScalar level=0x%08x "
                "context=null -> 0x00000000",
                bits);
  return Sequence({call});
}

std::vector<std::string> Concatenated(std::vector<std::string> first,
                                      const std::vector<std::string>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

TEST(EndToEnd, KeywordFormsWriteExactBytes) {
  const std::string usage = kBannerBytes + WithCrLf(kExpectedUsage);
  struct Case {
    std::vector<std::string> arguments;
    std::string out;
    bool reads;
  };
  const Case cases[] = {
      {{}, usage, false},
      {{"Help"}, usage, false},
      {{"help"}, usage, false},
      {{"?"}, usage, false},
      {{"HELP"}, usage, false},
      {{"GETVOLUME"}, usage, false},
      {{"Getvolume"}, usage, false},
      {{"GetVolume "}, usage, false},
      {{"-GetVolume"}, usage, false},
      {{"/GetVolume"}, usage, false},
      {{"SetVolume"}, usage, false},
      {{"setvolume"}, usage, false},
      {{"SETVOLUME", "40"}, usage, false},
      {{"GetVolume"}, Report("50"), true},
      {{"getvolume"}, Report("50"), true},
      {{"GetVolume", "SetVolume", "10"}, Report("50"), true},
  };
  for (const Case& c : cases) {
    std::string name;
    for (const std::string& argument : c.arguments)
      name += "[" + argument + "]";
    SCOPED_TRACE(name);
    EmulatedEndpoint endpoint;
    endpoint.SetLevelBits(kHalfBits);
    const ProcessResult run = endpoint.RunKestrine(c.arguments);
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(endpoint.State(), StateText(kHalfBits));
    EXPECT_EQ(endpoint.Log(),
              c.reads ? ReadSequence(kHalfBits) : std::vector<std::string>{});
  }
}

TEST(EndToEnd, LevelTextsSetOnlyAcceptedLevels) {
  struct Case {
    std::string text;
    unsigned written_bits;  // 0 with |accepted| false: nothing written
    unsigned held_bits;     // what the device holds and reports afterwards
    std::string reported;
    bool accepted;
  };
  const Case cases[] = {
      {"0", 0x00000000, 0x00000000, "0", true},
      {"100", 0x3f800000, 0x3f800000, "100", true},
      {"100.5", 0, 0, "", false},
      {"-1", 0, 0, "", false},
      {"-0", 0x80000000, 0x00000000, "0", true},
      {"1e2", 0x3f800000, 0x3f800000, "100", true},
      {"50%", 0x3f000000, 0x3f000000, "50", true},
      {"50abc", 0x3f000000, 0x3f000000, "50", true},
      {"7,5", 0x3d8f5c29, 0x3d8f5c29, "7", true},
      {"abc", 0x00000000, 0x00000000, "0", true},
      {"", 0x00000000, 0x00000000, "0", true},
      {"inf", 0, 0, "", false},
      {"nan", 0, 0, "", false},
      {"40", 0x3ecccccd, 0x3ecccccd, "40", true},
      {"33", 0x3ea8f5c3, 0x3ea8f5c3, "33", true},
      {"0x19", 0x3e800000, 0x3e800000, "25", true},
  };
  for (const char* keyword : {"SetVolume", "setvolume"}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(keyword) + " [" + c.text + "]");
      EmulatedEndpoint endpoint;
      endpoint.SetLevel(0.75f);
      const std::string before = endpoint.State();
      const ProcessResult run =
          endpoint.RunKestrine({keyword, c.text, "ignored"});
      EXPECT_EQ(run.exit_code, 0u);
      EXPECT_EQ(run.err, "");
      if (c.accepted) {
        EXPECT_EQ(run.out, Report(c.reported));
        EXPECT_EQ(endpoint.State(), StateText(c.held_bits));
        // Two whole sequences: the set, then the report read back.
        EXPECT_EQ(endpoint.Log(), Concatenated(SetSequence(c.written_bits),
                                               ReadSequence(c.held_bits)));
      } else {
        EXPECT_EQ(run.out, kBannerBytes + WithCrLf(kExpectedUsage));
        EXPECT_EQ(endpoint.State(), before);
        EXPECT_EQ(endpoint.Log(), std::vector<std::string>{});
      }
    }
  }
}

TEST(EndToEnd, ReportShowsSixSignificantDigitsOfTheSinglePrecisionPercent) {
  struct Case {
    unsigned bits;
    const char* number;
  };
  const Case cases[] = {
      {0x3f000000, "50"},       // 0.5
      {0x3f800000, "100"},      // 1.0
      {0x00000000, "0"},        // 0.0
      {0x3e800000, "25"},       // 0.25
      {0x3eaaaaab, "33.3333"},  // one third
      {0x3f2aaaab, "66.6667"},  // two thirds
      {0x3ea8f5c3, "33"},       // 0.33
      {0x3f79c090, "97.5594"},  // 0.97559452: a double product ends in 5
      {0x3c23d70a, "1"},        // 0.01
      {0x3727c5ac, "0.001"},    // 0.00001
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.number);
    EmulatedEndpoint endpoint;
    endpoint.SetLevelBits(c.bits);
    const ProcessResult run = endpoint.RunKestrine({"GetVolume"});
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_EQ(run.out, Report(c.number));
  }
}

TEST(EndToEnd, SetVolumeReportsTheLevelReadBackNotTheArgument) {
  EmulatedEndpoint endpoint;
  endpoint.SetLevel(0.2f);
  EXPECT_EQ(endpoint.RunKestrine({"SetVolume", "40"}).out, Report("40"));
  endpoint.ClearLog();
  EXPECT_EQ(endpoint.RunKestrine({"GetVolume"}).out, Report("40"));
  EXPECT_EQ(endpoint.Log(), ReadSequence(0x3ecccccd));
}

TEST(EndToEnd, PlatformFailuresEndWithOneDiagnosticAndStatusOne) {
  const std::string create =
      "Kestrine: cannot create the audio device enumerator";
  const std::string endpoint_missing =
      "Kestrine: no default audio output device";
  const std::string activate =
      "Kestrine: cannot open the endpoint volume of the default audio output "
      "device";
  const std::string read = "Kestrine: cannot read the volume level";
  const std::string write = "Kestrine: cannot set the volume level";
  const std::vector<std::string> acquire = Acquire();
  auto through = [&acquire](size_t calls, std::vector<std::string> tail) {
    std::vector<std::string> log(acquire.begin(), acquire.begin() + calls);
    log.insert(log.end(), tail.begin(), tail.end());
    return log;
  };
  const std::string released_endpoint = "endpoint_volume.Release left=0";
  const std::string released_device = "device.Release left=0";
  const std::string released_enumerator = "enumerator.Release left=0";
  const std::string unloaded = "detach unload alive=0";

  struct Case {
    std::string fail;
    std::vector<std::string> arguments;
    std::string err;
    std::vector<std::string> log;
  };
  const Case cases[] = {
      {"create=0x80040154",
       {"GetVolume"},
       create + " (0x80040154)",
       through(3, {unloaded})},
      {"endpoint=0x80070490",
       {"GetVolume"},
       endpoint_missing + " (0x80070490)",
       through(4, {released_enumerator, unloaded})},
      {"endpoint=null",
       {"GetVolume"},
       endpoint_missing + " (0x80004003)",
       through(4, {released_enumerator, unloaded})},
      {"activate=0x88890004",
       {"GetVolume"},
       activate + " (0x88890004)",
       through(5, {released_device, released_enumerator, unloaded})},
      {"activate=null",
       {"GetVolume"},
       activate + " (0x80004003)",
       through(5, {released_device, released_enumerator, unloaded})},
      {"get=0x8007001F",
       {"GetVolume"},
       read + " (0x8007001F)",
       through(5, {"endpoint_volume.GetMasterVolumeLevelScalar -> 0x8007001F",
                   released_endpoint, released_device, released_enumerator,
                   unloaded})},
      {"set=0x80070005",
       {"SetVolume", "40"},
       write + " (0x80070005)",
       through(5, {"endpoint_volume.SetMasterVolumeLevelScalar "
                   "level=0x3ecccccd context=null -> 0x80070005",
                   released_endpoint, released_device, released_enumerator,
                   unloaded})},
      {"create=0x80004005",
       {"SetVolume", "40"},
       create + " (0x80004005)",
       through(3, {unloaded})},
      {"endpoint=0x80070490",
       {"setvolume", "10"},
       endpoint_missing + " (0x80070490)",
       through(4, {released_enumerator, unloaded})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fail + " " + c.arguments[0]);
    EmulatedEndpoint endpoint;
    endpoint.SetLevelBits(kHalfBits);
    endpoint.Fail(c.fail);
    const ProcessResult run = endpoint.RunKestrine(c.arguments);
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_EQ(run.out, kBannerBytes);
    EXPECT_EQ(run.err, c.err + "\r\n");
    EXPECT_EQ(endpoint.State(), StateText(kHalfBits));
    EXPECT_EQ(endpoint.Log(), c.log);
  }
}

// Wine's own Core Audio, with no output device at all.
TEST(StockWine, NoOutputDeviceEndsWithDiagnosticInsteadOfACrash) {
  const std::string diagnostic =
      "Kestrine: no default audio output device (0x80070490)\r\n";
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"GetVolume"},
        std::vector<std::string>{"SetVolume", "40"}}) {
    SCOPED_TRACE(arguments[0]);
    EmulatedEndpoint unused_files;
    const ProcessResult run = unused_files.RunKestrine(arguments);
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_EQ(run.out, kBannerBytes);
    EXPECT_EQ(run.err, diagnostic);
    EXPECT_EQ(unused_files.Log(), std::vector<std::string>{});
  }
}

}  // namespace
