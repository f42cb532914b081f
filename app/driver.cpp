// The label printer driver: PAPPL hands over a job's pages line by line;
// each page is gathered into a grey page and becomes one label through the
// same write_page_label as the filters.
#include "app/driver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "app/job_settings.h"
#include "app/models.h"
#include "app/printer_link.h"
#include "app/printer_status.h"
#include "app/raw_zpl.h"
#include "raster/raster.h"

namespace {

// --- where a job's bytes go ---

// Closes a device opened for one job when it goes.
struct DeviceOwner {
  pappl_device_t* device = nullptr;

  DeviceOwner() = default;
  DeviceOwner(const DeviceOwner&) = delete;
  DeviceOwner& operator=(const DeviceOwner&) = delete;
  ~DeviceOwner()
  {
    if (device)
      papplDeviceClose(device);
  }
};

// The device a job writes to: the one PAPPL hands to the callbacks, or one
// the job opened for itself.
struct Output {
  bool folder = false;  // the printer writes a file per job into a folder
  DeviceOwner own;
};

// True for a file: URI naming a folder, where PAPPL's file device writes
// one <job-name>.prn per job.
bool is_folder_uri(const char* uri)
{
  DeviceUriParts parts;
  if (!uri || std::strncmp(uri, "file:", 5) != 0 || !split_device_uri(uri, parts))
    return false;
  struct stat info {};
  return stat(parts.resource, &info) == 0 && S_ISDIR(info.st_mode);
}

// True when the job's printer writes a file per job into a folder.
bool prints_to_folder(pappl_job_t* job)
{
  return is_folder_uri(papplPrinterGetDeviceURI(papplJobGetPrinter(job)));
}

// The device to write the job's bytes to. PAPPL 1.3.1 starts a job that
// arrives while the previous one is being finished on that job's device,
// still open, and then closes it under the new job (app/pappl-locks.md).
// For a folder that device is the previous job's file, and a device closed
// under the job reaches the callbacks as null: in both cases the job opens
// the printer's device for itself, which then nobody else holds. Null when
// it can't be opened.
pappl_device_t* output_device(Output& output, pappl_job_t* job, pappl_device_t* given)
{
  if (output.own.device)
    return output.own.device;
  if (given && !output.folder)
    return given;
  pappl_printer_t* printer = papplJobGetPrinter(job);
  output.own.device = papplDeviceOpen(papplPrinterGetDeviceURI(printer), papplJobGetName(job), papplLogDevice,
                                      papplPrinterGetSystem(printer));
  if (!output.own.device)
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unable to open the printer's device for the job.");
  return output.own.device;
}

// The device the job has written to so far, if any, opening none.
pappl_device_t* written_device(const Output& output, pappl_device_t* given)
{
  return output.own.device ? output.own.device : output.folder ? nullptr : given;
}

// The device the printer's status is asked over as a job starts: the one
// the job writes to. A folder is no printer to ask, and its job file is
// made by the first label, not before.
pappl_device_t* status_device(Output& output, pappl_job_t* job, pappl_device_t* given)
{
  return output.folder ? nullptr : output_device(output, job, given);
}

// Sends on what the job wrote, if it wrote anything.
void flush_output(const Output& output, pappl_device_t* given)
{
  if (pappl_device_t* written = written_device(output, given))
    papplDeviceFlush(written);
}

// What one raster job carries from page to page.
struct JobState {
  const ModelProfile* model = nullptr;
  PrinterLabelSettings printer;  // as the job started
  LabelDoc doc{};
  RasterPage page;
  CommandScratch scratch = {};
  Output output;
  JobStatus status;
};

JobState* job_state(pappl_job_t* job)
{
  return static_cast<JobState*>(papplJobGetData(job));
}

// --- media handling ---

// The driver's vendor attributes, by name.
constexpr const char* kVendorAttrs[] = {kTearOffsetAttr, kMediaTypeAttr, kDottedLineAttr};

struct IppDeleter {
  void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};
using IppOwner = std::unique_ptr<ipp_t, IppDeleter>;

// The printer's label settings as a job starts: its label mode, its vendor
// attributes' defaults, then the job's own values of those attributes.
PrinterLabelSettings label_settings(pappl_job_t* job, const pappl_pr_options_t& options)
{
  pappl_printer_t* printer = papplJobGetPrinter(job);
  PrinterLabelSettings settings;
  pappl_pr_driver_data_t data;
  if (papplPrinterGetDriverData(printer, &data))
    settings.mode = data.mode_configured;

  const IppOwner attrs(papplPrinterGetDriverAttributes(printer));
  for (const char* name : kVendorAttrs) {
    const std::string defaultName = std::string(name) + "-default";
    if (ipp_attribute_t* attr = ippFindAttribute(attrs.get(), defaultName.c_str(), IPP_TAG_ZERO)) {
      char value[256];
      ippAttributeString(attr, value, sizeof value);
      apply_vendor_value(settings, name, value);
    }
  }
  for (int i = 0; i < options.num_vendor; ++i)
    apply_vendor_value(settings, options.vendor[i].name, options.vendor[i].value);
  return settings;
}

// --- raster jobs ---

bool start_job(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device)
{
  const char* driver = papplPrinterGetDriverName(papplJobGetPrinter(job));
  const ModelProfile* model = printer_model(papplJobGetPrinter(job));
  if (!model) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "No label printer model for driver '%s'.", driver ? driver : "");
    return false;
  }
  JobState* state = new (std::nothrow) JobState;
  if (!state) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unable to allocate memory for the job.");
    return false;
  }
  state->model = model;
  state->printer = label_settings(job, *options);
  state->output.folder = prints_to_folder(job);
  if (!status_job_start(job, status_device(state->output, job, device), state->status)) {
    delete state;
    return false;
  }
  papplJobSetData(job, state);
  return true;
}

// Takes a white grey page of the page's size. The settings are read per
// page, as PAPPL resolves the options again for each one.
bool start_page(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned page)
{
  JobState* state = job_state(job);
  const cups_page_header2_t& header = options->header;
  if (!state)
    return false;
  // Only 8-bit grey is declared; anything else would be misread as grey.
  if (header.cupsBitsPerPixel != 8 || header.cupsBytesPerLine < header.cupsWidth ||
      (header.cupsColorSpace != CUPS_CSPACE_SW && header.cupsColorSpace != CUPS_CSPACE_W)) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Page %u is not 8-bit grey (%u bits, colour space %d).", page,
                header.cupsBitsPerPixel, static_cast<int>(header.cupsColorSpace));
    return false;
  }
  state->doc = job_label_doc(*options, papplJobGetFormat(job), *state->model, state->printer);
  if (!new_raster_page(state->page, header.cupsWidth, header.cupsHeight, static_cast<unsigned>(state->doc.copies))) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unable to allocate a %ux%u page.", header.cupsWidth, header.cupsHeight);
    return false;
  }
  return true;
}

bool write_line(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned y, const unsigned char* line)
{
  JobState* state = job_state(job);
  if (!state || !state->page.grey || y >= state->page.height)
    return true;
  std::memcpy(state->page.grey.get() + uint64_t{y} * state->page.stride, line, state->page.width);
  return true;
}

// Builds the whole label in memory and sends it in one piece, so that the
// printer gets a label whole or not at all.
bool send_label(JobState& state, pappl_job_t* job, pappl_device_t* given)
{
  char* text = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&text, &size);
  if (!out)
    return false;
  const bool built = write_page_label(&state.doc, *state.model, state.page, out, state.scratch);
  const bool closed = std::fclose(out) == 0;
  const MallocBuffer<char> owner(text);
  if (!built || !closed)
    return false;
  pappl_device_t* device = output_device(state.output, job, given);
  if (!device || papplDeviceWrite(device, text, size) != static_cast<ssize_t>(size))
    return false;
  papplDeviceFlush(device);
  return true;
}

// A page cut short by a cancel is dropped: it would print as a label with
// its lower part blank.
bool end_page(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device, unsigned page)
{
  JobState* state = job_state(job);
  if (!state)
    return false;
  if (papplJobIsCanceled(job)) {
    state->page.grey.reset();
    return true;
  }
  if (!send_label(*state, job, device)) {
    if (!papplJobIsCanceled(job))
      papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unable to send the label of page %u.", page);
    status_job_failed(job, written_device(state->output, device), state->status);
    return false;
  }
  return true;
}

bool end_job(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device)
{
  JobState* state = job_state(job);
  const bool whole = !state || status_job_end(job, written_device(state->output, device), state->status);
  delete state;
  papplJobSetData(job, nullptr);
  return whole;
}

// --- printer-ready ZPL ---

struct RawTarget {
  pappl_job_t* job;
  pappl_device_t* given;  // as PAPPL hands it over
  Output output;
};

bool raw_write(void* context, const uint8_t* data, size_t size)
{
  RawTarget* target = static_cast<RawTarget*>(context);
  pappl_device_t* device = output_device(target->output, target->job, target->given);
  return device && papplDeviceWrite(device, data, size) == static_cast<ssize_t>(size);
}

bool raw_cancelled(void* context)
{
  return papplJobIsCanceled(static_cast<RawTarget*>(context)->job);
}

bool print_raw(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device)
{
  const int fd = open(papplJobGetFilename(job), O_RDONLY);
  if (fd < 0) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unable to open the job file: %s", std::strerror(errno));
    return false;
  }
  RawTarget target{job, device, {}};
  target.output.folder = prints_to_folder(job);
  JobStatus status;
  if (!status_job_start(job, status_device(target.output, job, device), status)) {
    close(fd);
    return false;
  }
  const bool copied = copy_zpl_stream(fd, RawSink{&target, raw_write, raw_cancelled});
  close(fd);
  flush_output(target.output, device);
  pappl_device_t* written = written_device(target.output, device);
  if (!copied && !papplJobIsCanceled(job)) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unable to send the job to the printer.");
    status_job_failed(job, written, status);
  }
  return status_job_end(job, written, status) && copied;
}

// --- what each printer offers ---

// The PWG names of the size table, made once and kept for the life of the
// program: PAPPL keeps pointers to them.
const std::array<std::string, g_page_list.size()>& media_names()
{
  static const std::array<std::string, g_page_list.size()> names = [] {
    std::array<std::string, g_page_list.size()> list;
    for (size_t i = 0; i < g_page_list.size(); ++i)
      list[i] = pwg_media_name(g_page_list[i]);
    return list;
  }();
  return names;
}

// The loaded label stock a new printer starts with: the PPDs' default
// size, on the one roll, edge to edge.
pappl_media_col_t default_media()
{
  pappl_media_col_t media{};
  for (size_t i = 0; i < g_page_list.size(); ++i) {
    if (std::strcmp(g_page_list[i].name, kDefaultMedia) != 0)
      continue;
    const std::string& name = media_names()[i];
    std::snprintf(media.size_name, sizeof media.size_name, "%s", name.c_str());
    if (const pwg_media_t* pwg = pwgMediaForPWG(name.c_str())) {
      media.size_width = pwg->width;
      media.size_length = pwg->length;
    }
  }
  std::snprintf(media.source, sizeof media.source, "main-roll");
  std::snprintf(media.type, sizeof media.type, "labels");
  // The web page "Media" always shows a tracking and saves the one it
  // shows: starting with none would show, and save, "continuous".
  media.tracking = PAPPL_MEDIA_TRACKING_GAP;
  return media;
}

void set_media(pappl_pr_driver_data_t* data)
{
  int count = 0;
  for (const std::string& name : media_names())
    if (!name.empty())
      data->media[count++] = name.c_str();
  data->media[count++] = kCustomMinMedia;
  data->media[count++] = kCustomMaxMedia;
  data->num_media = count;

  data->num_source = 1;
  data->source[0] = "main-roll";
  data->num_type = 1;
  data->type[0] = "labels";
  data->borderless = true;
  data->left_right = 0;
  data->bottom_top = 0;
  data->media_default = default_media();
  data->media_ready[0] = data->media_default;
}

void set_callbacks(pappl_pr_driver_data_t* data)
{
  data->rstartjob_cb = start_job;
  data->rstartpage_cb = start_page;
  data->rwriteline_cb = write_line;
  data->rendpage_cb = end_page;
  data->rendjob_cb = end_job;
  data->printfile_cb = print_raw;
  data->format = kZplMimeType;
}

// 8-bit grey at the model's resolution goes to the core unchanged: the core
// alone makes dots, by the job's halftone mode.
void set_output(pappl_pr_driver_data_t* data, const ModelProfile& model)
{
  std::snprintf(data->make_and_model, sizeof data->make_and_model, "%s", driver_description(model).c_str());
  data->kind = PAPPL_KIND_LABEL;
  data->ppm = 30;
  data->orient_default = IPP_ORIENT_NONE;
  data->quality_default = IPP_QUALITY_NORMAL;
  data->sides_supported = PAPPL_SIDES_ONE_SIDED;
  data->sides_default = PAPPL_SIDES_ONE_SIDED;
  data->raster_types = PAPPL_PWG_RASTER_TYPE_SGRAY_8;
  data->force_raster_type = PAPPL_PWG_RASTER_TYPE_NONE;
  data->color_supported = PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_AUTO_MONOCHROME | PAPPL_COLOR_MODE_MONOCHROME |
                          PAPPL_COLOR_MODE_BI_LEVEL;
  data->color_default = PAPPL_COLOR_MODE_MONOCHROME;
  data->content_default = PAPPL_CONTENT_AUTO;
  data->scaling_default = PAPPL_SCALING_AUTO;
  data->num_resolution = 1;
  data->x_resolution[0] = data->y_resolution[0] = model.dpi;
  data->x_default = data->y_default = model.dpi;
}

// Darkness and speed as the PPDs offer them, with the PPDs' defaults.
void set_darkness_and_speed(pappl_pr_driver_data_t* data)
{
  data->darkness_supported = kMaxDarkness + 1;
  data->darkness_configured = kDefaultDarknessConfigured;
  data->darkness_default = 0;
  data->speed_supported[0] = kMinPrintRate * kSpeedPerInch;
  data->speed_supported[1] = kMaxPrintRate * kSpeedPerInch;
  data->speed_default = kDefaultPrintRate * kSpeedPerInch;
}

// Label modes, media tracking and the media offsets as PAPPL has them; the
// offsets reach as far as the PPDs' Horizontal and Vertical, 120 dots.
void set_label_handling(pappl_pr_driver_data_t* data, const ModelProfile& model)
{
  data->mode_supported = 0;
  for (const LabelMode& mode : kLabelModes)
    data->mode_supported |= mode.mode;
  data->mode_configured = kLabelModes[0].mode;
  data->tracking_supported = PAPPL_MEDIA_TRACKING_CONTINUOUS | PAPPL_MEDIA_TRACKING_GAP | PAPPL_MEDIA_TRACKING_MARK |
                             PAPPL_MEDIA_TRACKING_WEB;
  const int reach = dots_to_hundredths(kMaxTearOffset, model);
  data->left_offset_supported[0] = data->top_offset_supported[0] = -reach;
  data->left_offset_supported[1] = data->top_offset_supported[1] = reach;
}

// The vendor attributes: tear-off offset (PAPPL's own attribute for it
// can't be set in 1.3.1), media type, and the 300 dpi model's dotted line.
// Their defaults send nothing the labels did not send before.
bool add_vendor_attributes(pappl_pr_driver_data_t* data, ipp_t** attrs, const ModelProfile& model)
{
  if (!*attrs && !(*attrs = ippNew()))
    return false;
  ipp_t* ipp = *attrs;
  const auto named = [](const char* attr, const char* suffix) { return std::string(attr) + suffix; };
  const int reach = dots_to_hundredths(kMaxTearOffset, model);
  data->vendor[data->num_vendor++] = kTearOffsetAttr;
  ippAddRange(ipp, IPP_TAG_PRINTER, named(kTearOffsetAttr, "-supported").c_str(), -reach, reach);
  ippAddInteger(ipp, IPP_TAG_PRINTER, IPP_TAG_INTEGER, named(kTearOffsetAttr, "-default").c_str(), 0);

  std::array<std::string, kMediaTypeOption.count> keywords;
  std::array<const char*, kMediaTypeOption.count> values;
  for (size_t i = 0; i < keywords.size(); ++i) {
    keywords[i] = ipp_keyword(kMediaTypeChoices[i].name);
    values[i] = keywords[i].c_str();
  }
  data->vendor[data->num_vendor++] = kMediaTypeAttr;
  ippAddStrings(ipp, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, named(kMediaTypeAttr, "-supported").c_str(),
                static_cast<int>(values.size()), nullptr, values.data());
  ippAddString(ipp, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, named(kMediaTypeAttr, "-default").c_str(), nullptr, values[0]);

  if (model.dottedLineHeader) {
    data->vendor[data->num_vendor++] = kDottedLineAttr;
    ippAddBoolean(ipp, IPP_TAG_PRINTER, named(kDottedLineAttr, "-supported").c_str(), 1);
    ippAddBoolean(ipp, IPP_TAG_PRINTER, named(kDottedLineAttr, "-default").c_str(), 0);
  }
  return true;
}

}  // namespace

bool zpl_driver_callback(pappl_system_t* system, const char* driverName, const char*, const char*,
                         pappl_pr_driver_data_t* data, ipp_t** attrs, void*)
{
  const ModelProfile* model = model_for_driver(driverName);
  if (!model) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "No label printer driver named '%s'.", driverName ? driverName : "");
    return false;
  }
  set_callbacks(data);
  set_output(data, *model);
  set_media(data);
  set_darkness_and_speed(data);
  set_label_handling(data, *model);
  // The watch last: PAPPL frees it only with a printer it made.
  if (!add_vendor_attributes(data, attrs, *model) || !attach_printer_watch(data, *model)) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "Unable to allocate memory for the printer.");
    return false;
  }
  return true;
}

const char* zpl_mime_callback(const unsigned char* header, size_t size, void*)
{
  return looks_like_zpl(header, size) ? kZplMimeType : nullptr;
}
