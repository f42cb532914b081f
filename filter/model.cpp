// Compiled once per program: ZPL_MODEL picks the printer model (its
// resolution in dpi) and ZPL_LOG_PATH where the diagnostic log goes.
#include "filter/model.h"

namespace {
// Whether some profile has this resolution, for the check at compile time.
constexpr bool known_model(int dpi)
{
  for (const ModelProfile* model : kModels)
    if (model->dpi == dpi)
      return true;
  return false;
}
static_assert(known_model(ZPL_MODEL), "ZPL_MODEL names no profile of common/profile.h");
}  // namespace

const ModelProfile g_model = *find_model(ZPL_MODEL);

const char kLogPath[] = ZPL_LOG_PATH;
