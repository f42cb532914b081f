// Printer-ready ZPL in the printer application: told apart from other
// documents by its first bytes, copied through byte for byte, and cut only
// where a label ends when the job is cancelled.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "app/raw_zpl.h"
#include "support.h"

namespace {

bool zpl(std::string_view text)
{
  return looks_like_zpl(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// Every shared sample as CUPS and zplpass take it, and what only the
// application decides: it asks for a command at the start, not just a ^XA
// somewhere in text.
TEST(RawZpl, RecognisedByItsFirstCommands)
{
  for (const ZplSample& sample : zpl_samples())
    EXPECT_TRUE(zpl(sample.bytes)) << sample.name;
  for (const ZplSample& sample : not_zpl_samples())
    EXPECT_FALSE(zpl(sample.bytes)) << sample.name;

  using namespace std::string_literals;
  EXPECT_FALSE(zpl("\x1F\x1B\x1A\x01\x03\x01\x02^MN^XA^XZ"s));  // a switch value our labels never send
  EXPECT_FALSE(zpl("Dear reader, ^XA starts a label"));             // text about ZPL
  EXPECT_FALSE(zpl("~1 ^XA"));
  EXPECT_FALSE(zpl("%PDF-1.7\n^XA"));
}

// A stream of labels with text between and after them.
const std::string kStream = "~SD20\r\n^XA^FDone^FS^XZ\r\n^xa^FDtwo^FS^xz~JA^XA^FDthree^XZ";

TEST(RawZpl, ScanStopsRightAfterTheOpenLabelCloses)
{
  const auto* bytes = reinterpret_cast<const uint8_t*>(kStream.data());
  // A label is open from the A of its ^XA to the Z of its ^XZ.
  const size_t opensOne = kStream.find("^XA") + 3, closesOne = kStream.find("^XZ") + 3;
  const size_t opensTwo = kStream.find("^xa") + 3, closesTwo = kStream.find("^xz") + 3;
  const size_t opensThree = kStream.find("^XA", closesTwo) + 3;

  // Every split point of the stream: the state carries over, and a cancel
  // seen there ends the copy at the label end that follows, if any.
  for (size_t split = 0; split <= kStream.size(); ++split) {
    SCOPED_TRACE("split at " + std::to_string(split));
    ZplScan scan;
    EXPECT_EQ(zpl_advance(scan, bytes, split, false), split);
    const size_t more = zpl_advance(scan, bytes + split, kStream.size() - split, true);
    if (split < opensOne || (split >= closesOne && split < opensTwo) || (split >= closesTwo && split < opensThree))
      EXPECT_EQ(more, 0u);
    else if (split < closesOne)
      EXPECT_EQ(split + more, closesOne);
    else if (split < closesTwo)
      EXPECT_EQ(split + more, closesTwo);
    else
      EXPECT_EQ(split + more, kStream.size());  // the last label ends with the stream
  }
}

// A sink that collects what it is given and reports a cancel once it holds
// cancelAfter bytes or more.
struct Collector {
  std::string out;
  size_t cancelAfter;
};

RawSink collector_sink(Collector& collector)
{
  return RawSink{&collector,
                 [](void* c, const uint8_t* data, size_t size) {
                   static_cast<Collector*>(c)->out.append(reinterpret_cast<const char*>(data), size);
                   return true;
                 },
                 [](void* c) {
                   auto* collector = static_cast<Collector*>(c);
                   return collector->out.size() >= collector->cancelAfter;
                 }};
}

// Copies the file at path through copy_zpl_stream, cancelled once cancelAfter
// bytes have gone out.
std::string copy_file(const std::string& path, size_t cancelAfter, bool& ok)
{
  Collector collector{{}, cancelAfter};
  const int fd = open(path.c_str(), O_RDONLY);
  EXPECT_GE(fd, 0);
  ok = copy_zpl_stream(fd, collector_sink(collector));
  close(fd);
  return collector.out;
}

// Labels large enough that a copy takes several reads.
std::string big_label(char fill)
{
  return "^XA^FO0,0^FD" + std::string(20000, fill) + "^FS^XZ\r\n";
}

TEST(RawZpl, CopyIsExactAndACancelEndsAtALabelEnd)
{
  const TempDir temp;
  const std::string path = temp.file("job.zpl");
  const std::string one = big_label('a'), two = big_label('b'), three = big_label('c');
  const std::string stream = "~SD15\r\n" + one + two + three;
  ASSERT_TRUE(write_file(path, stream));

  bool ok = false;
  EXPECT_EQ(copy_file(path, SIZE_MAX, ok), stream);
  EXPECT_TRUE(ok);

  // The first read ends inside the second label: it is finished, the third
  // is not sent.
  std::string out = copy_file(path, 1, ok);
  EXPECT_TRUE(ok);
  const size_t twoEnd = stream.find("^XZ", 7 + one.size()) + 3;
  EXPECT_EQ(out, stream.substr(0, twoEnd));

  // Cancelled before anything was read: nothing is sent.
  out = copy_file(path, 0, ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(out, "");
}

TEST(RawZpl, CopyReportsAnUnreadableFile)
{
  Collector collector{{}, SIZE_MAX};
  EXPECT_FALSE(copy_zpl_stream(-1, collector_sink(collector)));
}

}  // namespace
