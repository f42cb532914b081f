// What the printer application offers for each printer model: its driver
// name and description, and the label stock as PWG media names. Everything
// comes from the model profiles and the filters' size table, so a new
// profile or size appears here by itself.
#pragma once

#include <array>
#include <iterator>
#include <string>

#include <pappl/pappl.h>

#include "common/profile.h"
#include "settings/settings.h"

// "zpl_300dpi" for the 300 dpi model.
std::string driver_name(const ModelProfile& model);

// "Generic ZPL Label Printer 300dpi", as the PPDs name the model.
std::string driver_description(const ModelProfile& model);

// The model a driver name stands for, or null for a name of none.
const ModelProfile* model_for_driver(const char* name);

// Every model's driver as PAPPL lists them, in the order of kModels. Made
// once and kept for the life of the program: PAPPL keeps the pointers.
std::array<pappl_pr_driver_t, std::size(kModels)>& pappl_drivers();

// The driver name of a model, from pappl_drivers(): PAPPL may keep it.
const char* kept_driver_name(const ModelProfile& model);

// The PWG name of a size of the table: its registered name where it has
// one ("na_index-4x6_4x6in" for "4.00x6.00in"), else a self-describing one
// ("oe_2x1-label_2x1in" for "2.00x1.00in"). Empty for a name of neither
// inch nor millimetre form.
std::string pwg_media_name(const PageEntry& size);

// The custom size range of the PPDs, as PAPPL takes it in a media list.
inline constexpr char kCustomMinMedia[] = "custom_min_0.5x0.5in";
inline constexpr char kCustomMaxMedia[] = "custom_max_4.25x22in";

// The size loaded when a printer is added: the PPDs' default.
inline constexpr char kDefaultMedia[] = "4.00x6.00in";
