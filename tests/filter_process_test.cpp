// The programs as CUPS starts them: argument checks, input choice, exit
// status, and the diagnostic log a run leaves behind.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "support.h"

namespace {

struct Program {
  const char* name;
  const char* path;
};

void PrintTo(const Program& p, std::ostream* os) { *os << p.name; }

class FilterRun : public ::testing::TestWithParam<Program> {
protected:
  void SetUp() override { dir = make_temp_dir(); }
  void TearDown() override { remove_tree(dir); }

  // Runs the program with the given arguments after argv[0].
  ProcessResult run(std::vector<std::string> args, const std::vector<std::string>& env = {"-PPD"},
                    const std::string& stdinPath = {})
  {
    args.insert(args.begin(), GetParam().path);
    return run_program(GetParam().path, args, dir, stdinPath, env);
  }

  std::vector<std::string> log() { return log_messages(read_file(dir + "/quilby.log")); }

  // "argv[i]:..." lines for the program and the given arguments.
  std::vector<std::string> argument_lines(const std::vector<std::string>& args)
  {
    std::vector<std::string> lines{"argv[0]:" + std::string(GetParam().path)};
    for (size_t i = 0; i < args.size(); ++i)
      lines.push_back("argv[" + std::to_string(i + 1) + "]:" + args[i]);
    return lines;
  }

  std::string dir;
};

std::vector<std::string> joined(std::vector<std::string> a, const std::vector<std::string>& b)
{
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

constexpr char kUsage[] = "ERROR: rastertotarvo job-id user title copies options [file]\n";

TEST_P(FilterRun, WrongArgumentCountsGetTheUsageLine)
{
  const std::vector<std::vector<std::string>> wrong = {
      {},
      {"1", "user", "title", "1"},
      {"1", "user", "title", "1", "", "job.ras", "extra"},
  };
  for (const auto& args : wrong) {
    SCOPED_TRACE(args.size() + 1);
    const ProcessResult result = run(args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, kUsage);
    EXPECT_EQ(result.err.size(), 61u);
    // Every argument is logged before the count is tested; the log is not
    // closed with "Exit main" on this path.
    EXPECT_EQ(log(), joined(joined({"Enter main"}, argument_lines(args)), {"Begin main", "Input param is not enough"}));
  }
}

TEST_P(FilterRun, MissingRasterFileIsNoError)
{
  const std::vector<std::string> args = {"12", "carol", "Shelf", "2", "", dir + "/absent.ras"};
  const ProcessResult result = run(args);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(log(), joined(joined({"Enter main"}, argument_lines(args)),
                          {"Begin main", "cups_file:" + dir + "/absent.ras", "PPD=(null)", "can't param ppdfile",
                           "setting PageSize:60x40", "setting Speed:4", "setting Darkness:7", "Exit main"}));
}

TEST_P(FilterRun, EmptyStandardInputPrintsNothing)
{
  ASSERT_TRUE(write_file(dir + "/empty", ""));
  const std::vector<std::string> args = {"12", "carol", "Shelf", "2", ""};
  const ProcessResult result = run(args, {"-PPD"}, dir + "/empty");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  const std::vector<std::string> lines = log();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "cups_file is not null");
  EXPECT_EQ(lines.back(), "Exit main");
}

TEST_P(FilterRun, SettingsRunLogsEveryStepInOrder)
{
  const std::string ppd = dir + "/queue.ppd";
  ASSERT_TRUE(write_file(ppd, "*PPD-Adobe: \"4.3\"\n*cupsModelNumber: 2\n*DefaultPageSize: 4.00x6.00in\n"
                              "*DefaultDarkness: 15\n*DefaultPrintSpeed: 30\n"));
  const std::vector<std::string> args = {"1", "user", "title", "1", "PageSize=Custom.288x432 Darkness=20", "/dev/null"};
  const ProcessResult result = run(args, {"PPD=" + ppd});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(log(), joined(joined({"Enter main"}, argument_lines(args)),
                          {"Begin main",
                           "cups_file:/dev/null",
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
  ASSERT_NE(read_file(dir + "/quilby.log").find("first-run-marker"), std::string::npos);
  const ProcessResult second = run({"2", "user", "title", "1", "", dir + "/absent.ras"});
  EXPECT_EQ(second.status, 0);
  const std::string text = read_file(dir + "/quilby.log");
  EXPECT_EQ(text.find("first-run-marker"), std::string::npos);
  EXPECT_EQ(log().front(), "Enter main");
  EXPECT_EQ(log().back(), "Exit main");
}

TEST_P(FilterRun, WithoutALogTheJobRunsAsUsual)
{
  ASSERT_TRUE(write_raster(dir + "/job.ras", {noise_page(30, 4, 9, 2)}));
  const std::vector<std::string> args = {"3", "user", "title", "1", "", dir + "/job.ras"};
  const ProcessResult logged = run(args);
  ASSERT_EQ(logged.status, 0);
  ASSERT_EQ(std::remove((dir + "/quilby.log").c_str()), 0);
  ASSERT_EQ(mkdir((dir + "/quilby.log").c_str(), 0755), 0);  // the log can't be opened

  const ProcessResult unlogged = run(args);
  EXPECT_EQ(unlogged.status, 0);
  EXPECT_EQ(unlogged.err, "PAGE: 1 2\n");
  EXPECT_EQ(unlogged.out, logged.out);
  EXPECT_FALSE(unlogged.out.empty());

  const ProcessResult rejected = run({"too", "few"});
  EXPECT_EQ(rejected.status, 1);
  EXPECT_EQ(rejected.err, kUsage);
}

INSTANTIATE_TEST_SUITE_P(EveryProgram, FilterRun,
                         ::testing::Values(Program{"zplfilter300", FILTER_300}, Program{"zplfilter203", FILTER_203},
                                           Program{"zplfilter600", FILTER_600}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
