// zpl-virtual-printer as a process, driven as the tests and users drive it:
// its answers decoded by the status core's reader in every state, the
// faults its state file asks for, and the labels it keeps.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "status/printer_status.h"
#include "virtual_printer.h"

namespace {

// Sends all bytes. False when the connection can't take them.
bool send_bytes(int fd, const std::string& bytes)
{
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t put = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (put <= 0)
      return false;
    done += static_cast<size_t>(put);
  }
  return true;
}

// What arrives until waitMs milliseconds pass without a byte, one entry per
// read, or until the peer closes (closed set then).
std::vector<std::string> read_pieces(int fd, int waitMs, bool* closed = nullptr)
{
  std::vector<std::string> pieces;
  if (closed)
    *closed = false;
  char buffer[4096];
  pollfd ready{fd, POLLIN, 0};
  while (poll(&ready, 1, waitMs) > 0) {
    const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) {
      if (closed)
        *closed = true;
      break;
    }
    pieces.emplace_back(buffer, static_cast<size_t>(got));
  }
  return pieces;
}

class VirtualPrinterProcess : public ::testing::Test {
protected:
  void SetUp() override
  {
    ASSERT_TRUE(start_virtual_printer(printer, dir.file("printer"), {"--dpi", "300", "--png"}));
    connection = connect_loopback(printer.port);
    ASSERT_GE(connection, 0);
  }
  ~VirtualPrinterProcess() override
  {
    if (connection >= 0)
      close(connection);
  }

  // Reads until the reply is complete or garbled, or for at most maxMs;
  // pieces counts the reads it came in.
  void await_reply(ReplyReader& reader, int maxMs = 3000, size_t* pieces = nullptr)
  {
    for (int waited = 0; waited < maxMs && reader.progress == ReplyProgress::kNeedMore; waited += 50)
      for (const std::string& piece : read_pieces(connection, 50)) {
        reply_feed(reader, piece);
        if (pieces)
          ++*pieces;
      }
  }

  // Sends a query and reads its answer with the core's reader.
  ReplyReader ask(const std::string& query, ReplyFormat format, int maxMs = 3000, size_t* pieces = nullptr)
  {
    ReplyReader reader = reply_reader(format);
    EXPECT_TRUE(send_bytes(connection, query));
    await_reply(reader, maxMs, pieces);
    return reader;
  }

  TempDir dir;
  VirtualPrinter printer;
  int connection = -1;
};

struct StateCase {
  std::vector<std::string> lines;
  std::vector<Condition> conditions;
};

TEST_F(VirtualPrinterProcess, AnswersDecodeWithTheCoreReader)
{
  const StateCase cases[] = {
      {{}, {}},
      {{"media-out"}, {Condition::kMediaOut}},
      {{"ribbon-out", "head-open"}, {Condition::kRibbonOut, Condition::kHeadOpen}},
      {{"paused", "media-near-end", "# a comment", "paper-jam"},
       {Condition::kPaused, Condition::kMediaNearEnd, Condition::kPaperJam}},
      {{"cutter-fault", "clean-head", "no-such-thing"}, {Condition::kCutterFault, Condition::kCleanHead}},
  };
  // What ~HS can tell.
  const ConditionSet hostStatus = condition_bit(Condition::kMediaOut) | condition_bit(Condition::kPaused) |
                                  condition_bit(Condition::kHeadOpen) | condition_bit(Condition::kRibbonOut);
  for (const StateCase& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.lines));
    ConditionSet expected = 0;
    for (Condition condition : c.conditions)
      expected |= condition_bit(condition);
    ASSERT_TRUE(set_printer_state(printer, c.lines));
    const ReplyReader status = ask("~HQES", ReplyFormat::kErrorStatus);
    ASSERT_EQ(status.progress, ReplyProgress::kComplete);
    EXPECT_EQ(conditions_of(status.errorStatus), expected);
    const ReplyReader host = ask("~hs", ReplyFormat::kHostStatus);
    ASSERT_EQ(host.progress, ReplyProgress::kComplete);
    EXPECT_EQ(conditions_of(host.hostStatus), expected & hostStatus);
  }
  // The resolution of the command line, then of the state file.
  for (const int dpi : {300, 203, 600}) {
    ASSERT_TRUE(set_printer_state(printer, dpi == 300 ? std::vector<std::string>{} :
                                                         std::vector<std::string>{"dpi " + std::to_string(dpi)}));
    const ReplyReader identity = ask("~HI", ReplyFormat::kIdentification);
    ASSERT_EQ(identity.progress, ReplyProgress::kComplete);
    EXPECT_EQ(dpi_of_dots_per_mm(identity.identity.dotsPerMm), dpi);
  }
}

TEST_F(VirtualPrinterProcess, FaultsOnDemand)
{
  size_t pieces = 0;
  ASSERT_TRUE(set_printer_state(printer, {"split 5", "media-out"}));
  ReplyReader reader = ask("~HQES", ReplyFormat::kErrorStatus, 3000, &pieces);
  EXPECT_EQ(reader.progress, ReplyProgress::kComplete);
  EXPECT_GE(pieces, 2u) << "one write";

  // An answer in no writes at all is refused; the answer comes whole.
  ASSERT_TRUE(set_printer_state(printer, {"split 0", "media-out"}));
  reader = ask("~HQES", ReplyFormat::kErrorStatus);
  ASSERT_EQ(reader.progress, ReplyProgress::kComplete) << printer_log(printer);
  EXPECT_EQ(conditions_of(reader.errorStatus), condition_bit(Condition::kMediaOut));
  EXPECT_NE(printer_log(printer).find("line 1 means nothing: split 0"), std::string::npos) << printer_log(printer);

  ASSERT_TRUE(set_printer_state(printer, {"garble"}));
  EXPECT_EQ(ask("~HQES", ReplyFormat::kErrorStatus).progress, ReplyProgress::kGarbled);
  EXPECT_EQ(ask("~HI", ReplyFormat::kIdentification).progress, ReplyProgress::kGarbled);

  // Silent, late, not reading: nothing within a short wait, the answer
  // once the state allows it, on the same connection.
  for (const char* fault : {"silent", "delay 600", "stop-reading"}) {
    SCOPED_TRACE(fault);
    ASSERT_TRUE(set_printer_state(printer, {fault}));
    EXPECT_EQ(ask("~HQES", ReplyFormat::kErrorStatus, 200).progress, ReplyProgress::kNeedMore);
    if (std::string(fault) != "delay 600") {
      ASSERT_TRUE(set_printer_state(printer, {}));
    }
    const bool silent = fault == std::string("silent");
    reader = reply_reader(ReplyFormat::kErrorStatus);
    await_reply(reader, silent ? 500 : 3000);
    EXPECT_EQ(reader.progress, silent ? ReplyProgress::kNeedMore : ReplyProgress::kComplete)
        << printer_log(printer);
  }

  // The connection closes after the first label of two sent at once.
  ASSERT_TRUE(set_printer_state(printer, {"close-after 1"}));
  const size_t kept = kept_files(printer).size();
  ASSERT_TRUE(send_bytes(connection, "^XA^FO1,1^GB9,9,1^FS^XZ\r\n^XA^FO2,2^GB9,9,1^FS^XZ\r\n"));
  bool closed = false;
  read_pieces(connection, 2000, &closed);
  EXPECT_TRUE(closed);
  ASSERT_TRUE(wait_for_kept(printer, kept));
  EXPECT_EQ(kept_files(printer).size(), kept + 1) << printer_log(printer);
}

// Each label is kept whole, with what came ahead of it and its line end,
// however the bytes were cut into reads; a query is answered where it
// stands; what ends the connection without ^XZ is kept apart. The first
// label is what a 300 dpi queue sends: the query, then the filter's label
// behind its dotted-line prefix, which the printer's check finds sound.
TEST_F(VirtualPrinterProcess, KeepsEachLabelWithWhatCameAheadOfIt)
{
  const std::string first = "~HQES\r\n" + filter_labels(test_model(300).filter, {noise_page(40, 24, 3)});
  const std::string second = "^xa^FO1,1^GB9,9,1^FS^xz\n";
  const std::string sent = first + second + "~WC";
  // Cut inside the query, inside ^XZ, between ^XZ and its line end, inside
  // the next label and inside ~WC.
  size_t from = 0;
  const size_t cuts[] = {3, first.size() - 3, first.size() - 1, first.size() + 5, sent.size() - 2, sent.size()};
  for (const size_t cut : cuts) {
    ASSERT_TRUE(send_bytes(connection, sent.substr(from, cut - from)));
    from = cut;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
  ReplyReader reader = reply_reader(ReplyFormat::kErrorStatus);
  await_reply(reader);
  EXPECT_EQ(reader.progress, ReplyProgress::kComplete);
  close(connection);
  connection = -1;

  ASSERT_TRUE(wait_for_kept(printer, 2));
  const std::vector<std::string> files = kept_files(printer);
  ASSERT_EQ(files, (std::vector<std::string>{"label-0001.zpl", "label-0002.zpl", "commands-0003.zpl"}))
      << printer_log(printer);
  EXPECT_EQ(read_file(printer.folder + "/label-0001.zpl"), first);
  EXPECT_EQ(read_file(printer.folder + "/label-0002.zpl"), second);
  EXPECT_EQ(read_file(printer.folder + "/commands-0003.zpl"), "~WC");
  EXPECT_FALSE(read_file(printer.folder + "/label-0001.png").empty());
  const std::string log = read_file(printer.folder + "/printer.log");
  const size_t line = log.find("label-0001.zpl: label 1: ");
  ASSERT_NE(line, std::string::npos) << log;
  EXPECT_EQ(log.substr(log.find('\n', line) - 4, 4), "; OK") << log.substr(line, log.find('\n', line) - line);
}

}  // namespace
