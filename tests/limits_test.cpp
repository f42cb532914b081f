// Hostile and broken input: pages the filter must refuse, jobs far longer
// than any real one, and a PPD or log that cannot be used. The filter must
// end cleanly, and every label written before the trouble must stand.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "support.h"

namespace {

class LimitsTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    work = dir.file("work");
    ASSERT_EQ(mkdir(work.c_str(), 0777), 0);
    // The filter may run as nobody: it must reach its input and log folder.
    ASSERT_EQ(chmod(dir.path.c_str(), 0755), 0);
    ASSERT_EQ(chmod(work.c_str(), 0777), 0);
  }

  // Runs a filter in the working folder, its output collected in dir (the
  // working folder may be removed or read-only).
  ProcessResult run(const TestModel& model, const std::string& raster, RunSetup setup)
  {
    setup.dir = work;
    setup.outDir = dir.path;
    if (setup.env.empty())
      setup.env.push_back("-PPD");
    return run_process(model.filter, filter_args(model.filter, "", raster), setup);
  }

  // The labels of a run, which must decode cleanly.
  static std::vector<DecodedLabel> labels_of(const ProcessResult& result)
  {
    std::vector<DecodedLabel> labels;
    EXPECT_TRUE(decode_labels(result.out, labels));
    return labels;
  }

  TempDir dir;       // outputs and inputs, read-only for the filter
  std::string work;  // the filter's working folder and log
};

// --- a bad page in the middle of a job ---

struct BadPage {
  const char* name;
  RawPage page;
  std::string err;  // standard error after the first page's line
};
void PrintTo(const BadPage& bad, std::ostream* os) { *os << bad.name; }

// The sanitizer's allocator announces a refused request on standard error
// before returning null; the filter's own lines are what is tested.
std::string without_allocator_warning(std::string err)
{
#ifdef ZPL_TEST_ASAN
  const size_t at = err.find("WARNING: AddressSanitizer failed to allocate");
  if (at != std::string::npos) {
    const size_t start = err.rfind('\n', at) + 1;  // npos + 1 is 0
    err.erase(start, err.find('\n', at) + 1 - start);
  }
#endif
  return err;
}

class BadPageTest : public LimitsTest, public ::testing::WithParamInterface<std::tuple<TestModel, BadPage>> {};

// The good page before the bad one comes out whole and byte for byte, the
// bad page gives its PAGE line and one error (or ends the job quietly), and
// nothing after it is printed.
TEST_P(BadPageTest, EndsTheJobWithEarlierLabelsIntact)
{
  const auto& [model, bad] = GetParam();
  const GreyPage first = noise_page(45, 20, 7, 2);
  const std::string raster = dir.file("job.ras");
  ASSERT_TRUE(write_raw_pages(raster, {raw_page(first), bad.page, raw_page(noise_page(16, 4, 8))}));

  RunSetup setup;
  setup.memoryCapMb = 1024;
  const ProcessResult result = run(model, raster, setup);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(without_allocator_warning(result.err), "PAGE: 1 2\n" + bad.err);
  EXPECT_EQ(result.out, reference_label(model, first));
  EXPECT_EQ(log_line(read_log(work)), "Exit main");
}

// A page whose header asks for nothing: no rows, or rows of no bytes.
RawPage empty_page(uint32_t height, uint32_t bytesPerLine)
{
  RawPage page = raw_page(white_page(12, 4));
  page.header.cupsHeight = height;
  page.header.cupsBytesPerLine = bytesPerLine;
  page.data.clear();
  return page;
}

constexpr char kNoMemory[] = "PAGE: 2 1\nERROR: Unable to allocate memory\n";

INSTANTIATE_TEST_SUITE_P(
    , BadPageTest,
    ::testing::Combine(
        ::testing::ValuesIn(test_models()),
        ::testing::Values(
            // 3.9 GB of grey: within 32 bits, beyond the memory the child gets.
            BadPage{"PageTooLargeForMemory", claimed_page(65536, 60000, 65536), kNoMemory},
            BadPage{"PageBeyond32Bits", claimed_page(1u << 20, 1u << 13, 1u << 20), kNoMemory},
            BadPage{"ZeroWidth", claimed_page(0, 4, 8, 8, 32),
                    "PAGE: 2 1\nERROR: Page is not 8-bit grey: 8 bytes per line for 0 pixels\n"},
            BadPage{"LineLongerThanRow", claimed_page(16, 4, 32, 16, 128),
                    "PAGE: 2 1\nERROR: Page is not 8-bit grey: 32 bytes per line for 16 pixels\n"},
            BadPage{"LineLongerThanWidth", claimed_page(9, 4, 16, 8, 64),
                    "PAGE: 2 1\nERROR: Page is not 8-bit grey: 16 bytes per line for 9 pixels\n"},
            BadPage{"ZeroHeight", empty_page(0, 12), ""},
            BadPage{"ZeroBytesPerLine", empty_page(4, 0), ""})),
    ParamName());

// --- a job far longer than any real one ---

// Writes count noise pages in a process of its own. A child's peak resident
// size includes what it inherits from the test at fork, so the pages must
// never live here (the sanitizer's quarantine would keep them resident).
bool write_noise_pages_apart(const std::string& path, int count)
{
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<GreyPage> pages;
    for (int i = 0; i < count; ++i)
      pages.push_back(noise_page(320, 160, static_cast<uint32_t>(i), 1));
    _exit(write_raster(path, pages) ? 0 : 1);
  }
  int status = 0;
  return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Every page's buffers are gone before the next header is read, so the peak
// resident size of a 1000-page job is that of a 10-page job.
TEST_F(LimitsTest, MemoryStaysFlatOverAThousandPages)
{
  auto peak_for = [&](int count) {
    const std::string raster = dir.file("pages.ras");
    EXPECT_TRUE(write_noise_pages_apart(raster, count));
    const ProcessResult child = run(test_model(300), raster, {});
    EXPECT_EQ(child.status, 0);
    EXPECT_EQ(label_ends(child.out).size(), static_cast<size_t>(count));
    EXPECT_NE(child.err.find("PAGE: " + std::to_string(count) + " 1\n"), std::string::npos);
    return child.maxRssKb;
  };
  const long few = peak_for(10);
  const long many = peak_for(1000);
  ASSERT_GT(few, 0);
  // A leak of even 1 KB per page would show as 1 MB.
  EXPECT_LT(many, few + 1024) << "peak of 10 pages: " << few << " KB, of 1000 pages: " << many << " KB";
}

// --- settings and log that cannot be used ---

class UnusablePpdTest : public LimitsTest, public ::testing::WithParamInterface<const char*> {};

// Whatever is wrong with the PPD, the job prints at the built-in defaults
// and the log tells why.
TEST_P(UnusablePpdTest, JobPrintsAtBuiltInDefaults)
{
  const std::string kind = GetParam();
  const std::string ppd = dir.file("queue.ppd");
  RunSetup setup;
  if (kind == "Directory") {
    ASSERT_EQ(mkdir(ppd.c_str(), 0755), 0);
  } else if (kind == "Unreadable") {
    write_ppd(dir.path, "*DefaultDarkness: 25\n");
    ASSERT_EQ(chmod(ppd.c_str(), 0), 0);
    setup.asNobody = true;  // root reads any file
  } else if (kind == "Empty") {
    ASSERT_TRUE(write_file(ppd, ""));
  } else if (kind == "NotAPpd") {
    ASSERT_TRUE(write_file(ppd, std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)));
  }
  setup.env = {"PPD=" + ppd};
  const std::string raster = dir.file("job.ras");
  ASSERT_TRUE(write_raster(raster, {noise_page(24, 8, 3)}));

  const TestModel& model = test_model(300);
  const ProcessResult result = run(model, raster, setup);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "PAGE: 1 1\n");
  const std::vector<DecodedLabel> labels = labels_of(result);
  ASSERT_EQ(labels.size(), 1u);
  EXPECT_EQ(labels[0].width, dots(model, 60));
  EXPECT_EQ(labels[0].length, dots(model, 40));
  EXPECT_EQ(labels[0].darkness, 7);
  EXPECT_NE(read_file(work + "/quilby.log").find("can't param ppdfile"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(, UnusablePpdTest,
                         ::testing::Values("Directory", "Missing", "Unreadable", "Empty", "NotAPpd"));

class UnusableLogTest : public LimitsTest, public ::testing::WithParamInterface<const char*> {};

// Without its log the filter writes exactly the labels it writes with one.
TEST_P(UnusableLogTest, LabelsAreUnchanged)
{
  const std::string kind = GetParam();
  const TestModel& model = test_model(300);
  const std::string raster = dir.file("job.ras");
  ASSERT_TRUE(write_raster(raster, {noise_page(30, 12, 5), noise_page(9, 3, 6, 3)}));
  const ProcessResult logged = run(model, raster, {});
  ASSERT_NE(read_file(work + "/quilby.log").find("Exit main"), std::string::npos);
  ASSERT_EQ(unlink((work + "/quilby.log").c_str()), 0);

  RunSetup setup;
  if (kind == "FolderMissing") {
    setup.removeDir = true;
  } else if (kind == "FolderReadOnly") {
    ASSERT_EQ(chmod(work.c_str(), 0555), 0);
    setup.asNobody = true;  // root writes anywhere
  } else if (kind == "LogIsAFolder") {
    ASSERT_EQ(mkdir((work + "/quilby.log").c_str(), 0755), 0);
  }
  const ProcessResult unlogged = run(model, raster, setup);
  EXPECT_EQ(unlogged.status, 0);
  EXPECT_EQ(unlogged.err, "PAGE: 1 1\nPAGE: 2 3\n");
  EXPECT_EQ(labels_of(unlogged).size(), 2u);
  EXPECT_EQ(unlogged.out, logged.out);
  if (kind == "FolderReadOnly") {
    struct stat info {};
    EXPECT_NE(stat((work + "/quilby.log").c_str(), &info), 0) << "a log appeared in a read-only folder";
  }
}

INSTANTIATE_TEST_SUITE_P(, UnusableLogTest, ::testing::Values("FolderMissing", "FolderReadOnly", "LogIsAFolder"));

}  // namespace
