#include "virtual_printer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <utility>

namespace fs = std::filesystem;

bool start_virtual_printer(VirtualPrinter& printer, const std::string& folder, const std::vector<std::string>& args)
{
  printer.folder = folder;
  std::error_code ec;
  fs::create_directories(folder, ec);
  const std::string log = folder + "/printer.log";
  std::vector<std::string> command{build_paths().virtualPrinter, "--port", "0", "--folder", folder};
  command.insert(command.end(), args.begin(), args.end());
  printer.process.pid = start_server(command, log);
  // Its first line names the port it took.
  return wait_until_answering(printer.process, log, [&] {
    unsigned port = 0;
    if (std::sscanf(read_file(log).c_str(), "zpl-virtual-printer: listening on 127.0.0.1:%u", &port) != 1)
      return false;
    printer.port = static_cast<int>(port);
    return true;
  });
}

std::string virtual_printer_uri(const VirtualPrinter& printer)
{
  return "socket://127.0.0.1:" + std::to_string(printer.port) + "/?snmp=false";
}

bool set_printer_state(const VirtualPrinter& printer, const std::vector<std::string>& lines)
{
  std::string text;
  for (const std::string& line : lines)
    text += line + "\n";
  const std::string next = printer.folder + "/state.new";
  return write_file(next, text) && std::rename(next.c_str(), (printer.folder + "/state").c_str()) == 0;
}

const std::vector<PrinterCondition>& printer_conditions()
{
  static const std::vector<PrinterCondition> table{
      {{"media-out"}, {"media-empty-error"}, {"media-empty"}},
      {{"ribbon-out"}, {"marker-supply-empty-error"}, {"marker-supply-empty"}},
      {{"head-open"}, {"cover-open-error"}, {"cover-open"}},
      {{"paused"}, {"zplfilter-printer-paused-warning"}, {"other"}},
      {{"paper-jam"}, {"media-jam-error"}, {"media-jam"}},
      {{"cutter-fault"}, {"other-warning"}, {"other"}},
      {{"media-near-end"}, {"media-low-report"}, {"media-low"}},
      {{"media-out", "media-near-end", "split 4"},
       {"media-empty-error", "media-low-report"},
       {"media-empty", "media-low"}},
      {{"clean-head", "media-out", "split 4"}, {"other-warning", "media-empty-error"}, {"other", "media-empty"}},
      {{}, {}, {}},
  };
  return table;
}

void walk_conditions(const VirtualPrinter& printer, const std::function<void(const PrinterCondition&)>& check)
{
  for (const PrinterCondition& condition : printer_conditions()) {
    std::string state;
    for (const std::string& line : condition.state)
      state += " " + line;
    SCOPED_TRACE("printer state:" + (state.empty() ? " nothing to report" : state));
    if (!set_printer_state(printer, condition.state)) {
      ADD_FAILURE() << "the state file can't be written";
      return;
    }
    check(condition);
  }
}

std::vector<std::string> kept_files(const VirtualPrinter& printer, const std::string& prefix)
{
  // Named kind-NNNN.zpl: sorted by their number, whatever the kind.
  std::vector<std::pair<std::string, std::string>> numbered;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(printer.folder, ec)) {
    const std::string name = entry.path().filename().string();
    const size_t dash = name.find('-');
    if (entry.path().extension() == ".zpl" && dash != std::string::npos && name.rfind(prefix, 0) == 0)
      numbered.emplace_back(name.substr(dash + 1), name);
  }
  std::sort(numbered.begin(), numbered.end());
  std::vector<std::string> names;
  for (const auto& file : numbered)
    names.push_back(file.second);
  return names;
}

bool wait_for_kept(const VirtualPrinter& printer, size_t count, const std::string& prefix)
{
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (std::chrono::steady_clock::now() < deadline) {
    if (kept_files(printer, prefix).size() > count)
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ADD_FAILURE() << "the virtual printer kept no new file\n" << printer_log(printer);
  return false;
}

std::string kept_bytes(const VirtualPrinter& printer, size_t first, const std::string& prefix)
{
  const std::vector<std::string> files = kept_files(printer, prefix);
  std::string bytes;
  for (size_t i = first; i < files.size(); ++i)
    bytes += read_file(printer.folder + "/" + files[i]);
  return bytes;
}

std::string printer_log(const VirtualPrinter& printer)
{
  return file_tail(printer.folder + "/printer.log", "virtual printer log");
}
