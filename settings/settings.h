// The settings of one job: the record, the named label sizes, and the two
// layers that fill it (the queue's PPD defaults, then the job's options).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>

#include <cups/cups.h>

// How grey pixels become dots: by the model's threshold alone, or halftoned
// where the art is grey while sharp art keeps the threshold.
enum class Halftone : int16_t { kThreshold = 0, kAuto, kPhoto };

// Whether the filter asks the printer for its status over the backend's
// back-channel (when the backend has one), or never.
enum class StatusQuery : int16_t { kAuto = 0, kOff };

// --- media handling: print mode, tracking, media type, tear-off ---

// One choice of a media option: its PPD and job option name, and the letter
// its ZPL command takes. Letter 0 sends no command, which leaves the
// printer's own setting.
struct MediaChoice {
  std::string_view name;
  char letter;
};

// A media option and its choices; the first choice is its default.
struct MediaOption {
  std::string_view name;
  const MediaChoice* choices;
  size_t count;
};

// ^MM: what the printer does with a printed label.
inline constexpr MediaChoice kPrintModeChoices[] = {
    {"TearOff", 'T'}, {"PeelOff", 'P'}, {"Rewind", 'R'},         {"Applicator", 'A'},
    {"Cutter", 'C'},  {"DelayedCut", 'D'}, {"PrinterDefault", 0},
};
// ^MN: how the printer finds the start of a label. Gap is Y: M would make
// the printer hunt for a black mark on gap stock.
inline constexpr MediaChoice kMediaTrackingChoices[] = {
    {"PrinterDefault", 0}, {"Gap", 'Y'}, {"Mark", 'M'}, {"Continuous", 'N'},
};
// ^MT: direct thermal paper, or thermal transfer through a ribbon.
inline constexpr MediaChoice kMediaTypeChoices[] = {
    {"PrinterDefault", 0}, {"DirectThermal", 'D'}, {"ThermalTransfer", 'T'},
};

inline constexpr MediaOption kPrintModeOption{"PrintMode", kPrintModeChoices, std::size(kPrintModeChoices)};
inline constexpr MediaOption kMediaTrackingOption{"MediaTracking", kMediaTrackingChoices,
                                                  std::size(kMediaTrackingChoices)};
inline constexpr MediaOption kMediaTypeOption{"MediaType", kMediaTypeChoices, std::size(kMediaTypeChoices)};

// ~TA takes -120..120 dot rows. A record without a tear-off offset holds
// kTearOffsetPrinterDefault and sends no ~TA.
inline constexpr int16_t kMaxTearOffset = 120;
inline constexpr int16_t kTearOffsetPrinterDefault = INT16_MIN;
inline constexpr std::string_view kTearOffsetName = "TearOffset";
inline constexpr std::string_view kPrinterDefaultName = "PrinterDefault";

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
  // Media handling, as the ZPL letters of the tables above (0: none sent)
  // and the tear-off offset in dot rows; the defaults give today's label.
  char printMode = kPrintModeChoices[0].letter;
  char mediaTracking = 0;
  char mediaType = 0;
  int16_t tearOffset = kTearOffsetPrinterDefault;
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

// Reads a choice of option by its name into *letter; false for any other
// text, which leaves *letter as it was.
bool parse_media_choice(const MediaOption& option, const char* text, char* letter);

// The name of the choice of option whose letter is letter; the default's
// name for a letter of none.
std::string_view media_choice_name(const MediaOption& option, char letter);

// Reads a TearOffset: "PrinterDefault", or a whole number -120..120 with an
// optional sign and nothing after it. False for anything else, which leaves
// *rows as it was.
bool parse_tear_offset(const char* text, int16_t* rows);

// Writes one log line naming the four media settings when any of them
// differs from its default, and nothing otherwise.
void log_media_settings(const LabelDoc& doc);

// Keeps the low 16 bits, two's complement, as every settings field does.
int16_t low16(int32_t value);

// Reads a decimal number as atoi does, saturated to the 32-bit range.
int32_t parse_decimal(const char* text);

// Truncates toward zero into the 32-bit range; NaN gives 0.
int32_t truncate_to_int32(double value);
