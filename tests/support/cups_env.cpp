// Private CUPS set-ups for the end-to-end tests.
#include "cups_env.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;

namespace {

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

// Links every entry of folder from into folder to, but those named in skip.
bool link_entries(const fs::path& from, const fs::path& to, const std::vector<std::string>& skip = {})
{
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(from, ec)) {
    const std::string name = entry.path().filename().string();
    if (std::find(skip.begin(), skip.end(), name) == skip.end())
      fs::create_symlink(entry.path(), to / name, ec);
    if (ec)
      break;
  }
  if (ec)
    ADD_FAILURE() << "linking " << from << " into " << to << ": " << ec.message();
  return !ec;
}

// Copies the *.types and *.convs files of mimeDir into folder to; returns
// how many, or 0 after reporting a failure.
int copy_mime_files(const fs::path& mimeDir, const fs::path& to)
{
  std::error_code ec;
  int ours = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(mimeDir, ec)) {
    const fs::path ext = entry.path().extension(), copy = to / entry.path().filename();
    // An installed copy of ours, linked among CUPS's files, gives way.
    if ((ext == ".types" || ext == ".convs") && (fs::remove(copy, ec), fs::copy_file(entry.path(), copy, ec)))
      ++ours;
    if (ec)
      break;
  }
  if (ec || ours == 0)
    ADD_FAILURE() << "copying the MIME files of " << mimeDir << ": " << (ec ? ec.message() : "none found");
  return ec ? 0 : ours;
}

// The job id in an lp answer ("request id is labels-3 (1 file(s))"), or "".
std::string job_id(const std::string& lpOutput, const std::string& queue)
{
  const size_t start = lpOutput.find(queue + "-");
  return start == std::string::npos ? "" : lpOutput.substr(start, lpOutput.find(' ', start) - start);
}

}  // namespace

FilterPrograms test_filters()
{
  FilterPrograms programs;
  for (const TestModel& model : test_models())
    programs.push_back({model.installed, model.filter});
  programs.push_back({"zplpass", build_paths().zplpass});
  programs.push_back({"zplcommand", build_paths().zplcommand});
  return programs;
}

std::string make_server_bin(const std::string& root, const FilterPrograms& programs)
{
  const fs::path bin = fs::path(root) / "serverbin";
  if (!make_public_dir((bin / "filter").string()) || !link_entries("/usr/lib/cups", bin, {"filter"}) ||
      !link_entries("/usr/lib/cups/filter", bin / "filter"))
    return {};
  // An installed copy of ours, if any, must not be the one that runs.
  for (const FilterProgram& program : programs) {
    std::error_code ec;
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
  const std::vector<std::string> own = ppdDir.empty() ? std::vector<std::string>{"mime"}
                                                      : std::vector<std::string>{"mime", "model"};
  if (!link_entries("/usr/share/cups", data, own) || !link_entries("/usr/share/cups/mime", data / "mime") ||
      copy_mime_files(mimeDir, data / "mime") == 0)
    return {};
  std::error_code ec;
  if (!ppdDir.empty())
    fs::create_symlink(ppdDir, data / "model" / "zplfilter", ec);
  if (ec) {
    ADD_FAILURE() << "linking the PPDs of " << ppdDir << ": " << ec.message();
    return {};
  }
  return data.string();
}

namespace {

// Writes root/cups-files.conf for cupsfilter -c: our programs among CUPS's
// filters, our MIME files of mimeDir among CUPS's. "" after reporting.
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

}  // namespace

const std::string& shared_cupsfilter_conf()
{
  static const TempDir root;
  static const std::string conf = make_cupsfilter_conf(root.path, test_filters(), build_paths().mimeSourceDir);
  return conf;
}

ProcessResult run_cupsfilter(const std::string& ppd, const std::string& file, const std::vector<std::string>& extra,
                             const std::string& to)
{
  std::vector<std::string> args{"-c", shared_cupsfilter_conf(), "-e", "-p", ppd, "-m", to};
  args.insert(args.end(), extra.begin(), extra.end());
  args.push_back(file);
  // The test builds of our filters log into the working folder: the shared one.
  return run_tool("cupsfilter", args, fs::path(shared_cupsfilter_conf()).parent_path().string());
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
  if (port < 0 || serverBin.empty() || dataDir.empty()) {
    ADD_FAILURE() << "no free loopback port, server-bin or data folder";
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
  daemon.process.pid = start_server({"cupsd", "-f", "-c", confPath, "-s", filesPath}, outPath);
  const bool answering = wait_until_answering(daemon.process, outPath, [&] {
    return run_tool("lpstat", {"-h", daemon.server, "-r"}, root).out.find("is running") != std::string::npos;
  });
  if (!answering)
    ADD_FAILURE() << "cupsd on " << daemon.server << "\n" << cupsd_log_tail(daemon);
  return answering;
}

std::string cupsd_log_tail(const PrivateCupsd& daemon)
{
  return file_tail(daemon.root + "/log/error_log", "cupsd error_log");
}

bool add_queue(const PrivateCupsd& daemon, const std::string& queue, const std::string& ppd, const std::string& output)
{
  const bool file = !ppd.empty() && ppd[0] == '/';
  const std::string device = output.find("://") != std::string::npos ? output : "file://" + output;
  const ProcessResult result =
      run_tool("lpadmin", {"-h", daemon.server, "-p", queue, "-E", "-v", device, file ? "-P" : "-m", ppd}, daemon.root);
  EXPECT_EQ(result.status, 0) << result.err;
  return result.status == 0;
}

std::string submit_job(const PrivateCupsd& daemon, const std::string& queue, const std::string& file,
                       const std::vector<std::string>& lpArgs)
{
  std::vector<std::string> args{"-h", daemon.server, "-d", queue};
  args.insert(args.end(), lpArgs.begin(), lpArgs.end());
  args.push_back(file);
  const ProcessResult result = run_tool("lp", args, daemon.root);
  const std::string id = job_id(result.out, queue);
  if (result.status != 0 || id.empty())
    ADD_FAILURE() << "lp failed: " << result.out << result.err;
  return result.status == 0 ? id : "";
}

bool job_completed(const PrivateCupsd& daemon, const std::string& queue, const std::string& jobId)
{
  const ProcessResult done = run_tool("lpstat", {"-h", daemon.server, "-W", "completed", "-o", queue}, daemon.root);
  return done.out.find(jobId + " ") != std::string::npos;
}

bool wait_for_job(const PrivateCupsd& daemon, const std::string& queue, const std::string& jobId)
{
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (std::chrono::steady_clock::now() < deadline) {
    if (job_completed(daemon, queue, jobId))
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

std::string print_job(const PrivateCupsd& daemon, const std::string& queue, const std::string& file,
                      const std::vector<std::string>& lpArgs)
{
  const std::string id = submit_job(daemon, queue, file, lpArgs);
  return !id.empty() && wait_for_job(daemon, queue, id) ? id : "";
}

std::string stage_install(const std::string& root, const std::string& prefix)
{
  const BuildPaths& paths = build_paths();
  const std::string stage = root + "/stage";
  std::vector<std::string> args{paths.cmake, "--install", paths.binaryDir};
  if (!prefix.empty())
    args.insert(args.end(), {"--prefix", prefix});
  const ProcessResult result = run_program(paths.cmake, args, root, {}, {"DESTDIR=" + stage});
  EXPECT_EQ(result.status, 0) << result.out << result.err;
  return result.status == 0 ? stage : "";
}

void expect_installed_driver(const PrivateCupsd& daemon, const std::string& root, const std::string& ppdPrefix)
{
  const ProcessResult listed = run_tool("lpinfo", {"-h", daemon.server, "-m"}, root);
  ASSERT_EQ(listed.status, 0) << listed.err;
  const std::string zpl = "^XA^FO20,20^A0N,40,40^FDInstalled^FS^XZ\r\n";
  ASSERT_TRUE(write_file(root + "/installed.zpl", zpl));
  for (const TestModel& model : test_models()) {
    SCOPED_TRACE(model.name);
    const std::string dpi = std::to_string(model.dpi), ppdName = ppdPrefix + "zplfilter-" + dpi + ".ppd";
    EXPECT_NE(listed.out.find(ppdName + " Generic ZPL Label Printer " + dpi + "dpi, zplfilter\n"), std::string::npos)
        << listed.out;

    // A queue by the listed name, as lpadmin -m or the web page makes it.
    const std::string queue = "installed-" + dpi, output = root + "/out/" + queue + ".zpl";
    ASSERT_TRUE(add_queue(daemon, queue, ppdName, output));
    ASSERT_FALSE(print_job(daemon, queue, build_paths().samplePdf).empty());
    std::vector<DecodedLabel> labels;
    ASSERT_TRUE(decode_labels(read_file(output), labels));
    ASSERT_EQ(labels.size(), 2u);
    for (const DecodedLabel& label : labels) {
      EXPECT_EQ(label.hasHeader, model.header);
      EXPECT_EQ(label.width, dots(model, 102));
      EXPECT_EQ(label.length, dots(model, 152));
      EXPECT_EQ(label.darkness, 15);
      EXPECT_EQ(label.copies, 1);
    }

    // The installed MIME rules and pass-through: ZPL reaches the printer as it is.
    ASSERT_FALSE(print_job(daemon, queue, root + "/installed.zpl").empty());
    EXPECT_EQ(read_file(output), zpl);
  }
}
