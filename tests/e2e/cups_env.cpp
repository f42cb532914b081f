// Private CUPS set-ups for the end-to-end tests.
#include "cups_env.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

// Closes a descriptor when it goes out of scope.
struct FdOwner {
  int fd = -1;
  ~FdOwner()
  {
    if (fd >= 0)
      close(fd);
  }
};

// Frees a raster stream when it goes out of scope.
struct RasterOwner {
  cups_raster_t* raster = nullptr;
  ~RasterOwner()
  {
    if (raster)
      cupsRasterClose(raster);
  }
};

// Copies a program so that the unprivileged filter user may run it, whatever
// the permissions of the build tree it comes from.
bool install_program(const std::string& from, const fs::path& to)
{
  std::error_code ec;
  fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
  if (ec) {
    ADD_FAILURE() << "copying " << from << ": " << ec.message();
    return false;
  }
  return chmod(to.c_str(), 0755) == 0;
}

// Sends SIGTERM, then SIGKILL if the process has not ended within a while.
void end_process(pid_t pid)
{
  int status = 0;
  if (kill(pid, SIGTERM) != 0)
    return;
  for (int i = 0; i < 100; ++i) {
    if (waitpid(pid, &status, WNOHANG) == pid)
      return;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
}

}  // namespace

FilterPrograms test_filters()
{
  return {{"zplfilter-300", FILTER_300},
          {"zplfilter-203", FILTER_203},
          {"zplfilter-600", FILTER_600},
          {"zplpass", ZPLPASS},
          {"zplcommand", ZPLCOMMAND}};
}

bool make_public_dir(const std::string& path)
{
  std::error_code ec;
  fs::create_directories(path, ec);
  if (ec || chmod(path.c_str(), 0755) != 0) {
    ADD_FAILURE() << "cannot make folder " << path;
    return false;
  }
  return true;
}

std::string make_server_bin(const std::string& root, const FilterPrograms& programs)
{
  const fs::path bin = fs::path(root) / "serverbin";
  if (!make_public_dir((bin / "filter").string()))
    return {};
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator("/usr/lib/cups", ec)) {
    if (entry.path().filename() == "filter")
      continue;
    fs::create_symlink(entry.path(), bin / entry.path().filename(), ec);
    if (ec)
      break;
  }
  for (const fs::directory_entry& entry : fs::directory_iterator("/usr/lib/cups/filter", ec)) {
    fs::create_symlink(entry.path(), bin / "filter" / entry.path().filename(), ec);
    if (ec)
      break;
  }
  if (ec) {
    ADD_FAILURE() << "linking the CUPS programs: " << ec.message();
    return {};
  }
  // An installed copy of ours, if any, must not be the one that runs.
  for (const FilterProgram& program : programs) {
    fs::remove(bin / "filter" / program.name, ec);
    if (!install_program(program.path, bin / "filter" / program.name))
      return {};
  }
  return bin.string();
}

std::string make_data_dir(const std::string& root, const std::string& mimeDir, const std::string& ppdDir)
{
  const fs::path data = fs::path(root) / "data";
  if (!make_public_dir((data / "mime").string()) || (!ppdDir.empty() && !make_public_dir((data / "model").string())))
    return {};
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator("/usr/share/cups", ec)) {
    const fs::path name = entry.path().filename();
    if (name != "mime" && (name != "model" || ppdDir.empty()))
      fs::create_symlink(entry.path(), data / name, ec);
    if (ec)
      break;
  }
  for (const fs::directory_entry& entry : fs::directory_iterator("/usr/share/cups/mime", ec)) {
    fs::create_symlink(entry.path(), data / "mime" / entry.path().filename(), ec);
    if (ec)
      break;
  }
  int ours = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(mimeDir, ec)) {
    const fs::path ext = entry.path().extension();
    if (ext != ".types" && ext != ".convs")
      continue;
    fs::copy_file(entry.path(), data / "mime" / entry.path().filename(), ec);
    if (ec)
      break;
    ++ours;
  }
  if (!ec && !ppdDir.empty())
    fs::create_symlink(ppdDir, data / "model" / "zplfilter", ec);
  if (ec || ours == 0) {
    ADD_FAILURE() << "making the data folder with the MIME files of " << mimeDir << ": "
                  << (ec ? ec.message() : "none found");
    return {};
  }
  return data.string();
}

std::string make_cupsfilter_conf(const std::string& root, const FilterPrograms& programs, const std::string& mimeDir)
{
  const std::string serverBin = make_server_bin(root, programs);
  const std::string dataDir = serverBin.empty() ? "" : make_data_dir(root, mimeDir);
  const std::string conf = root + "/cups-files.conf";
  if (dataDir.empty() || !write_file(conf, "ServerBin " + serverBin + "\nDataDir " + dataDir + "\n")) {
    ADD_FAILURE() << "cannot set up cupsfilter under " << root;
    return {};
  }
  return conf;
}

bool read_raster_pages(const std::string& path, std::vector<GreyPage>& pages,
                       cups_page_header2_t& firstHeader, std::string& error)
{
  pages.clear();
  FdOwner fd{open(path.c_str(), O_RDONLY)};
  if (fd.fd < 0) {
    error = "cannot open " + path;
    return false;
  }
  RasterOwner raster{cupsRasterOpen(fd.fd, CUPS_RASTER_READ)};
  if (!raster.raster) {
    error = "not a CUPS raster: " + path;
    return false;
  }
  cups_page_header2_t header;
  while (cupsRasterReadHeader2(raster.raster, &header)) {
    if (pages.empty())
      firstHeader = header;
    if (header.cupsBitsPerPixel != 8 || header.cupsBytesPerLine != header.cupsWidth) {
      error = "page " + std::to_string(pages.size() + 1) + " is not 8-bit grey";
      return false;
    }
    GreyPage page;
    page.width = header.cupsWidth;
    page.height = header.cupsHeight;
    page.copies = header.NumCopies;
    page.pixels.resize(size_t{page.width} * page.height);
    for (uint32_t y = 0; y < page.height; ++y)
      if (cupsRasterReadPixels(raster.raster, page.pixels.data() + size_t{y} * page.width, page.width) !=
          page.width) {
        error = "short page " + std::to_string(pages.size() + 1);
        return false;
      }
    pages.push_back(std::move(page));
  }
  if (pages.empty()) {
    error = "no page in " + path;
    return false;
  }
  return true;
}

size_t count_grey(const std::vector<GreyPage>& pages, uint8_t grey)
{
  size_t count = 0;
  for (const GreyPage& page : pages)
    for (uint8_t pixel : page.pixels)
      count += pixel == grey;
  return count;
}

int free_loopback_port()
{
  std::mt19937 random(std::random_device{}());
  for (int attempt = 0; attempt < 50; ++attempt) {
    const int port = 20000 + static_cast<int>(random() % 20000);
    FdOwner probe{socket(AF_INET, SOCK_STREAM, 0)};
    if (probe.fd < 0)
      return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Binding proves the port free now; cupsd binds it again moments later.
    if (bind(probe.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
      return port;
  }
  return -1;
}

ProcessResult run_tool(const std::string& tool, const std::vector<std::string>& args, const std::string& dir,
                       const std::vector<std::string>& env)
{
  std::string program = "/usr/bin/" + tool;
  if (access(program.c_str(), X_OK) != 0)
    program = "/usr/sbin/" + tool;
  std::vector<std::string> argv{tool};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_program(program, argv, dir, {}, env);
}

bool start_cupsd(PrivateCupsd& daemon, const std::string& root, const std::string& serverBin,
                 const std::string& dataDir)
{
  daemon.root = root;
  const int port = free_loopback_port();
  if (port < 0) {
    ADD_FAILURE() << "no free loopback port";
    return false;
  }
  daemon.server = "127.0.0.1:" + std::to_string(port);
  for (const char* dir : {"etc", "spool/tmp", "cache", "state", "log", "out"})
    if (!make_public_dir(root + "/" + dir))
      return false;

  // No authentication: only this loopback address can reach the daemon.
  const std::string conf = "Listen " + daemon.server +
                           "\nLogLevel debug\nBrowsing Off\nWebInterface No\n"
                           "<Location />\n  Order allow,deny\n  Allow from 127.0.0.1\n</Location>\n"
                           "<Policy default>\n  <Limit All>\n    Order allow,deny\n    Allow from 127.0.0.1\n"
                           "  </Limit>\n</Policy>\n";
  const std::string files = "ServerRoot " + root + "/etc\nServerBin " + serverBin + "\nDataDir " + dataDir +
                            "\nRequestRoot " + root + "/spool\nTempDir " + root + "/spool/tmp\nCacheDir " + root +
                            "/cache\nStateDir " + root + "/state\nAccessLog " + root +
                            "/log/access_log\nErrorLog " + root + "/log/error_log\nPageLog " + root +
                            "/log/page_log\nUser lp\nGroup lp\nFileDevice Yes\n";
  const std::string confPath = root + "/etc/cupsd.conf", filesPath = root + "/etc/cups-files.conf";
  if (!write_file(confPath, conf) || !write_file(filesPath, files)) {
    ADD_FAILURE() << "cannot write the cupsd configuration";
    return false;
  }

  const std::string outPath = root + "/log/cupsd.out";
  std::fflush(nullptr);
  daemon.pid = fork();
  if (daemon.pid < 0) {
    ADD_FAILURE() << "fork failed";
    return false;
  }
  if (daemon.pid == 0) {
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out >= 0)
      dup2(out, 1), dup2(out, 2);
    // The timeout ends the daemon even if this test process is killed.
    execlp("timeout", "timeout", "-k", "5", "600", "cupsd", "-f", "-c", confPath.c_str(), "-s", filesPath.c_str(),
           static_cast<char*>(nullptr));
    _exit(127);
  }

  for (int i = 0; i < 150; ++i) {
    int status = 0;
    if (waitpid(daemon.pid, &status, WNOHANG) == daemon.pid) {
      daemon.pid = -1;
      ADD_FAILURE() << "cupsd ended at start:\n" << read_file(outPath) << cupsd_log_tail(daemon);
      return false;
    }
    if (run_tool("lpstat", {"-h", daemon.server, "-r"}, root).out.find("is running") != std::string::npos)
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ADD_FAILURE() << "cupsd does not answer on " << daemon.server << "\n" << cupsd_log_tail(daemon);
  stop_cupsd(daemon);
  return false;
}

void stop_cupsd(PrivateCupsd& daemon)
{
  if (daemon.pid > 0)
    end_process(daemon.pid);
  daemon.pid = -1;
}

PrivateCupsd::~PrivateCupsd()
{
  stop_cupsd(*this);
}

std::string cupsd_log_tail(const PrivateCupsd& daemon)
{
  const std::string log = read_file(daemon.root + "/log/error_log");
  const size_t keep = 6000;
  return "--- cupsd error_log (end) ---\n" + (log.size() > keep ? log.substr(log.size() - keep) : log);
}

std::string print_file(const PrivateCupsd& daemon, const std::string& queue, const std::string& file,
                       const std::vector<std::string>& options, int copies)
{
  std::vector<std::string> args{"-h", daemon.server, "-d", queue, "-n", std::to_string(copies)};
  for (const std::string& option : options)
    args.insert(args.end(), {"-o", option});
  args.push_back(file);
  const ProcessResult result = run_tool("lp", args, daemon.root);
  // "request id is labels-300dpi-1 (1 file(s))"
  const size_t idStart = result.out.find(queue + "-");
  if (result.status != 0 || idStart == std::string::npos) {
    ADD_FAILURE() << "lp failed: " << result.out << result.err;
    return {};
  }
  return result.out.substr(idStart, result.out.find(' ', idStart) - idStart);
}

bool wait_for_job(const PrivateCupsd& daemon, const std::string& queue, const std::string& jobId)
{
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (std::chrono::steady_clock::now() < deadline) {
    const ProcessResult done = run_tool("lpstat", {"-h", daemon.server, "-W", "completed", "-o", queue}, daemon.root);
    if (done.out.find(jobId + " ") != std::string::npos)
      return true;
    const ProcessResult state = run_tool("lpstat", {"-h", daemon.server, "-p", queue}, daemon.root);
    if (state.out.find("disabled") != std::string::npos) {
      ADD_FAILURE() << "queue stopped: " << state.out << cupsd_log_tail(daemon);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
  ADD_FAILURE() << "job " << jobId << " did not complete\n" << cupsd_log_tail(daemon);
  return false;
}
