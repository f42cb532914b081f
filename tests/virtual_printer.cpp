// Running zpl-virtual-printer for the tests.
#include "virtual_printer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "support.h"

namespace fs = std::filesystem;

bool start_printer(VirtualPrinter& printer, const std::string& folder, const std::vector<std::string>& args)
{
  printer.folder = folder;
  std::error_code ec;
  fs::create_directories(folder, ec);
  const std::string log = folder + "/printer.log";
  std::vector<std::string> argv{VIRTUAL_PRINTER, "--port", "0", "--folder", folder};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> pointers;
  for (std::string& arg : argv)
    pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  std::fflush(nullptr);
  const pid_t test = getpid();
  printer.pid = fork();
  if (printer.pid == 0) {
    // A test process that is killed takes its printer with it.
    if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != test)
      _exit(127);
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out >= 0)
      dup2(out, 1), dup2(out, 2);
    execv(VIRTUAL_PRINTER, pointers.data());
    _exit(127);
  }
  for (int i = 0; i < 200 && printer.pid > 0; ++i) {
    unsigned port = 0;
    if (std::sscanf(read_file(log).c_str(), "zpl-virtual-printer: listening on 127.0.0.1:%u", &port) == 1) {
      printer.port = static_cast<int>(port);
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  ADD_FAILURE() << "the virtual printer did not start: " << read_file(log);
  return false;
}

VirtualPrinter::~VirtualPrinter()
{
  if (pid <= 0)
    return;
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
}

bool set_printer_state(const VirtualPrinter& printer, const std::vector<std::string>& lines)
{
  std::string text;
  for (const std::string& line : lines)
    text += line + "\n";
  const std::string next = printer.folder + "/state.new";
  return write_file(next, text) && std::rename(next.c_str(), (printer.folder + "/state").c_str()) == 0;
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

bool wait_for_kept(const VirtualPrinter& printer, size_t count)
{
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (std::chrono::steady_clock::now() < deadline) {
    if (kept_files(printer).size() > count)
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ADD_FAILURE() << "the virtual printer kept no new file\n" << printer_log(printer);
  return false;
}

std::string printer_log(const VirtualPrinter& printer)
{
  return "--- virtual printer log ---\n" + read_file(printer.folder + "/printer.log");
}

PrinterConnection::~PrinterConnection()
{
  if (fd >= 0)
    close(fd);
}

bool connect_printer(const VirtualPrinter& printer, PrinterConnection& connection)
{
  connection.fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(printer.port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return connection.fd >= 0 && connect(connection.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

bool send_bytes(const PrinterConnection& connection, const std::string& bytes)
{
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t put = send(connection.fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (put <= 0)
      return false;
    done += static_cast<size_t>(put);
  }
  return true;
}

std::vector<std::string> read_pieces(const PrinterConnection& connection, int waitMs, bool* closed)
{
  std::vector<std::string> pieces;
  if (closed)
    *closed = false;
  char buffer[4096];
  pollfd ready{connection.fd, POLLIN, 0};
  while (poll(&ready, 1, waitMs) > 0) {
    const ssize_t got = recv(connection.fd, buffer, sizeof buffer, 0);
    if (got <= 0) {
      if (closed)
        *closed = true;
      break;
    }
    pieces.emplace_back(buffer, static_cast<size_t>(got));
  }
  return pieces;
}
