// zplpass as CUPS starts it: what is ZPL reaches the printer byte for byte,
// once per copy, with a PAGE line per label; what is not is refused before a
// byte is sent; a cancelled job ends after a whole label. (Output that
// can't be written is in cancel_test.cpp, with the filters'.)
#include <algorithm>

#include <gtest/gtest.h>

#include "support.h"

namespace {

std::string repeated(const std::string& text, int times)
{
  std::string all;
  for (int i = 0; i < times; ++i)
    all += text;
  return all;
}

// The PAGE lines for labels 1 to n, one copy each.
std::string page_lines(int n)
{
  std::string lines;
  for (int i = 1; i <= n; ++i)
    lines += "PAGE: " + std::to_string(i) + " 1\n";
  return lines;
}

class Passthrough : public ::testing::Test {
protected:
  // Writes the job to a file of the test folder and returns its path.
  std::string job_file(const std::string& bytes)
  {
    EXPECT_TRUE(write_file(dir.file("job.zpl"), bytes));
    return dir.file("job.zpl");
  }

  // zplpass with the given arguments after argv[0], standard input from stdinPath.
  ProcessResult run(std::vector<std::string> args, const std::string& stdinPath = {})
  {
    args.insert(args.begin(), build_paths().zplpass);
    return run_program(build_paths().zplpass, args, dir.path, stdinPath);
  }

  // zplpass reading the job from a pipe, as behind a decompressing filter.
  ProcessResult run_from_pipe(const std::string& path, const std::string& copies)
  {
    return run_program("/bin/sh",
                       {"sh", "-c", "cat \"$0\" | exec \"$1\" 3 user title \"$2\" ''", path, build_paths().zplpass,
                        copies},
                       dir.path);
  }

  // zplpass on a job file, its output read per plan.
  PipedResult run_piped_job(const std::string& job, const std::string& copies, const PipePlan& plan)
  {
    RunSetup setup;
    setup.dir = dir.path;
    const std::string& program = build_paths().zplpass;
    std::vector<std::string> args{program, "7", "user", "title", copies, ""};
    if (!job.empty())
      args.push_back(job_file(job));
    return run_piped(program, args, setup, plan);
  }

  TempDir dir;
};

// Every way a ZPL job reaches the program, with one copy and with three:
// the bytes come out unchanged and every label is counted once per copy.
TEST_F(Passthrough, SendsEveryJobUnchangedOncePerCopy)
{
  std::vector<ZplSample> jobs = zpl_samples();
  for (const TestModel& model : test_models())
    jobs.push_back({model.name + " filter",
                    filter_labels(model.filter, {noise_page(64, 20, 1), noise_page(40, 9, 2)}), 2});
  // A label whose ^XZ is cut by the program's 64 KiB reads: "^X" ends the
  // first read, "Z" starts the next.
  std::string cut = "^XA^FD";
  cut += std::string(65536 - 2 - cut.size(), 'x') + "^XZ\r\n";
  jobs.push_back({"command cut by a read", cut + hex_label(4, false), 2});

  for (const ZplSample& job : jobs) {
    SCOPED_TRACE(job.name);
    ASSERT_FALSE(job.bytes.empty());
    const std::string path = job_file(job.bytes);
    for (int copies : {1, 3}) {
      SCOPED_TRACE("copies " + std::to_string(copies));
      const std::string expectedOut = repeated(job.bytes, copies), expectedErr = page_lines(job.labels * copies);
      const std::string count = std::to_string(copies);
      const ProcessResult runs[] = {run({"1", "user", "title", count, "", path}),
                                    run({"1", "user", "title", count, ""}, path), run_from_pipe(path, count)};
      for (const ProcessResult& result : runs) {
        EXPECT_EQ(result.status, 0);
        EXPECT_TRUE(result.out == expectedOut) << result.out.size() << " bytes instead of " << expectedOut.size();
        EXPECT_EQ(result.err, expectedErr);
      }
    }
  }
}

// What CUPS may type as ZPL by its name alone must still be ZPL, or nothing
// of it reaches the printer.
TEST_F(Passthrough, RefusesWhatIsNotZpl)
{
  std::vector<ZplSample> inputs = not_zpl_samples();
  // CUPS's rule does not look at the switch's last byte; zplpass does.
  inputs.push_back({"switch with another value", kDottedLineSwitch + '\x07' + "^XA^XZ", 0});
  for (const ZplSample& input : inputs) {
    SCOPED_TRACE(input.name);
    const ProcessResult result = run({"1", "user", "title", "2", "", job_file(input.bytes)});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.rfind("ERROR: Not a ZPL job: ", 0), 0u) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
  }
}

TEST_F(Passthrough, TakesTheStandardArguments)
{
  // Wrong argument counts are in filter_process_test.cpp, with the filters'.
  const std::string path = job_file("^XA^XZ\n");
  // CUPS always sends a count; anything that is not a positive one is one copy.
  for (const char* copies : {"0", "-2", "", "two", "2x"}) {
    SCOPED_TRACE(copies);
    const ProcessResult result = run({"1", "user", "title", copies, "", path});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "^XA^XZ\n");
    EXPECT_EQ(result.err, page_lines(1));
  }
  const ProcessResult missing = run({"1", "user", "title", "1", "", dir.file("absent.zpl")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err.rfind("ERROR: Unable to open ", 0), 0u) << missing.err;
}

// A cancelled job ends with the label being written, its line end included,
// and nothing of the next one (not even its dotted-line switch): the printer
// never gets half a label, and the next job starts clean.
TEST_F(Passthrough, CancelledJobEndsAfterAWholeLabel)
{
  // Labels much larger than a pipe holds, so that when the test has read
  // `readFirst` bytes the program is still inside the label that holds
  // byte readFirst + 64 KiB at most.
  constexpr size_t kGraphic = 256 * 1024;
  const std::string label = hex_label(kGraphic, true);
  const std::string lfLabel = hex_label(kGraphic, true, "\n");
  const struct {
    const char* name;
    std::string oneCopy;
    const char* copies;
    size_t readFirst;
    std::string kept;
    int pages;
  } cases[] = {
      {"in the first label", repeated(label, 4), "1", 4096, label, 1},
      {"in the third label", repeated(label, 4), "1", 2 * label.size() + 4096, repeated(label, 3), 3},
      {"line feed only", repeated(lfLabel, 3), "1", 4096, lfLabel, 1},
      {"in the second copy", repeated(label, 2), "2", 2 * label.size() + 4096, repeated(label, 3), 3},
      // Still waiting for a piped job's first bytes: nothing sent, no error.
      {"before any input", "", "1", 0, "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PipePlan plan;
    plan.readChunk = 4096;
    plan.termAfterBytes = c.readFirst;
    plan.holdInput = c.oneCopy.empty();
    const ProcessResult result = run_piped_job(c.oneCopy, c.copies, plan).process;
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(result.out == c.kept) << result.out.size() << " bytes instead of " << c.kept.size();
    EXPECT_EQ(result.err, page_lines(c.pages));
  }
}

}  // namespace
