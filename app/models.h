// What the printer application offers for each printer model: its driver
// name and description, and the label stock as PWG media names. Everything
// comes from the model profiles and the filters' size table, so a new
// profile or size appears here by itself.
#pragma once

#include <string>

#include "common/profile.h"
#include "settings/settings.h"

// "zpl_300dpi" for the 300 dpi model.
std::string driver_name(const ModelProfile& model);

// "Generic ZPL Label Printer 300dpi", as the PPDs name the model.
std::string driver_description(const ModelProfile& model);

// The model a driver name stands for, or null for a name of none.
const ModelProfile* model_for_driver(const char* name);

// The PWG self-describing name of a size of the table: "oe_4x6-label_4x6in"
// for "4.00x6.00in", "om_100x150-label_100x150mm" for "100mmx150mm". Empty
// for a name of neither form.
std::string pwg_media_name(const PageEntry& size);

// The custom size range of the PPDs, as PAPPL takes it in a media list.
inline constexpr char kCustomMinMedia[] = "custom_min_0.5x0.5in";
inline constexpr char kCustomMaxMedia[] = "custom_max_4.25x22in";

// The size loaded when a printer is added: the PPDs' default.
inline constexpr char kDefaultMedia[] = "4.00x6.00in";
