// Jobs cancelled as CUPS cancels them, with SIGTERM while labels go out, and
// output that nobody can take, for the filters and zplpass. Whenever the filter stops, the printer must
// hold whole labels only: an open graphic would swallow the next job.
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "support.h"

namespace {

// How the job's data moves, and the moments SIGTERM is sent at: after a
// share of the whole output has been read, or some time after the first
// label byte arrived.
struct Traffic {
  const char* name;
  PipePlan plan;  // without the signal moment
  std::vector<double> outputShares;
  std::vector<unsigned> delaysMs;
};
void PrintTo(const Traffic& traffic, std::ostream* os) { *os << traffic.name; }

PipePlan slow_reader()
{
  PipePlan plan;
  plan.readChunk = 4096;
  plan.readPauseUs = 1000;  // far slower than the filter: it waits in write
  return plan;
}

PipePlan slow_raster()
{
  PipePlan plan;
  plan.feedChunk = 16384;
  plan.feedPauseUs = 500;  // the filter waits in read
  return plan;
}

const Traffic kFast{"FastReader", PipePlan{}, {0.02, 0.3, 0.55, 0.8}, {1, 4, 9, 20}};
const Traffic kSlowReader{"SlowReader", slow_reader(), {0.01, 0.2, 0.45, 0.7, 0.9}, {}};
const Traffic kSlowRaster{"SlowRaster", slow_raster(), {}, {1, 5, 12, 25, 50}};

// Bytes a pipe writer may have in its stdio buffer besides what the pipe holds.
constexpr size_t kStdioBuffer = BUFSIZ;

class CancelledJob : public ::testing::TestWithParam<std::tuple<TestModel, Traffic>> {
protected:
  void SetUp() override
  {
    raster = dir.file("job.ras");
    // Noise pages hardly compress, so every label takes a while to make and
    // to send; sizes and copies vary from label to label.
    std::vector<GreyPage> pages;
    for (uint32_t i = 0; i < 12; ++i)
      pages.push_back(noise_page(640, 480 - 16 * i, i, 1 + i % 3));
    ASSERT_TRUE(write_raster(raster, pages));
    whole = run({});
    ASSERT_EQ(whole.process.status, 0);
    std::vector<DecodedLabel> labels;
    ASSERT_TRUE(decode_labels(whole.process.out, labels));
    ASSERT_EQ(labels.size(), pages.size());
    labelEnds = label_ends(whole.process.out);
  }

  // Runs the filter of the model on the job, raster on standard input.
  PipedResult run(const PipePlan& plan)
  {
    const std::string& program = std::get<0>(GetParam()).filter;
    RunSetup setup;
    setup.dir = dir.path;
    setup.stdinPath = raster;
    setup.env = {"-PPD"};
    return run_piped(program, filter_args(program, "", ""), setup, plan);
  }

  // What any cancelled run must show: status 0 and no error, a beginning of
  // the uncancelled output that ends at a label end and decodes as sound
  // labels, a PAGE line at most for one dropped page, and no label begun
  // after the signal had reached the filter.
  void expect_wholeLabels(const PipedResult& run)
  {
    const std::string& out = run.process.out;
    EXPECT_EQ(run.process.status, 0);
    EXPECT_EQ(run.process.err.find("ERROR:"), std::string::npos) << run.process.err;
    std::vector<DecodedLabel> labels;
    EXPECT_TRUE(decode_labels(out, labels)) << " after " << out.size() << " bytes";
    EXPECT_EQ(whole.process.out.compare(0, out.size(), out), 0);

    size_t count = 0;
    while (count < labelEnds.size() && labelEnds[count] < out.size())
      ++count;
    ASSERT_TRUE(out.empty() || (count < labelEnds.size() && labelEnds[count] == out.size()))
        << "output ends inside label " << count + 1;
    const size_t wholeLabels = out.empty() ? 0 : count + 1;
    size_t pageLines = 0;
    for (size_t at = 0; (at = run.process.err.find("PAGE: ", at)) != std::string::npos; ++at)
      ++pageLines;
    EXPECT_GE(pageLines, wholeLabels);
    EXPECT_LE(pageLines, wholeLabels + 1);

    if (run.readAtSignal != SIZE_MAX) {
      // When the signal came, the filter had written at most what was read,
      // what the pipe holds and its stdio buffer; the label under way then
      // is the last one.
      const size_t reach = run.readAtSignal + run.pipeCapacity + kStdioBuffer;
      const size_t lastStart = wholeLabels > 1 ? labelEnds[wholeLabels - 2] : 0;
      EXPECT_TRUE(out.empty() || lastStart < reach) << "a label began after the signal";
    }
    if (out.size() < whole.process.out.size()) {
      EXPECT_EQ(log_line(read_log(dir.path), 1), "job cancelled after " + std::to_string(wholeLabels) + " labels");
    }
  }

  TempDir dir;
  std::string raster;
  PipedResult whole;              // the job not cancelled
  std::vector<size_t> labelEnds;  // offsets just past each label's ^XZ CR LF
};

TEST_P(CancelledJob, LeavesOnlyWholeLabels)
{
  const Traffic& traffic = std::get<1>(GetParam());
  for (double share : traffic.outputShares) {
    SCOPED_TRACE("SIGTERM after " + std::to_string(share) + " of the output");
    PipePlan plan = traffic.plan;
    plan.termAfterBytes = static_cast<size_t>(share * static_cast<double>(whole.process.out.size()));
    expect_wholeLabels(run(plan));
  }
  for (unsigned delay : traffic.delaysMs) {
    SCOPED_TRACE("SIGTERM " + std::to_string(delay) + " ms after the first byte");
    PipePlan plan = traffic.plan;
    plan.termAfterMs = delay;
    expect_wholeLabels(run(plan));
  }
}

// Not cancelled, the job is the same through every kind of traffic.
TEST_P(CancelledJob, UncancelledOutputIsUnchanged)
{
  const PipedResult again = run(std::get<1>(GetParam()).plan);
  EXPECT_EQ(again.process.status, 0);
  EXPECT_EQ(again.process.err, whole.process.err);
  EXPECT_EQ(again.process.out, whole.process.out);
  EXPECT_EQ(read_file(dir.file("quilby.log")).find("cancelled"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(, CancelledJob,
                         ::testing::Combine(::testing::ValuesIn(test_models()),
                                            ::testing::Values(kFast, kSlowReader, kSlowRaster)),
                         ParamName());

// --- output that can't be written ---

struct DeadOutput {
  const char* name;
  const char* path;      // standard output; null: a pipe nobody reads
  unsigned startDelayMs; // how late the test gets to its end of the pipe
  const char* cause;
};

// Each model's filter and zplpass stop at the first label that can't be
// written, with an error naming the cause, and exit with status 1 instead
// of dying by SIGPIPE or carrying on. The pipe's read end is closed before
// the program starts, so even a test that gets to its end of the pipe late
// (a loaded machine) never leaves the program a reader.
TEST(DeadOutput, StopsTheJobWithAnError)
{
  const DeadOutput outputs[] = {{"ClosedPipe", nullptr, 0, "Broken pipe"},
                                {"ClosedPipeLateTest", nullptr, 200, "Broken pipe"},
                                {"DiskFull", "/dev/full", 0, "No space left on device"}};
  struct Program {
    std::string name, path, file, errorStart, logStart;
  };
  const TempDir dir;
  std::vector<Program> programs;
  for (const TestModel& model : test_models())
    programs.push_back({model.name, model.filter, dir.file("job.ras"), "PAGE: 1 1\nERROR: Unable to send the label: ",
                        "Unable to send the label: "});
  programs.push_back(
      {"zplpass", build_paths().zplpass, dir.file("job.zpl"), "ERROR: Unable to write to the printer: ", ""});
  ASSERT_TRUE(write_raster(dir.file("job.ras"), {noise_page(64, 40, 1), noise_page(64, 40, 2), noise_page(64, 40, 3)}));
  ASSERT_TRUE(write_file(dir.file("job.zpl"), hex_label(100000, false) + hex_label(100000, false)));

  for (const Program& program : programs)
    for (const DeadOutput& output : outputs) {
      SCOPED_TRACE(program.name + " " + output.name);
      RunSetup setup;
      setup.dir = dir.path;
      setup.env = {"-PPD"};
      const std::vector<std::string> args = filter_args(program.path, "", program.file);
      ProcessResult result;
      if (output.path) {
        setup.stdoutPath = output.path;
        result = run_process(program.path, args, setup);
      } else {
        PipePlan plan;
        plan.closeOutput = true;
        plan.startDelayMs = output.startDelayMs;
        result = run_piped(program.path, args, setup, plan).process;
      }
      EXPECT_EQ(result.status, 1);
      EXPECT_EQ(result.err, program.errorStart + output.cause + "\n");
      if (!program.logStart.empty()) {
        EXPECT_EQ(log_line(read_log(dir.path), 1), program.logStart + output.cause);
      }
    }
}

}  // namespace
