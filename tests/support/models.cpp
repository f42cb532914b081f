// The model table: the product's own profiles, with the programs and files
// this build made for each, and the paths of everything else the tests run.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "support.h"

namespace {

// What the build made for one model, as tests/support.cmake lists it.
struct ModelFiles {
  int dpi;
  const char* filter;
  const char* ppd;
};

constexpr ModelFiles kModelFiles[] = {
#include "model_files.inc"
};

// The row of a profile; a profile without a filter in the build is a
// fault of the build itself, so the test program stops at once.
TestModel model_row(const ModelProfile& profile)
{
  for (const ModelFiles& files : kModelFiles)
    if (files.dpi == profile.dpi)
      return {std::to_string(profile.dpi) + "dpi", &profile, profile.dpi, profile.monoThreshold,
              profile.dottedLineHeader, files.filter, "zplfilter-" + std::to_string(profile.dpi), files.ppd};
  std::fprintf(stderr, "model %d of common/profile.h has no filter in ZPL_MODELS\n", profile.dpi);
  std::abort();
}

}  // namespace

void PrintTo(const TestModel& model, std::ostream* os)
{
  *os << model.name;
}

const std::vector<TestModel>& test_models()
{
  static const std::vector<TestModel> models = [] {
    std::vector<TestModel> rows;
    for (const ModelProfile* profile : kModels)
      rows.push_back(model_row(*profile));
    return rows;
  }();
  return models;
}

const TestModel& test_model(int dpi)
{
  for (const TestModel& model : test_models())
    if (model.dpi == dpi)
      return model;
  ADD_FAILURE() << "no model of " << dpi << " dpi";
  return test_models().front();
}

int dots(const TestModel& model, int mm)
{
  // Dots per 10 mm are whole for every model: 80, 118, 236.
  const int perTenMm = static_cast<int>(std::lround(model.profile->dotsPerMm * 10));
  return mm * perTenMm / 10;
}

const BuildPaths& build_paths()
{
  static const BuildPaths paths{ZPLPASS,         ZPLPREVIEW,      ZPLCOMMAND,    VIRTUAL_PRINTER, PRINTER_APP,
                                TEST_PRINTER_APP, SAMPLE_PDF,     SAMPLE_PS,     MIME_SOURCE_DIR, CMAKE_COMMAND,
                                BINARY_DIR,       FILTER_DIR,     MIME_DIR,      INSTALL_PREFIX,  PPD_INSTALL_DIR};
  return paths;
}

std::string ppd_install_dir(const std::string& prefix)
{
  const std::string& dir = build_paths().ppdInstallDir;
  return dir[0] == '/' ? dir : prefix + "/" + dir;
}
