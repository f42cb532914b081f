// The bundled sample through CUPS's own chain (pdftopdf, gstoraster) into
// our filters, as cupsfilter runs it with our PPDs: every label must hold the
// raster CUPS made for its page, dot for dot, and the settings of the PPD and
// the job's options.
#include <ostream>
#include <tuple>

#include <gtest/gtest.h>

#include "cups_env.h"

namespace {

struct Model {
  const char* name;
  const char* ppd;
  int dpi;
  int threshold;
  bool header;
  int tenthDotsPerMm;  // dots per 10 mm
};
constexpr Model k300{"300dpi", PPD_300, 300, 155, true, 118};
constexpr Model k203{"203dpi", PPD_203, 203, 156, false, 80};
constexpr Model k600{"600dpi", PPD_600, 600, 155, false, 236};

// Millimetres to printer dots as each model counts them.
int dots(const Model& model, int mm)
{
  return mm * model.tenthDotsPerMm / 10;
}

struct Job {
  const char* name;
  std::vector<std::string> options;
  int widthMm, lengthMm, darkness, speed, dottedLine;
};
void PrintTo(const Model& model, std::ostream* out) { *out << model.name; }
void PrintTo(const Job& job, std::ostream* out) { *out << job.name; }

const Job kDefaults{"PpdDefaults", {}, 102, 152, 15, 4, 0};
const Job kOptions{"NamedSizeAndOptions",
                   {"PageSize=2.25x1.25in", "Darkness=25", "PrintSpeed=60", "DottedLine=1"},
                   57, 32, 25, 6, 1};
const Job kCustom{"CustomSize", {"PageSize=Custom.200x300"}, 69, 103, 15, 4, 0};

class CupsChain : public ::testing::TestWithParam<std::tuple<Model, Job>> {
protected:
  static void SetUpTestSuite()
  {
    root = make_temp_dir();
    // CUPS's types and conversions with ours added, as installed.
    filesConf = make_cupsfilter_conf(root, test_filters(), MIME_SOURCE_DIR);
  }
  static void TearDownTestSuite() { remove_tree(root); }

  void SetUp() override
  {
    ASSERT_FALSE(filesConf.empty());
    dir = make_temp_dir();
  }
  void TearDown() override { remove_tree(dir); }

  // Runs the sample through cupsfilter to the given type; fails the test on
  // an error exit.
  std::string convert(const char* type)
  {
    std::vector<std::string> args{"-c", filesConf, "-e", "-p", std::get<0>(GetParam()).ppd, "-m", type};
    for (const std::string& option : std::get<1>(GetParam()).options)
      args.insert(args.end(), {"-o", option});
    args.push_back(SAMPLE_PDF);
    const ProcessResult result = run_tool("cupsfilter", args, dir);
    EXPECT_EQ(result.status, 0) << result.err;
    return result.out;
  }

  static std::string root, filesConf;
  std::string dir;
};
std::string CupsChain::root, CupsChain::filesConf;

TEST_P(CupsChain, EveryLabelHoldsTheRasterCupsMade)
{
  const Model& model = std::get<0>(GetParam());
  const Job& job = std::get<1>(GetParam());

  ASSERT_TRUE(write_file(dir + "/sample.ras", convert("application/vnd.cups-raster")));
  std::vector<GreyPage> pages;
  cups_page_header2_t header;
  std::string error;
  ASSERT_TRUE(read_raster_pages(dir + "/sample.ras", pages, header, error)) << error;
  // What the PPD asks of the rasteriser is what the filter packs.
  EXPECT_EQ(header.cupsColorSpace, CUPS_CSPACE_W);
  EXPECT_EQ(header.cupsBitsPerColor, 8u);
  EXPECT_EQ(header.cupsNumColors, 1u);
  EXPECT_EQ(header.HWResolution[0], static_cast<unsigned>(model.dpi));
  EXPECT_EQ(header.HWResolution[1], static_cast<unsigned>(model.dpi));
  ASSERT_EQ(pages.size(), 2u);
  // The sample's fine grey ramp is what tells the two thresholds apart:
  // without those levels a threshold off by one would pass unseen.
  EXPECT_GT(count_grey(pages, 155), 100u);
  EXPECT_GT(count_grey(pages, 156), 100u);

  const std::string zpl = convert("printer/foo");
  std::vector<DecodedLabel> labels;
  ASSERT_TRUE(decode_labels(zpl, labels, error)) << error;
  ASSERT_EQ(labels.size(), pages.size());
  for (size_t i = 0; i < labels.size(); ++i) {
    SCOPED_TRACE("label " + std::to_string(i + 1));
    const DecodedLabel& label = labels[i];
    EXPECT_EQ(label.hasHeader, model.header);
    if (model.header) {
      EXPECT_EQ(label.dottedLine, job.dottedLine);
    }
    EXPECT_EQ(label.width, dots(model, job.widthMm));
    EXPECT_EQ(label.length, dots(model, job.lengthMm));
    EXPECT_EQ(label.darkness, job.darkness);
    EXPECT_EQ(label.speed, job.speed);
    EXPECT_EQ(label.copies, static_cast<int>(pages[i].copies));
    EXPECT_EQ(label.rowBytes, (pages[i].width + 7) / 8);
    const std::vector<uint8_t> expected = pack_reference(pages[i], model.threshold);
    EXPECT_TRUE(label.packed == expected) << "the dots differ from the raster through threshold "
                                          << model.threshold;
    // A blank or solid page would pass the comparison without proving much.
    size_t set = 0;
    for (uint8_t byte : expected)
      set += byte != 0;
    EXPECT_GT(set, expected.size() / 50);
    EXPECT_LT(set, expected.size() / 2);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryModel, CupsChain,
                         ::testing::Combine(::testing::Values(k300, k203, k600),
                                            ::testing::Values(kDefaults, kOptions, kCustom)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
                         });

}  // namespace
