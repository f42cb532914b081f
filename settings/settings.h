// The settings of one job: the record, the named label sizes, and the two
// layers that fill it (the queue's PPD defaults, then the job's options).
#pragma once

#include <array>
#include <cstdint>

#include <cups/cups.h>

// How grey pixels become dots: by the model's threshold alone, or halftoned
// where the art is grey while sharp art keeps the threshold.
enum class Halftone : int16_t { kThreshold = 0, kAuto, kPhoto };

// Whether the filter asks the printer for its status over the backend's
// back-channel (when the backend has one), or never.
enum class StatusQuery : int16_t { kAuto = 0, kOff };

struct LabelDoc {
  int32_t jobId;
  const char* user;   // borrowed from argv
  const char* title;  // borrowed from argv
  int32_t copies;
  int16_t printSpeed;  // ZPL print rate
  int16_t darkness;    // ZPL darkness
  int16_t dottedLine;  // 0 or 1 selects the dotted-line header byte
  int16_t pageWidth;   // millimetres
  int16_t pageHeight;  // millimetres, feed direction
  int16_t originX;     // field origin in dots before the offsets; 0 here
  int16_t originY;
  int16_t horizontal;  // offsets in printer dots as given; raster/offsets.h
  int16_t vertical;    // turns them into the field origin and a crop
  Halftone halftone;
  StatusQuery statusQuery;
};

struct PageEntry {
  const char* name;
  int32_t width;   // millimetres
  int32_t height;  // millimetres
};

// Inch sizes are rounded to the nearest millimetre.
inline constexpr std::array<PageEntry, 15> g_page_list{{
    {"100mmx150mm", 100, 150},
    {"2.00x1.00in", 51, 25},
    {"2.25x1.25in", 57, 32},
    {"3.00x1.00in", 76, 25},
    {"3.00x1.25in", 76, 32},
    {"3.00x2.00in", 76, 51},
    {"3.00x3.00in", 76, 76},
    {"4.00x1.00in", 102, 25},
    {"4.00x2.00in", 102, 51},
    {"4.00x3.00in", 102, 76},
    {"4.00x4.00in", 102, 102},
    {"4.00x5.00in", 102, 127},
    {"4.00x6.00in", 102, 152},
    {"4.00x6.50in", 102, 165},
    {"4.00x13.00in", 102, 330},
}};

// Sets the label size from the table row named sizeName; an unknown name
// leaves the size as it was.
void lookup_page_size(LabelDoc* doc, const char* sizeName);

// Overlays the defaults of the PPD file named by $PPD.
void set_pstops_with_ppd(LabelDoc* doc);

// Builds the whole record: command-line fields, built-in defaults, PPD
// defaults, then the job's options (the first option of a name wins).
void set_pstops_options(LabelDoc* doc, char* argv[], int num_options, cups_option_t* options);

// --- value conversions shared by the two layers ---

// Reads a Halftone choice ("Threshold", "Auto", "Photo"); false for any other
// text, which leaves *mode as it was.
bool parse_halftone(const char* text, Halftone* mode);

// Reads a StatusQuery choice ("Auto", "Off"); false for any other text,
// which leaves *query as it was.
bool parse_status_query(const char* text, StatusQuery* query);

// Keeps the low 16 bits, two's complement, as every settings field does.
int16_t low16(int32_t value);

// Reads a decimal number as atoi does, saturated to the 32-bit range.
int32_t parse_decimal(const char* text);

// Truncates toward zero into the 32-bit range; NaN gives 0.
int32_t truncate_to_int32(double value);
