// Jobs cancelled as CUPS cancels them, with SIGTERM while labels go out, and
// output that nobody can take. Whenever the filter stops, the printer must
// hold whole labels only: an open graphic would swallow the next job.
#include <cstdio>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "support.h"

namespace {

struct Model {
  const char* name;
  const char* program;
};
const Model k300{"300dpi", FILTER_300};
const Model k203{"203dpi", FILTER_203};
const Model k600{"600dpi", FILTER_600};
void PrintTo(const Model& model, std::ostream* os) { *os << model.name; }

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

class CancelledJob : public ::testing::TestWithParam<std::tuple<Model, Traffic>> {
protected:
  void SetUp() override
  {
    dir = make_temp_dir();
    raster = dir + "/job.ras";
    // Noise pages hardly compress, so every label takes a while to make and
    // to send; sizes and copies vary from label to label.
    std::vector<GreyPage> pages;
    for (uint32_t i = 0; i < 12; ++i)
      pages.push_back(noise_page(640, 480 - 16 * i, i, 1 + i % 3));
    ASSERT_TRUE(write_raster(raster, pages));
    whole = run({});
    ASSERT_EQ(whole.process.status, 0);
    std::vector<DecodedLabel> labels;
    std::string error;
    ASSERT_TRUE(decode_labels(whole.process.out, labels, error)) << error;
    ASSERT_EQ(labels.size(), pages.size());
    for (size_t at = 0; (at = whole.process.out.find("^XZ\r\n", at)) != std::string::npos;)
      labelEnds.push_back(at += 5);
  }
  void TearDown() override { remove_tree(dir); }

  // Runs the filter of the model on the job, raster on standard input.
  PipedResult run(const PipePlan& plan)
  {
    const char* program = std::get<0>(GetParam()).program;
    RunSetup setup;
    setup.dir = dir;
    setup.stdinPath = raster;
    setup.env = {"-PPD"};
    return run_piped(program, {program, "7", "alice", "labels", "1", ""}, setup, plan);
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
    std::string error;
    EXPECT_TRUE(decode_labels(out, labels, error)) << error << " after " << out.size() << " bytes";
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
      const std::vector<std::string> log = log_messages(read_file(dir + "/quilby.log"));
      ASSERT_GE(log.size(), 2u);
      EXPECT_EQ(log[log.size() - 2], "job cancelled after " + std::to_string(wholeLabels) + " labels");
    }
  }

  std::string dir, raster;
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
  EXPECT_EQ(read_file(dir + "/quilby.log").find("cancelled"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(, CancelledJob,
                         ::testing::Combine(::testing::Values(k300, k203, k600),
                                            ::testing::Values(kFast, kSlowReader, kSlowRaster)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
                         });

// --- output that can't be written ---

struct DeadOutput {
  const char* name;
  const char* path;  // standard output; null: a pipe nobody reads
  const char* cause;
};

// The job stops at the first label with an error naming the cause, and
// exits with status 1 instead of dying by SIGPIPE or carrying on.
TEST(DeadOutput, StopsTheJobWithAnError)
{
  const DeadOutput outputs[] = {{"ClosedPipe", nullptr, "Broken pipe"},
                                {"DiskFull", "/dev/full", "No space left on device"}};
  const std::string dir = make_temp_dir();
  const std::string raster = dir + "/job.ras";
  ASSERT_TRUE(write_raster(raster, {noise_page(64, 40, 1), noise_page(64, 40, 2), noise_page(64, 40, 3)}));
  for (const DeadOutput& output : outputs) {
    SCOPED_TRACE(output.name);
    RunSetup setup;
    setup.dir = dir;
    setup.env = {"-PPD"};
    const std::vector<std::string> args = {FILTER_300, "7", "alice", "labels", "1", "", raster};
    ProcessResult result;
    if (output.path) {
      setup.stdoutPath = output.path;
      result = run_process(FILTER_300, args, setup);
    } else {
      PipePlan plan;
      plan.closeOutput = true;
      result = run_piped(FILTER_300, args, setup, plan).process;
    }
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, std::string("PAGE: 1 1\nERROR: Unable to send the label: ") + output.cause + "\n");
    const std::vector<std::string> log = log_messages(read_file(dir + "/quilby.log"));
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], std::string("Unable to send the label: ") + output.cause);
  }
  remove_tree(dir);
}

}  // namespace
