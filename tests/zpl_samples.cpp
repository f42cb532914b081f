// ZPL samples made by running our filters.
#include "zpl_samples.h"

#include <gtest/gtest.h>

std::string labels_from_filter(const std::string& filter, const std::vector<GreyPage>& pages,
                               const std::string& dir)
{
  const std::string raster = dir + "/labels.ras";
  if (!write_raster(raster, pages)) {
    ADD_FAILURE() << "cannot write " << raster;
    return {};
  }
  const ProcessResult result = run_program(filter, {filter, "1", "user", "labels", "1", "", raster}, dir, {}, {"-PPD"});
  EXPECT_EQ(result.status, 0) << result.err;
  return result.out;
}
