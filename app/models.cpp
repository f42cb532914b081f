// Driver names and media names of the printer application.
#include "app/models.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include <cups/cups.h>

std::string driver_name(const ModelProfile& model)
{
  return "zpl_" + std::to_string(model.dpi) + "dpi";
}

std::string driver_description(const ModelProfile& model)
{
  return "Generic ZPL Label Printer " + std::to_string(model.dpi) + "dpi";
}

const ModelProfile* model_for_driver(const char* name)
{
  for (const ModelProfile* model : kModels)
    if (name && driver_name(*model) == name)
      return model;
  return nullptr;
}

namespace {

// The strings pappl_drivers() points into.
struct DriverTexts {
  std::array<std::string, std::size(kModels)> names, descriptions;
};

DriverTexts& driver_texts()
{
  static DriverTexts texts = [] {
    DriverTexts made;
    for (size_t i = 0; i < std::size(kModels); ++i) {
      made.names[i] = driver_name(*kModels[i]);
      made.descriptions[i] = driver_description(*kModels[i]);
    }
    return made;
  }();
  return texts;
}

}  // namespace

std::array<pappl_pr_driver_t, std::size(kModels)>& pappl_drivers()
{
  static std::array<pappl_pr_driver_t, std::size(kModels)> drivers = [] {
    const DriverTexts& texts = driver_texts();
    std::array<pappl_pr_driver_t, std::size(kModels)> made{};
    for (size_t i = 0; i < made.size(); ++i)
      made[i] = {texts.names[i].c_str(), texts.descriptions[i].c_str(), "CMD:ZPL;", nullptr};
    return made;
  }();
  return drivers;
}

const char* kept_driver_name(const ModelProfile& model)
{
  for (size_t i = 0; i < std::size(kModels); ++i)
    if (kModels[i] == &model)
      return pappl_drivers()[i].name;
  return nullptr;
}

std::string pwg_media_name(const PageEntry& size)
{
  double width = 0, length = 0;
  int end = -1;
  const int whole = static_cast<int>(std::strlen(size.name));
  const char* unit = nullptr;
  // %n proves the unit letters matched up to the end of the name.
  if (std::sscanf(size.name, "%lfx%lfin%n", &width, &length, &end) == 2 && end == whole)
    unit = "in";
  else if (std::sscanf(size.name, "%lfmmx%lfmm%n", &width, &length, &end) == 2 && end == whole)
    unit = "mm";
  if (!unit || width <= 0 || length <= 0)
    return {};
  // Clients ask for a size by its registered name where it has one. A size
  // CUPS matches only within its tolerance (4 x 6.5 in comes back as a
  // 102 x 165 mm envelope), or names custom_, has none.
  const double hundredths = std::strcmp(unit, "in") == 0 ? 2540.0 : 100.0;
  const int x = static_cast<int>(std::lround(width * hundredths));
  const int y = static_cast<int>(std::lround(length * hundredths));
  if (const pwg_media_t* pwg = pwgMediaForSize(x, y))
    if (pwg->width == x && pwg->length == y && std::strncmp(pwg->pwg, "custom_", 7) != 0)
      return pwg->pwg;
  // "%g" drops the table's trailing zeros: 4.00 is 4, 6.50 is 6.5.
  char dims[64];
  std::snprintf(dims, sizeof dims, "%gx%g", width, length);
  return std::string(std::strcmp(unit, "in") == 0 ? "oe_" : "om_") + dims + "-label_" + dims + unit;
}
