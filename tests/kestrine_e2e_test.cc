// Runs the built Kestrine.exe as a child process, as a script would, and
// checks the exact bytes it writes, its exit status and every call it makes
// on the emulated audio endpoint.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli/console_text.h"
#include "expected_output.h"

namespace {

const char kStateVariable[] = "KESTRINE_EMULATED_STATE";
const char kLogVariable[] = "KESTRINE_EMULATED_LOG";
const char kFailVariable[] = "KESTRINE_EMULATED_FAIL";
const char kLoadVariable[] = "KESTRINE_EMULATED_LOAD";

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

// Where the child's standard output goes.
enum class Output {
  kFile,        // a file the test reads back
  kFullDevice,  // a device that takes nothing, as a full disk
  kClosedPipe,  // a pipe whose reader has gone
  kNone,        // no handle at all, as a detached, windowless launch has
};

struct Launch {
  Output output = Output::kFile;
  std::string program;            // empty: the built Kestrine.exe
  std::string current_directory;  // empty: the test's own
};

// An inheritable handle for the child's standard output.
HANDLE OutputHandle(Output output, const std::string& file) {
  switch (output) {
    case Output::kFile:
      return InheritableFile(file, GENERIC_WRITE, CREATE_ALWAYS);
    case Output::kFullDevice:
      return InheritableFile("Z:\\dev\\full", GENERIC_WRITE, OPEN_EXISTING);
    case Output::kClosedPipe: {
      SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
      HANDLE reader = nullptr, writer = nullptr;
      EXPECT_TRUE(CreatePipe(&reader, &writer, &inherit, 0));
      CloseHandle(reader);
      return writer;
    }
    case Output::kNone:
      break;
  }
  return nullptr;
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
    for (const std::string& path : planted_) DeleteFileA(path.c_str());
    for (const std::string& path :
         {StatePath(), LogPath(), OutPath(), ErrPath()})
      DeleteFileA(path.c_str());
    for (const char* folder : {"program", "current"})
      RemoveDirectoryA((directory_ + folder).c_str());
    RemoveDirectoryA(directory_.c_str());
    for (const char* variable :
         {kStateVariable, kLogVariable, kFailVariable, kLoadVariable})
      SetEnvironmentVariableA(variable, nullptr);
  }

  // A folder of this test's own, "program" or "current".
  std::string Folder(const std::string& name) {
    const std::string folder = directory_ + name;
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
  }
  // Copies |source| into Folder(|folder|) as |name|; returns the copy's path.
  std::string Plant(const std::string& source, const std::string& folder,
                    const std::string& name) {
    const std::string copy = Folder(folder) + "\\" + name;
    EXPECT_TRUE(CopyFileA(source.c_str(), copy.c_str(), FALSE)) << copy;
    planted_.push_back(copy);
    return copy;
  }
  // Makes the endpoint load |name| without a path while it is created.
  void LoadByBareName(const std::string& name) {
    SetEnvironmentVariableA(kLoadVariable, name.c_str());
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

  ProcessResult RunKestrine(const std::vector<std::string>& arguments,
                            const Launch& launch = {}) {
    const std::string program = launch.program.empty()
                                    ? ThisDirectory() + "Kestrine.exe"
                                    : launch.program;
    std::string command_line = Quoted(program);
    for (const std::string& argument : arguments)
      command_line += " " + Quoted(argument);

    HANDLE out = OutputHandle(launch.output, OutPath());
    EXPECT_TRUE(launch.output == Output::kNone ||
                (out != nullptr && out != INVALID_HANDLE_VALUE));
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
    // Without an output handle, start it as a scheduled task would: with no
    // console either, which would otherwise lend it one.
    const DWORD flags = launch.output == Output::kNone ? DETACHED_PROCESS : 0;
    const char* directory = launch.current_directory.empty()
                                ? nullptr
                                : launch.current_directory.c_str();
    const BOOL started =
        CreateProcessA(nullptr, writable.data(), nullptr, nullptr, TRUE, flags,
                       nullptr, directory, &startup, &process);
    CloseHandle(in);
    if (out != nullptr) CloseHandle(out);
    CloseHandle(err);
    ProcessResult run = {~0u, "", ""};
    EXPECT_TRUE(started) << "cannot start " << command_line;
    if (!started) return run;
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
    GetExitCodeProcess(process.hProcess, &run.exit_code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (launch.output == Output::kFile) run.out = ReadFile(OutPath());
    run.err = ReadFile(ErrPath());
    return run;
  }

 private:
  std::string StatePath() const { return directory_ + "level.state"; }
  std::string LogPath() const { return directory_ + "calls.log"; }
  std::string OutPath() const { return directory_ + "stdout"; }
  std::string ErrPath() const { return directory_ + "stderr"; }

  std::string directory_;
  std::vector<std::string> planted_;
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

// A run without standard output (kNone) had nothing to lose and ends as
// usual; every other failure ends with status 1 and one diagnostic line.
TEST(EndToEnd, PlatformAndOutputFailuresEndWithOneDiagnostic) {
  const std::string create =
      "Kestrine: cannot create the audio device enumerator";
  const std::string endpoint_missing =
      "Kestrine: no default audio output device";
  const std::string activate =
      "Kestrine: cannot open the endpoint volume of the default audio output "
      "device";
  const std::string read = "Kestrine: cannot read the volume level";
  const std::string write = "Kestrine: cannot set the volume level";
  const std::string lost = "Kestrine: cannot write to standard output";
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

  const unsigned kFortyBits = 0x3ecccccd, kThirtyBits = 0x3e99999a;

  struct Case {
    std::string fail;
    std::vector<std::string> arguments;
    std::string err;
    std::vector<std::string> log;
    Output output = Output::kFile;
    unsigned state = kHalfBits;
    DWORD exit_code = 1;
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
      // Standard output takes nothing; what was done on the device stays.
      {"", {"help"}, lost, {}, Output::kFullDevice},
      {"", {"GetVolume"}, lost, ReadSequence(kHalfBits), Output::kFullDevice},
      {"",
       {"SetVolume", "40"},
       lost,
       Concatenated(SetSequence(kFortyBits), ReadSequence(kFortyBits)),
       Output::kFullDevice,
       kFortyBits},
      {"", {"GetVolume"}, lost, ReadSequence(kHalfBits), Output::kClosedPipe},
      {"create=0x80040154",
       {"GetVolume"},
       create + " (0x80040154)",
       through(3, {unloaded}),
       Output::kFullDevice},
      {"",
       {"GetVolume"},
       "",
       ReadSequence(kHalfBits),
       Output::kNone,
       kHalfBits,
       0},
      {"",
       {"SetVolume", "30"},
       "",
       Concatenated(SetSequence(kThirtyBits), ReadSequence(kThirtyBits)),
       Output::kNone,
       kThirtyBits,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fail + " " + c.arguments[0] + " output " +
                 std::to_string(static_cast<int>(c.output)));
    EmulatedEndpoint endpoint;
    endpoint.SetLevelBits(kHalfBits);
    endpoint.Fail(c.fail);
    Launch launch;
    launch.output = c.output;
    const ProcessResult run = endpoint.RunKestrine(c.arguments, launch);
    EXPECT_EQ(run.exit_code, c.exit_code);
    if (c.output == Output::kFile) {
      EXPECT_EQ(run.out, kBannerBytes);
    }
    EXPECT_EQ(run.err, c.err.empty() ? "" : c.err + "\r\n");
    EXPECT_EQ(endpoint.State(), StateText(c.state));
    EXPECT_EQ(endpoint.Log(), c.log);
  }
}

// A DLL named like a helper that a platform component loads by bare name,
// planted beside a downloaded copy of the program or in the folder it is
// started from, is never loaded: the process searches the system folder only.
TEST(EndToEnd, PlantedDllIsNeverLoaded) {
  const std::string probe = "planted_probe.dll";
  const std::string built_probe = ThisDirectory() + "planted\\" + probe;
  const std::string not_found = "load " + probe + " -> not found";
  struct Case {
    std::vector<std::string> arguments;
    std::string planted_in;
    size_t sequences;
  };
  const Case cases[] = {
      {{"GetVolume"}, "program", 1},
      {{"GetVolume"}, "current", 1},
      {{"SetVolume", "40"}, "program", 2},
      {{"SetVolume", "40"}, "current", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments[0] + " planted in " + c.planted_in);
    EmulatedEndpoint endpoint;
    endpoint.SetLevelBits(kHalfBits);
    endpoint.LoadByBareName(probe);
    Launch launch;
    launch.program = endpoint.Plant(ThisDirectory() + "Kestrine.exe", "program",
                                    "Kestrine.exe");
    endpoint.Plant(built_probe, c.planted_in, probe);
    launch.current_directory = endpoint.Folder("current");
    const ProcessResult run = endpoint.RunKestrine(c.arguments, launch);
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_EQ(run.err, "");
    std::vector<std::string> loads;
    for (const std::string& line : endpoint.Log()) {
      if (line.rfind("load " + probe, 0) == 0) loads.push_back(line);
    }
    EXPECT_EQ(loads, std::vector<std::string>(c.sequences, not_found));
  }
}

// Wine's own Core Audio with a device present (a PulseAudio null sink), whose
// endpoint volume may not implement setting.
TEST(WineAudioDevice, ReportsAndSetsOrSaysWhyItCannotSet) {
  EmulatedEndpoint unused_files;
  const ProcessResult get = unused_files.RunKestrine({"GetVolume"});
  EXPECT_EQ(get.exit_code, 0u);
  EXPECT_EQ(get.err, "");
  EXPECT_EQ(get.out.substr(0, kBannerBytes.size()), kBannerBytes);
  EXPECT_TRUE(std::regex_match(
      get.out.substr(kBannerBytes.size()),
      std::regex("Current volume level: [0-9]+(\\.[0-9]+)?%\r\n")))
      << get.out;

  const ProcessResult set = unused_files.RunKestrine({"SetVolume", "40"});
  if (set.exit_code == 0) {
    EXPECT_EQ(set.out, Report("40"));
    EXPECT_EQ(set.err, "");
  } else {
    EXPECT_EQ(set.exit_code, 1u);
    EXPECT_EQ(set.out, kBannerBytes);
    EXPECT_TRUE(std::regex_match(
        set.err, std::regex("Kestrine: cannot set the volume level "
                            "\\(0x[0-9A-F]{8}\\)\r\n")))
        << set.err;
  }
  EXPECT_EQ(unused_files.Log(), std::vector<std::string>{});
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
