// The "Label Mode" web page of a printer: label-mode-configured as a choice
// of the modes the driver offers, saved as PAPPL's own setting.
#include "app/label_page.h"

#include <string>

#include "app/job_settings.h"

const char kEnglishStrings[] =
    "\"Label Mode\" = \"Label Mode\";\n"
    "\"label-mode-configured\" = \"Print Mode\";\n"
    "\"zpl-tear-offset\" = \"Tear-Off Position (1/100 mm)\";\n"
    "\"zpl-media-type\" = \"Thermal Media\";\n"
    "\"zpl-dotted-line\" = \"Dotted Tear Line\";\n";

namespace {

constexpr char kPageTitle[] = "Label Mode";
constexpr char kFieldName[] = "label-mode-configured";

// Saves the posted mode when it is one the driver offers; returns the
// banner text.
const char* save_label_mode(pappl_client_t* client, pappl_printer_t* printer)
{
  cups_option_t* form = nullptr;
  const int count = papplClientGetForm(client, &form);
  const char* status = "Invalid form data.";
  if (count > 0 && !papplClientIsValidForm(client, count, form)) {
    status = "Invalid form submission.";
  } else if (const char* value = cupsGetOption(kFieldName, count, form)) {
    status = "Bad label mode.";
    for (const LabelMode& mode : kLabelModes) {
      pappl_pr_driver_data_t data;
      if (std::string(mode.keyword) != value || !papplPrinterGetDriverData(printer, &data))
        continue;
      data.mode_configured = mode.mode;
      status = papplPrinterSetDriverDefaults(printer, &data, 0, nullptr) ? "Changes saved." : "Bad printer defaults.";
    }
  }
  cupsFreeOptions(count, form);
  return status;
}

// Writes the form: one choice per mode, the printer's current one selected
// (a printer that never had one tears off, as its labels say).
void write_mode_form(pappl_client_t* client, pappl_printer_t* printer)
{
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  const char letter = print_mode_letter(data.mode_configured);
  papplClientHTMLStartForm(client, papplClientGetURI(client), false);
  papplClientHTMLPrintf(client,
                        "          <table class=\"form\">\n            <tbody>\n"
                        "              <tr><th>%s:</th><td><select name=\"%s\">",
                        papplClientGetLocString(client, kFieldName), kFieldName);
  for (const LabelMode& mode : kLabelModes)
    papplClientHTMLPrintf(client, "<option value=\"%s\"%s>%s</option>", mode.keyword,
                          print_mode_letter(mode.mode) == letter ? " selected" : "",
                          papplClientGetLocString(client, mode.text));
  papplClientHTMLPrintf(client,
                        "</select></td></tr>\n"
                        "              <tr><th></th><td><input type=\"submit\" value=\"%s\"></td></tr>\n"
                        "            </tbody>\n          </table>\n        </form>\n",
                        papplClientGetLocString(client, "Save Changes"));
}

bool label_mode_page(pappl_client_t* client, void* data)
{
  pappl_printer_t* printer = static_cast<pappl_printer_t*>(data);
  if (!papplClientHTMLAuthorize(client))
    return true;
  const char* status = papplClientGetMethod(client) == HTTP_STATE_POST ? save_label_mode(client, printer) : nullptr;
  papplClientHTMLPrinterHeader(client, printer, papplClientGetLocString(client, kPageTitle), 0, nullptr, nullptr);
  if (status)
    papplClientHTMLPrintf(client, "<div class=\"banner\">%s</div>\n", papplClientGetLocString(client, status));
  write_mode_form(client, printer);
  papplClientHTMLPrinterFooter(client);
  return true;
}

}  // namespace

void add_label_mode_page(pappl_printer_t* printer)
{
  pappl_system_t* system = papplPrinterGetSystem(printer);
  if (!(papplSystemGetOptions(system) & PAPPL_SOPTIONS_WEB_INTERFACE))
    return;
  char path[256];
  if (!papplPrinterGetPath(printer, "label", path, sizeof path))
    return;
  papplSystemAddResourceCallback(system, path, "text/html", label_mode_page, printer);
  papplPrinterAddLink(printer, kPageTitle, path, PAPPL_LOPTIONS_NAVIGATION | PAPPL_LOPTIONS_STATUS);
}
