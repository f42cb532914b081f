// The programs as CUPS starts them: argument checks, input choice, exit
// status, and the diagnostic log a run leaves behind.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "support.h"

namespace {

constexpr char kUsage[] = "ERROR: rastertotarvo job-id user title copies options [file]\n";

// The log's first lines for a program and the arguments after argv[0]:
// every argument is logged before anything else is done.
std::vector<std::string> log_start(const std::string& program, const std::vector<std::string>& args)
{
  std::vector<std::string> lines{"Enter main", "argv[0]:" + program};
  for (size_t i = 0; i < args.size(); ++i)
    lines.push_back("argv[" + std::to_string(i + 1) + "]:" + args[i]);
  lines.push_back("Begin main");
  return lines;
}

std::vector<std::string> joined(std::vector<std::string> a, const std::vector<std::string>& b)
{
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Any other count than CUPS's five or six arguments gets the program's
// usage line and status 1: every model's filter and zplpass.
TEST(EveryProgram, WrongArgumentCountsGetTheUsageLine)
{
  const TempDir dir;
  struct Program {
    std::string path, usage;
    bool logs;
  };
  std::vector<Program> programs;
  for (const TestModel& model : test_models())
    programs.push_back({model.filter, kUsage, true});
  programs.push_back({build_paths().zplpass, "ERROR: Usage: zplpass job-id user title copies options [file]\n", false});
  const std::vector<std::vector<std::string>> wrong = {
      {}, {"1", "user", "title", "1"}, {"1", "user", "title", "1", "", "job.ras", "extra"}};
  for (const Program& program : programs)
    for (std::vector<std::string> args : wrong) {
      SCOPED_TRACE(program.path + " with " + std::to_string(args.size()) + " arguments");
      args.insert(args.begin(), program.path);
      const ProcessResult result = run_program(program.path, args, dir.path);
      EXPECT_EQ(result.status, 1);
      EXPECT_EQ(result.out, "");
      EXPECT_EQ(result.err, program.usage);
      // The log is not closed with "Exit main" on this path.
      if (program.logs) {
        args.erase(args.begin());
        EXPECT_EQ(read_log(dir.path), joined(log_start(program.path, args), {"Input param is not enough"}));
      }
    }
}

class FilterRun : public ::testing::TestWithParam<TestModel> {
protected:
  // Runs the program with the given arguments after argv[0].
  ProcessResult run(std::vector<std::string> args, const std::vector<std::string>& env = {"-PPD"},
                    const std::string& stdinPath = {})
  {
    args.insert(args.begin(), GetParam().filter);
    return run_program(GetParam().filter, args, dir.path, stdinPath, env);
  }

  TempDir dir;
};

TEST_P(FilterRun, MissingRasterFileIsNoError)
{
  const std::vector<std::string> args = {"12", "carol", "Shelf", "2", "", dir.file("absent.ras")};
  expect_silent(run(args));
  EXPECT_EQ(read_log(dir.path),
            joined(log_start(GetParam().filter, args),
                   {"cups_file:" + dir.file("absent.ras"), "PPD=(null)", "can't param ppdfile",
                    "setting PageSize:60x40", "setting Speed:4", "setting Darkness:7", "Exit main"}));
}

TEST_P(FilterRun, EmptyStandardInputPrintsNothing)
{
  ASSERT_TRUE(write_file(dir.file("empty"), ""));
  expect_silent(run({"12", "carol", "Shelf", "2", ""}, {"-PPD"}, dir.file("empty")));
  const std::vector<std::string> lines = read_log(dir.path);
  EXPECT_EQ(log_line(lines, 1), "cups_file is not null");
  EXPECT_EQ(log_line(lines), "Exit main");
}

TEST_P(FilterRun, SettingsRunLogsEveryStepInOrder)
{
  const std::string ppd = write_ppd(dir.path, "*cupsModelNumber: 2\n*DefaultPageSize: 4.00x6.00in\n"
                                              "*DefaultDarkness: 15\n*DefaultPrintSpeed: 30\n");
  const std::vector<std::string> args = {"1", "user", "title", "1", "PageSize=Custom.288x432 Darkness=20", "/dev/null"};
  expect_silent(run(args, {"PPD=" + ppd}));
  EXPECT_EQ(read_log(dir.path), joined(log_start(GetParam().filter, args),
                                       {"cups_file:/dev/null",
                                        "PPD=" + ppd,
                                        "module_number:2",
                                        "ppdfile DefaultPageSize:4.00x6.00in",
                                        "ppdfile DefaultDarkness:15",
                                        "ppdfile DefaultPrintSpeed:30",
                                        "ppdfile PageSize:102x152",
                                        "ppdfile Speed:3",
                                        "ppdfile Darkness:15",
                                        "num_options:0, Darkness, 20",
                                        "num_options:1, PageSize, Custom.288x432",
                                        "page_size=Custom.288x432",
                                        "(wxh)|288.000000|432.000000|",
                                        "(wxh)|101.766784|152.650177|",
                                        "(wxh)|99|149|",
                                        "setting PageSize:99x149",
                                        "setting Speed:3",
                                        "setting Darkness:20",
                                        "cups_file is not null",
                                        "Exit main"}));
}

TEST_P(FilterRun, EachRunEmptiesTheLog)
{
  run({"first-run-marker"});
  ASSERT_NE(read_file(dir.file("quilby.log")).find("first-run-marker"), std::string::npos);
  const ProcessResult second = run({"2", "user", "title", "1", "", dir.file("absent.ras")});
  EXPECT_EQ(second.status, 0);
  EXPECT_EQ(read_file(dir.file("quilby.log")).find("first-run-marker"), std::string::npos);
  const std::vector<std::string> lines = read_log(dir.path);
  EXPECT_EQ(log_line(lines, lines.size() - 1), "Enter main");  // the first line
  EXPECT_EQ(log_line(lines), "Exit main");
}

TEST_P(FilterRun, WithoutALogTheJobRunsAsUsual)
{
  ASSERT_TRUE(write_raster(dir.file("job.ras"), {noise_page(30, 4, 9, 2)}));
  const std::vector<std::string> args = {"3", "user", "title", "1", "", dir.file("job.ras")};
  const ProcessResult logged = run(args);
  ASSERT_EQ(logged.status, 0);
  ASSERT_EQ(std::remove(dir.file("quilby.log").c_str()), 0);
  ASSERT_EQ(mkdir(dir.file("quilby.log").c_str(), 0755), 0);  // the log can't be opened

  const ProcessResult unlogged = run(args);
  EXPECT_EQ(unlogged.status, 0);
  EXPECT_EQ(unlogged.err, "PAGE: 1 2\n");
  EXPECT_EQ(unlogged.out, logged.out);
  EXPECT_FALSE(unlogged.out.empty());

  const ProcessResult rejected = run({"too", "few"});
  EXPECT_EQ(rejected.status, 1);
  EXPECT_EQ(rejected.err, kUsage);
}

INSTANTIATE_TEST_SUITE_P(EveryModel, FilterRun, ::testing::ValuesIn(test_models()), ParamName());

}  // namespace
