// zplpass as CUPS starts it: what is ZPL reaches the printer byte for byte,
// once per copy, with a PAGE line per label; what is not is refused before a
// byte is sent; a cancelled job ends after a whole label.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "zpl_samples.h"

namespace {

constexpr char kDottedLine[] = "\x1F\x1B\x1A\x01\x03\x01\x00";

// One hand-made label: optionally the 300 dpi model's dotted-line switch,
// ^XA, a hex graphic of the given size, ^XZ and the line end.
std::string zpl_label(size_t graphicBytes, bool dottedLine, const std::string& lineEnd = "\r\n")
{
  std::string label = dottedLine ? std::string(kDottedLine, 7) : "";
  const std::string count = std::to_string(graphicBytes);
  label += "^XA^FO0,0^GFA," + count + "," + count + ",8,";
  for (size_t i = 0; i < graphicBytes; ++i)
    label += "0123456789ABCDEF"[i % 16];
  return label + "^FS^XZ" + lineEnd;
}

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

// What to do with zplpass's output pipe after reading the first bytes.
enum class Then { ReadOn, Cancel, CloseOutput };

struct PipedRun {
  std::string input;     // the job file, given as the last argument; empty: stdin is a pipe kept open
  std::string copies = "1";
  size_t readFirst = 0;  // bytes read before `then`
  Then then = Then::ReadOn;
};

// Waits (up to ten seconds) until the process catches SIGTERM, so that a
// signal sent next tests the handler and not the default action.
bool catches_sigterm(pid_t pid)
{
  for (int i = 0; i < 1000; ++i) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
      if (line.rfind("SigCgt:", 0) == 0 && (std::stoull(line.substr(7), nullptr, 16) >> (SIGTERM - 1) & 1))
        return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// Reads from fd until end of file or until limit bytes are in out.
void read_into(int fd, std::string& out, size_t limit)
{
  char buffer[4096];
  while (out.size() < limit) {
    const ssize_t got = read(fd, buffer, std::min(sizeof buffer, limit - out.size()));
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      return;
    out.append(buffer, static_cast<size_t>(got));
  }
}

// Runs zplpass with its standard output into a pipe that the test reads as
// a slow printer would: the first bytes, then a cancel or a closed
// connection, then the rest.
ProcessResult run_piped(const PipedRun& run, const std::string& dir)
{
  ProcessResult result;
  int out[2], in[2] = {-1, -1};
  if (pipe(out) != 0 || (run.input.empty() && pipe(in) != 0))
    return result;
  const std::string errPath = dir + "/.stderr";
  std::vector<std::string> args{ZPLPASS, "7", "user", "title", run.copies, ""};
  if (!run.input.empty())
    args.push_back(run.input);
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int stdinFd = run.input.empty() ? in[0] : open("/dev/null", O_RDONLY);
    dup2(stdinFd, 0), dup2(out[1], 1), dup2(err, 2);
    for (int fd = 3; fd < 64; ++fd)
      close(fd);
    std::vector<char*> argv;
    for (std::string& arg : args)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(ZPLPASS, argv.data());
    _exit(127);
  }
  close(out[1]);
  if (in[0] >= 0)
    close(in[0]);
  read_into(out[0], result.out, run.readFirst);
  if (run.then == Then::Cancel) {
    EXPECT_TRUE(catches_sigterm(pid));
    kill(pid, SIGTERM);
  }
  // The filter before us ends with the job too.
  if (in[1] >= 0)
    close(in[1]);
  if (run.then == Then::CloseOutput)
    close(out[0]);
  else
    read_into(out[0], result.out, SIZE_MAX), close(out[0]);
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid)
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.err = read_file(errPath);
  return result;
}

class Passthrough : public ::testing::Test {
protected:
  void SetUp() override { dir = make_temp_dir(); }
  void TearDown() override { remove_tree(dir); }

  // Writes the job to a file of the test folder and returns its path.
  std::string job_file(const std::string& bytes, const std::string& name = "job.zpl")
  {
    const std::string path = dir + "/" + name;
    EXPECT_TRUE(write_file(path, bytes));
    return path;
  }

  // zplpass with the given arguments after argv[0], standard input from stdinPath.
  ProcessResult run(std::vector<std::string> args, const std::string& stdinPath = {})
  {
    args.insert(args.begin(), ZPLPASS);
    return run_program(ZPLPASS, args, dir, stdinPath);
  }

  // zplpass reading the job from a pipe, as behind a decompressing filter.
  ProcessResult run_from_pipe(const std::string& path, const std::string& copies)
  {
    return run_program("/bin/sh", {"sh", "-c", "cat \"$0\" | exec \"$1\" 3 user title \"$2\" ''", path, ZPLPASS, copies},
                       dir);
  }

  std::string dir;
};

struct ZplJob {
  const char* name;
  std::string bytes;
  int labels;
};

// Every way a ZPL job reaches the program, with one copy and with three:
// the bytes come out unchanged and every label is counted once per copy.
TEST_F(Passthrough, SendsEveryJobUnchangedOncePerCopy)
{
  // A label whose ^XZ is cut by the program's 64 KiB reads: "^X" ends the
  // first read, "Z" starts the next.
  std::string cut = "^XA^FD";
  cut += std::string(65536 - 2 - cut.size(), 'x') + "^XZ\r\n";
  const std::vector<ZplJob> jobs = {
      {"300 dpi filter", labels_from_filter(FILTER_300, {noise_page(64, 20, 1), noise_page(40, 9, 2)}, dir), 2},
      {"203 dpi filter", labels_from_filter(FILTER_203, {noise_page(64, 20, 1), noise_page(40, 9, 2)}, dir), 2},
      {"600 dpi filter", labels_from_filter(FILTER_600, {noise_page(64, 20, 1), noise_page(40, 9, 2)}, dir), 2},
      {"darkness first", "~SD15\r\n^XA^FO10,10^A0N,30,30^FDShip to^FS^XZ\r\n", 1},
      {"white space first", " \r\n\t^XA^FDa^FS^XZ\n^XA^FDb^FS^XZ\n", 2},
      {"ZebraDesigner", "CT~~CD,~CC^~CT~\r\n^XA~TA000~JSN^LT0^MNW^XZ\r\n^XA^FDx^FS^PQ1,0,1,Y^XZ\r\n", 2},
      {"lower case", "^xa^fo5,5^fdlabel^fs^xz", 1},
      {"no line ends", zpl_label(10, false, "") + zpl_label(20, true, "") + "^XA^XZ", 3},
      {"command cut by a read", cut + zpl_label(4, false), 2},
      {"ZPL mentioned in field data", "^XA^FDtext with ~ and XZ^FS^XZ\r\n", 1},
  };
  for (const ZplJob& job : jobs) {
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
  const std::string pdf = read_file(SAMPLE_PDF);
  ASSERT_FALSE(pdf.empty());
  const struct {
    const char* name;
    std::string bytes;
  } inputs[] = {
      {"empty", ""},
      {"plain text", "Dear customer,\nyour parcel is on its way.\n"},
      {"commands but no label", "~SD15\r\n^FXno format here\r\n"},
      {"PDF", pdf},
      {"PDF with a label start inside", pdf + "^XA^FDx^FS^XZ"},
      {"image", std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16) + "^XA^XZ"},
      {"switch cut short", std::string(kDottedLine, 3) + "^XA^XZ"},
      {"switch with another value", std::string("\x1F\x1B\x1A\x01\x03\x01\x07", 7) + "^XA^XZ"},
      {"null byte first", std::string("\0^XA^XZ", 7)},
  };
  for (const auto& input : inputs) {
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
  const std::string path = job_file("^XA^XZ\n");
  const std::string usage = "ERROR: Usage: zplpass job-id user title copies options [file]\n";
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"1", "user", "title", "1"}, {"1", "user", "title", "1", "", path, "extra"}}) {
    SCOPED_TRACE(args.size() + 1);
    const ProcessResult result = run(args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, usage);
  }
  // CUPS always sends a count; anything that is not a positive one is one copy.
  for (const char* copies : {"0", "-2", "", "two", "2x"}) {
    SCOPED_TRACE(copies);
    const ProcessResult result = run({"1", "user", "title", copies, "", path});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "^XA^XZ\n");
    EXPECT_EQ(result.err, page_lines(1));
  }
  const ProcessResult missing = run({"1", "user", "title", "1", "", dir + "/absent.zpl"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err.rfind("ERROR: Unable to open ", 0), 0u) << missing.err;
}

// A printer connection that fails is an error CUPS must hear about, not a
// silent end (SIGPIPE) or a job reported as printed.
TEST_F(Passthrough, FailedOutputIsAnError)
{
  const std::string path = job_file(repeated(zpl_label(100000, false), 3));
  const ProcessResult full = run_program(
      "/bin/sh", {"sh", "-c", "exec \"$0\" 1 user title 1 '' \"$1\" >/dev/full", ZPLPASS, path}, dir);
  EXPECT_EQ(full.status, 1);
  EXPECT_EQ(full.err, "ERROR: Unable to write to the printer: No space left on device\n");

  PipedRun gone;
  gone.input = path;
  gone.then = Then::CloseOutput;
  const ProcessResult closed = run_piped(gone, dir);
  EXPECT_EQ(closed.status, 1);
  EXPECT_NE(closed.err.find("ERROR: Unable to write to the printer: Broken pipe\n"), std::string::npos)
      << closed.err;
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
  const std::string label = zpl_label(kGraphic, true);
  const std::string lfLabel = zpl_label(kGraphic, true, "\n");
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
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PipedRun cancel;
    cancel.input = job_file(c.oneCopy);
    cancel.copies = c.copies;
    cancel.readFirst = c.readFirst;
    cancel.then = Then::Cancel;
    const ProcessResult result = run_piped(cancel, dir);
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(result.out == c.kept) << result.out.size() << " bytes instead of " << c.kept.size();
    EXPECT_EQ(result.err, page_lines(c.pages));
  }

  // Cancelled while still reading a piped job: nothing sent, no error.
  PipedRun early;
  early.then = Then::Cancel;
  const ProcessResult result = run_piped(early, dir);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
}

}  // namespace
