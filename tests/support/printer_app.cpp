// A private printer application server for the end-to-end tests.
#include "printer_app.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "cups_env.h"

namespace fs = std::filesystem;

namespace {

#ifdef ZPL_TEST_ASAN
// PAPPL's own leaks, which stacks show only when unwound the slow way, and
// its own race at shutdown (see the suppression files).
constexpr char kLeakOptions[] = "suppressions=" LSAN_SUPPRESSIONS ":fast_unwind_on_malloc=0";
constexpr char kServerAsanOptions[] = ":suppressions=" ASAN_SUPPRESSIONS;
#endif

std::vector<std::string> app_environment(const PrinterApp& app)
{
  // PAPPL puts its state file and local socket under SNAP_COMMON.
  std::vector<std::string> env{"SNAP_COMMON=" + app.root + "/state"};
#ifdef ZPL_TEST_ASAN
  const char* inherited = std::getenv("ASAN_OPTIONS");
  env.push_back(std::string("LSAN_OPTIONS=") + kLeakOptions);
  env.push_back(std::string("ASAN_OPTIONS=") + (inherited ? inherited : "") + kServerAsanOptions);
#endif
  return env;
}

// True when the server takes a connection on its port now.
bool port_answers(int port)
{
  const int fd = connect_loopback(port);
  if (fd >= 0)
    close(fd);
  return fd >= 0;
}

// True when a connection to the local socket can be made now.
bool socket_answers(const std::string& path)
{
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path)
    return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const bool ok = fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  if (fd >= 0)
    close(fd);
  return ok;
}

}  // namespace

bool start_printer_app(PrinterApp& app, const std::string& program, const std::string& root,
                       const std::vector<std::string>& env)
{
  app.program = program;
  app.root = root;
  app.port = free_loopback_port();
  if (app.port < 0) {
    ADD_FAILURE() << "no free loopback port";
    return false;
  }
  for (const char* dir : {"state", "spool"})
    if (!make_public_dir(root + "/" + dir))
      return false;

  const std::string out = root + "/server.out";
  std::vector<std::string> serverEnv = app_environment(app);
  serverEnv.insert(serverEnv.end(), env.begin(), env.end());
  app.process.pid = start_server({program, "server", "-o", "server-port=" + std::to_string(app.port), "-o",
                                  "spool-directory=" + root + "/spool", "-o", "log-file=" + root + "/app.log", "-o",
                                  "log-level=debug"},
                                 out, serverEnv);
  // add and submit start a server of their own when the socket does not
  // answer yet: wait for it before using them.
  const std::string socketPath = root + "/state/" + program.substr(program.rfind('/') + 1) + ".sock";
  return wait_until_answering(app.process, out, [&] { return socket_answers(socketPath) && port_answers(app.port); });
}

ProcessResult run_app(const PrinterApp& app, const std::vector<std::string>& args)
{
  std::vector<std::string> argv{app.program};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_program(app.program, argv, app.root, {}, app_environment(app));
}

int shutdown_printer_app(PrinterApp& app)
{
  // PAPPL 1.3.1 may end the server before the answer to the shutdown
  // request is out; the command then reports a lost connection although the
  // server ends as asked. What counts is that it ends, and how.
  const ProcessResult request = run_app(app, {"shutdown"});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    const int status = server_status(app.process.pid);
    if (status != kStillRunning) {
      app.process.pid = -1;
      return status;
    }
    // The server notices a shutdown at its next wake-up; a connection is one.
    port_answers(app.port);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  ADD_FAILURE() << "the server did not end after `shutdown`: " << request.out << request.err;
  stop_server(app.process.pid);
  return -1;
}

std::string printer_uri(const PrinterApp& app, const std::string& printer)
{
  return "ipp://127.0.0.1:" + std::to_string(app.port) + "/ipp/print/" + printer;
}

http_t* connect_app(const PrinterApp& app)
{
  http_t* http = httpConnect2("127.0.0.1", app.port, nullptr, AF_INET, HTTP_ENCRYPTION_IF_REQUESTED, 1, 30000, nullptr);
  // Without a timeout a blocking connection waits for an answer for ever.
  if (http)
    httpSetTimeout(http, 30.0, nullptr, nullptr);
  return http;
}

ipp_t* app_request(const PrinterApp& app, ipp_op_t operation, const std::string& printer, int jobId)
{
  ipp_t* request = ippNewRequest(operation);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, printer_uri(app, printer).c_str());
  if (jobId)
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "test");
  return request;
}

ipp_t* send_app_request(const PrinterApp& app, const std::string& printer, ipp_t* request, const std::string& file)
{
  http_t* http = connect_app(app);
  if (!http) {
    ippDelete(request);
    return nullptr;
  }
  const std::string resource = "/ipp/print/" + printer;
  ipp_t* response = file.empty() ? cupsDoRequest(http, request, resource.c_str())
                                 : cupsDoFileRequest(http, request, resource.c_str(), file.c_str());
  httpClose(http);
  return response;
}

std::string printer_attribute(const PrinterApp& app, const std::string& printer, const char* name)
{
  ipp_t* request = app_request(app, IPP_OP_GET_PRINTER_ATTRIBUTES, printer);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, name);
  ipp_t* response = send_app_request(app, printer, request);
  char value[1024] = "";
  if (ipp_attribute_t* attr = ippFindAttribute(response, name, IPP_TAG_ZERO))
    ippAttributeString(attr, value, sizeof value);
  ippDelete(response);
  return value;
}

namespace {

// The status and body of the answer to the request just sent on http.
http_status_t read_answer(http_t* http, std::string& body)
{
  http_status_t status;
  while ((status = httpUpdate(http)) == HTTP_STATUS_CONTINUE) {
  }
  char chunk[8192];
  for (ssize_t n; (n = httpRead2(http, chunk, sizeof chunk)) > 0;)
    body.append(chunk, static_cast<size_t>(n));
  return status;
}

// The text between the end of marker and the next `until` in page, or ""
// when the marker is not there.
std::string text_after(const std::string& page, const std::string& marker, char until)
{
  const size_t at = page.find(marker);
  if (at == std::string::npos)
    return {};
  const size_t start = at + marker.size();
  return page.substr(start, page.find(until, start) - start);
}

}  // namespace

std::string get_web_page(const PrinterApp& app, const std::string& path)
{
  http_t* http = connect_app(app);
  if (!http) {
    ADD_FAILURE() << "no connection to the server for " << path;
    return {};
  }
  httpClearFields(http);
  std::string body;
  const http_status_t status = httpGet(http, path.c_str()) == 0 ? read_answer(http, body) : HTTP_STATUS_ERROR;
  httpClose(http);
  if (status != HTTP_STATUS_OK) {
    ADD_FAILURE() << "GET " << path << ": " << httpStatus(status) << "\n" << app_log_tail(app);
    return {};
  }
  return body;
}

std::string submit_web_form(const PrinterApp& app, const std::string& path, const std::string& fields)
{
  const std::string session = text_after(get_web_page(app, path), "name=\"session\" value=\"", '"');
  if (session.empty())
    return "no form on " + path;
  const std::string body = "session=" + session + "&" + fields;

  http_t* http = connect_app(app);
  if (!http)
    return "no connection";
  httpClearFields(http);
  httpSetField(http, HTTP_FIELD_CONTENT_TYPE, "application/x-www-form-urlencoded");
  httpSetLength(http, body.size());
  std::string answer;
  const bool posted = httpPost(http, path.c_str()) == 0 && httpWrite2(http, body.data(), body.size()) >= 0;
  if (posted)
    read_answer(http, answer);
  httpClose(http);
  if (!posted)
    return "not posted";
  const std::string banner = text_after(answer, "<div class=\"banner\">", '<');
  return banner.empty() ? "no banner in the answer to " + path : banner;
}

int job_state(const PrinterApp& app, const std::string& printer, int jobId)
{
  ipp_t* response = send_app_request(app, printer, app_request(app, IPP_OP_GET_JOB_ATTRIBUTES, printer, jobId));
  const int state = ippGetInteger(ippFindAttribute(response, "job-state", IPP_TAG_ENUM), 0);
  ippDelete(response);
  return state;
}

int wait_for_job_end(const PrinterApp& app, const std::string& printer, int jobId, std::chrono::seconds limit)
{
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int state = job_state(app, printer, jobId);
  while (state < IPP_JSTATE_CANCELED && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    state = job_state(app, printer, jobId);
  }
  return state;
}

int processing_job(const PrinterApp& app, const std::string& printer)
{
  ipp_t* response = send_app_request(app, printer, app_request(app, IPP_OP_GET_JOBS, printer));
  const int id = ippGetInteger(ippFindAttribute(response, "job-id", IPP_TAG_INTEGER), 0);
  ippDelete(response);
  return id;
}

bool cancel_job(const PrinterApp& app, const std::string& printer, int jobId)
{
  ipp_t* response = send_app_request(app, printer, app_request(app, IPP_OP_CANCEL_JOB, printer, jobId));
  const bool cancelled = response && ippGetStatusCode(response) == IPP_STATUS_OK;
  ippDelete(response);
  return cancelled;
}

std::string wait_for_content(const std::string& path, const std::string& expected)
{
  std::string content;
  for (int i = 0; i < 300; ++i) {
    content = read_file(path);
    if (content == expected)
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return content;
}

std::string pwg_sample(const TestModel& model, const std::string& dir, int lastPage)
{
  const std::string path = dir + "/sample-" + std::to_string(model.dpi) + "-" + std::to_string(lastPage) + ".pwg";
  std::vector<std::string> args{"-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=pwgraster",
                                "-r" + std::to_string(model.dpi), "-dcupsColorSpace=18", "-dcupsBitsPerColor=8",
                                "-dDEVICEWIDTHPOINTS=288", "-dDEVICEHEIGHTPOINTS=432", "-dFIXEDMEDIA",
                                "-sOutputFile=" + path};
  if (lastPage > 0)
    args.push_back("-dLastPage=" + std::to_string(lastPage));
  args.push_back(build_paths().samplePs);
  const ProcessResult result = run_tool("gs", args, dir);
  EXPECT_EQ(result.status, 0) << result.err;
  return path;
}

std::string app_log_tail(const PrinterApp& app)
{
  return file_tail(app.root + "/app.log", "zpl-printer-app log");
}

int submit_to_app(const PrinterApp& app, const std::string& printer, const std::string& title, const std::string& file,
                  const std::vector<std::string>& extra)
{
  std::vector<std::string> args{"submit", "-d", printer, "-t", title};
  args.insert(args.end(), extra.begin(), extra.end());
  args.push_back(file);
  // "p203-5": the printer's name and the job's id.
  const ProcessResult result = run_app(app, args);
  const int id = result.status == 0 ? std::atoi(result.out.c_str() + result.out.rfind('-') + 1) : 0;
  if (id <= 0)
    ADD_FAILURE() << "submit failed: " << result.out << result.err << app_log_tail(app);
  return id;
}

namespace {

// True while a process holds the file open (as root every process is seen;
// as a user, this user's, which include the server).
bool held_open(const fs::path& file)
{
  std::error_code ec;
  for (const fs::directory_entry& process : fs::directory_iterator("/proc", ec)) {
    std::error_code listError;
    for (const fs::directory_entry& fd : fs::directory_iterator(process.path() / "fd", listError)) {
      std::error_code linkError;
      if (fs::read_symlink(fd.path(), linkError) == file)
        return true;
    }
  }
  return false;
}

}  // namespace

std::string wait_for_closed_file(const std::string& path, std::chrono::steady_clock::duration timeout)
{
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    std::error_code ec;
    if (fs::exists(path, ec) && !held_open(fs::canonical(path, ec)))
      return read_file(path);
    if (std::chrono::steady_clock::now() >= deadline)
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ADD_FAILURE() << path << " was not written and closed in time";
  return read_file(path);
}
