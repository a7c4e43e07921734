#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <iostream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cli/console_text.h"
#include "expected_output.h"
#include "recording_volume.h"

namespace kestrine {
namespace {

// Collects what is written and where the stream was flushed.
class RecordingBuffer : public std::stringbuf {
 public:
  std::vector<size_t> flushed_at;

 protected:
  int sync() override {
    flushed_at.push_back(str().size());
    return 0;
  }
};

// Takes nothing, as standard output on a full disk does.
class FullDeviceBuffer : public RecordingBuffer {
 protected:
  int_type overflow(int_type) override { return traits_type::eof(); }
  std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
};

struct Outcome {
  int status;
  std::string out;
  std::vector<size_t> flushed_at;
  std::vector<std::string> calls;
  std::string err;
};

Outcome RunWithArguments(const std::vector<std::string>& arguments,
                         bool output_fails = false) {
  recording_volume::calls.clear();
  std::vector<const char*> argv = {"C:\\tools\\kestrine.exe"};
  for (const std::string& argument : arguments)
    argv.push_back(argument.c_str());
  argv.push_back(nullptr);

  RecordingBuffer working;
  FullDeviceBuffer full;
  RecordingBuffer& buffer = output_fails ? full : working;
  std::stringbuf err;
  std::streambuf* original_out = std::cout.rdbuf(&buffer);
  std::streambuf* original_err = std::cerr.rdbuf(&err);
  const int status =
      RunCommandLine(static_cast<int>(argv.size() - 1), argv.data());
  std::cout.rdbuf(original_out);
  std::cerr.rdbuf(original_err);
  return {status, buffer.str(), buffer.flushed_at, recording_volume::calls,
          err.str()};
}

std::string Applied(double percent) {
  char text[64];
  std::snprintf(text, sizeof text, "apply %.17g", percent);
  return text;
}

class CommandLineTest : public testing::Test {
 protected:
  void SetUp() override { recording_volume::Reset(); }
};

TEST_F(CommandLineTest, BannerIsFiveLinesWithANoticeOfYearAndHolder) {
  const std::string banner = kBanner;
  std::vector<std::string> lines;
  std::istringstream stream(banner);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);

  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "Kestrine Utility");
  EXPECT_EQ(lines[1], "Gets or Sets the audio volume level");
  EXPECT_NE(lines[2].find("2026"), std::string::npos) << lines[2];
  EXPECT_EQ(lines[3], "Provided as-is without warranty");
  EXPECT_EQ(lines[4], "");
  EXPECT_EQ(banner.back(), '\n');
}

TEST_F(CommandLineTest, UsageBlockFlushesAfterItsEmptyLineAndOptionsLine) {
  const Outcome outcome = RunWithArguments({});
  const std::string banner = kBanner;

  EXPECT_EQ(outcome.out, banner + kExpectedUsage);
  const size_t usage_start = banner.size();
  const size_t after_empty_line =
      usage_start + std::string(kExpectedUsage).find("\nOptions:") + 1;
  const size_t after_options =
      after_empty_line + std::string("Options:\n").size();
  // ...and once more at the end, where a lost write would show.
  EXPECT_EQ(outcome.flushed_at,
            (std::vector<size_t>{after_empty_line, after_options,
                                 outcome.out.size()}));
}

TEST_F(CommandLineTest, KeywordsChooseExactlyOneAction) {
  const std::string usage = std::string(kBanner) + kExpectedUsage;
  const std::string report = std::string(kBanner) + "<report>\n";
  struct Case {
    std::vector<std::string> arguments;
    std::string out;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {{}, usage, {}},
      {{"Help"}, usage, {}},
      {{"help"}, usage, {}},
      {{"?"}, usage, {}},
      {{"GetVolume"}, report, {"report"}},
      {{"getvolume"}, report, {"report"}},
      {{"GetVolume", "extra", "more"}, report, {"report"}},
      {{"SetVolume", "40"}, report, {Applied(40), "report"}},
      {{"setvolume", "40"}, report, {Applied(40), "report"}},
      {{"SetVolume", "40", "extra"}, report, {Applied(40), "report"}},
      {{"SetVolume"}, usage, {}},
      {{"setvolume"}, usage, {}},
      {{"GETVOLUME"}, usage, {}},
      {{"Getvolume"}, usage, {}},
      {{"getVolume"}, usage, {}},
      {{"SETVOLUME", "40"}, usage, {}},
      {{"HELP"}, usage, {}},
      {{"GetVolume "}, usage, {}},
      {{" GetVolume"}, usage, {}},
      {{"GetVol"}, usage, {}},
      {{"GetVolumes"}, usage, {}},
      {{"-GetVolume"}, usage, {}},
      {{"/GetVolume"}, usage, {}},
      {{"--help"}, usage, {}},
      {{"/?"}, usage, {}},
      {{""}, usage, {}},
      {{"40", "SetVolume"}, usage, {}},
  };
  for (const Case& c : cases) {
    std::string name;
    for (const std::string& argument : c.arguments)
      name += "[" + argument + "]";
    SCOPED_TRACE(name);
    const Outcome outcome = RunWithArguments(c.arguments);
    EXPECT_EQ(outcome.status, kExitOk);
    EXPECT_EQ(outcome.out, c.out);
    EXPECT_EQ(outcome.calls, c.calls);
  }
}

TEST_F(CommandLineTest, LevelTextsAreReadAsAtofAndCheckedInclusively) {
  const double kInf = std::numeric_limits<double>::infinity();
  struct Case {
    const char* text;
    double read_as;  // NaN stands for NaN
    bool accepted;
  };
  const Case cases[] = {
      {"0", 0.0, true},
      {"100", 100.0, true},
      {"100.5", 100.5, false},
      {"-1", -1.0, false},
      {"-0", -0.0, true},
      {"1e2", 100.0, true},
      {"50%", 50.0, true},
      {"50abc", 50.0, true},
      {"7,5", 7.0, true},
      {"abc", 0.0, true},
      {"", 0.0, true},
      {"inf", kInf, false},
      {"INF", kInf, false},
      {"infinity", kInf, false},
      {"-inf", -kInf, false},
      {"nan", std::nan(""), false},
      {"NaN", std::nan(""), false},
      {"-nan", std::nan(""), false},
      {"nan(1)", std::nan(""), false},
      {"0x10", 16.0, true},
      {"0x1p-1", 0.5, true},
      {"0x64", 100.0, true},
      {"0x65", 101.0, false},
      {"  \t 33", 33.0, true},
      {"+25", 25.0, true},
      {"100.0000000001", 100.0000000001, false},
      {"1e-400", 0.0, true},
      {"1e400", kInf, false},
      {".5", 0.5, true},
      {"99.99999", 99.99999, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("level text [") + c.text + "]");
    const double level = ReadLevel(c.text);
    if (std::isnan(c.read_as)) {
      EXPECT_TRUE(std::isnan(level)) << level;
    } else {
      EXPECT_EQ(level, c.read_as);
      EXPECT_EQ(std::signbit(level), std::signbit(c.read_as));
    }
    EXPECT_EQ(IsAcceptedLevel(level), c.accepted);

    const Outcome outcome = RunWithArguments({"SetVolume", c.text});
    EXPECT_EQ(outcome.status, kExitOk);
    if (c.accepted) {
      EXPECT_EQ(outcome.calls,
                (std::vector<std::string>{Applied(level), "report"}));
    } else {
      EXPECT_EQ(outcome.out, std::string(kBanner) + kExpectedUsage);
      EXPECT_TRUE(outcome.calls.empty());
    }
  }
}

TEST_F(CommandLineTest, FailuresEndWithStatusOneAndOneDiagnosticAtMost) {
  const std::string lost = "Kestrine: cannot write to standard output\n";
  struct Case {
    std::vector<std::string> arguments;
    bool apply_succeeds;
    bool report_succeeds;
    int status;
    std::vector<std::string> calls;
    bool output_fails = false;
    std::string err = "";
  };
  const Case cases[] = {
      {{"GetVolume"}, true, false, kExitPlatformFailure, {"report"}},
      {{"SetVolume", "40"}, false, true, kExitPlatformFailure, {Applied(40)}},
      {{"SetVolume", "40"},
       true,
       false,
       kExitPlatformFailure,
       {Applied(40), "report"}},
      {{"SetVolume", "40"}, true, true, kExitOk, {Applied(40), "report"}},
      // Standard output takes nothing: what was done stays done.
      {{"help"}, true, true, kExitOutputFailure, {}, true, lost},
      {{"GetVolume"}, true, true, kExitOutputFailure, {"report"}, true, lost},
      {{"SetVolume", "40"},
       true,
       true,
       kExitOutputFailure,
       {Applied(40), "report"},
       true,
       lost},
      // The platform's own diagnostic stays the only one.
      {{"GetVolume"}, true, false, kExitPlatformFailure, {"report"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments[0] + " apply " + std::to_string(c.apply_succeeds) +
                 " report " + std::to_string(c.report_succeeds) + " output " +
                 std::to_string(!c.output_fails));
    recording_volume::apply_succeeds = c.apply_succeeds;
    recording_volume::report_succeeds = c.report_succeeds;
    const Outcome outcome = RunWithArguments(c.arguments, c.output_fails);
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(outcome.calls, c.calls);
    EXPECT_EQ(outcome.err, c.err);
    if (c.status != kExitOk && !c.output_fails) {
      EXPECT_EQ(outcome.out, kBanner);  // nothing after the banner
    }
  }
}

// Whatever the arguments, the volume is only ever applied for the two set
// keywords with a level inside 0 to 100, and the banner always comes first.
TEST_F(CommandLineTest, RandomArgumentsOnlyApplyAcceptedLevels) {
  std::mt19937 random(20261207);
  const std::vector<std::string> keywords = {
      "SetVolume", "setvolume", "GetVolume",  "getvolume", "Help",
      "help",      "?",         "SETVOLUME",  "Setvolume", "setVolume",
      "",          "set",       "SetVolume ", "x"};
  const std::vector<std::string> levels = {
      "0",    "100",   "-0",    "-1",    "100.5", "1e2",  "7,5",
      "nan",  "inf",   "",      "abc",   "0x1p6", "-nan", "50%",
      "1e-9", "-1e-9", "   12", "100.0", "101",   "0x"};
  auto pick = [&random](const std::vector<std::string>& pool) {
    return pool[std::uniform_int_distribution<size_t>(0,
                                                      pool.size() - 1)(random)];
  };
  auto random_text = [&random]() {
    std::string text;
    const int length = std::uniform_int_distribution<int>(0, 8)(random);
    for (int i = 0; i < length; ++i) {
      text +=
          "0123456789.-+eExXpPinfaINFA ,%"[std::uniform_int_distribution<int>(
              0, 29)(random)];
    }
    return text;
  };

  int applied = 0;
  for (int round = 0; round < 3000; ++round) {
    std::vector<std::string> arguments;
    const int count = std::uniform_int_distribution<int>(0, 4)(random);
    for (int i = 0; i < count; ++i) {
      const int source = std::uniform_int_distribution<int>(0, 2)(random);
      arguments.push_back(source == 0   ? pick(keywords)
                          : source == 1 ? pick(levels)
                                        : random_text());
    }
    SCOPED_TRACE("round " + std::to_string(round));
    const Outcome outcome = RunWithArguments(arguments);

    EXPECT_EQ(outcome.status, kExitOk);
    EXPECT_EQ(outcome.out.compare(0, sizeof kBanner - 1, kBanner), 0);
    const bool set_keyword = count >= 1 && (arguments[0] == "SetVolume" ||
                                            arguments[0] == "setvolume");
    const double level =
        count >= 2 ? std::strtod(arguments[1].c_str(), nullptr) : 0.0;
    if (set_keyword && count >= 2 && level >= 0.0 && level <= 100.0) {
      ++applied;
      EXPECT_EQ(outcome.calls,
                (std::vector<std::string>{Applied(level), "report"}));
    } else {
      for (const std::string& call : outcome.calls) {
        EXPECT_EQ(call, "report");
      }
    }
  }
  EXPECT_GT(applied, 50);  // the draw did reach the applying path
}

}  // namespace
}  // namespace kestrine
