// The diagnostic log as functions: stamps, line ends, results, and the file
// emptied at every start. The log file is "quilby.log" in the working folder.
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <string>

#include <gtest/gtest.h>

#include "common/log.h"
#include "filter/model.h"
#include "support.h"

namespace {

class LogTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    ASSERT_NE(getcwd(home, sizeof home), nullptr);
    ASSERT_EQ(chdir(dir.path.c_str()), 0);
  }
  void TearDown() override
  {
    CloseLog();
    EXPECT_EQ(chdir(home), 0);
  }

  static std::string text() { return read_file("quilby.log"); }

  char home[4096] = {};
  TempDir dir;
};

// Seconds since the epoch of a "YYYY-MM-DD hh:mm:ss" local-time stamp.
std::time_t stamp_time(const std::string& line)
{
  std::tm tm{};
  tm.tm_isdst = -1;
  if (std::sscanf(line.c_str(), "%4d-%2d-%2d %2d:%2d:%2d ", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour,
                  &tm.tm_min, &tm.tm_sec) != 6)
    return -1;
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  return std::mktime(&tm);
}

TEST_F(LogTest, WithoutAnOpenLogNothingIsWritten)
{
  ASSERT_EQ(pLogFile, nullptr);
  EXPECT_EQ(WriteLog("lost %d", 1), -1);
  EXPECT_NE(access("quilby.log", F_OK), 0);
}

TEST_F(LogTest, LinesCarryALocalStampAndCrLf)
{
  const std::time_t before = std::time(nullptr);
  ASSERT_NE(InitLog(kLogPath), nullptr);
  EXPECT_EQ(WriteLog("argv[%d]:%s", 3, "title"), 13);
  const std::time_t after = std::time(nullptr);

  const std::string line = text();
  ASSERT_EQ(line.size(), 20u + 13u + 2u) << line;
  EXPECT_EQ(line.substr(20), "argv[3]:title\r\n");
  EXPECT_EQ(line[4], '-');
  EXPECT_EQ(line[19], ' ');
  const std::time_t stamped = stamp_time(line);
  EXPECT_GE(stamped, before);
  EXPECT_LE(stamped, after);
}

TEST_F(LogTest, EveryLineIsOnDiskAtOnce)
{
  ASSERT_NE(InitLog(kLogPath), nullptr);
  WriteLog("one");
  EXPECT_EQ(log_messages(text()), std::vector<std::string>{"one"});
  WriteLog("two");
  EXPECT_EQ(log_messages(text()), (std::vector<std::string>{"one", "two"}));
}

TEST_F(LogTest, EmptyMessageAndMessagesWithTheirOwnLineEnd)
{
  ASSERT_NE(InitLog(kLogPath), nullptr);
  const char* empty = "";
  EXPECT_EQ(WriteLog(empty, 0), 0);
  EXPECT_EQ(WriteLog("Len:%ld\n", 20L), 7);
  const std::string log = text();
  ASSERT_EQ(log.size(), 22u + 29u);
  EXPECT_EQ(log.substr(19, 3), " \r\n");
  EXPECT_EQ(log.substr(22 + 19), " Len:20\n\r\n");
}

TEST_F(LogTest, EachStartEmptiesTheFile)
{
  ASSERT_TRUE(write_file("quilby.log", std::string(500, 'x') + "\r\n"));
  ASSERT_NE(InitLog(kLogPath), nullptr);
  WriteLog("fresh");
  EXPECT_EQ(log_messages(text()), std::vector<std::string>{"fresh"});
}

TEST_F(LogTest, CloseEndsLogging)
{
  ASSERT_NE(InitLog(kLogPath), nullptr);
  WriteLog("before");
  CloseLog();
  EXPECT_EQ(pLogFile, nullptr);
  EXPECT_EQ(WriteLog("after"), -1);
  CloseLog();
  EXPECT_EQ(log_messages(text()), std::vector<std::string>{"before"});
}

TEST_F(LogTest, AnUnopenableLogFailsSilently)
{
  ASSERT_EQ(mkdir("quilby.log", 0755), 0);
  EXPECT_EQ(InitLog(kLogPath), nullptr);
  EXPECT_EQ(pLogFile, nullptr);
  EXPECT_EQ(WriteLog("nowhere"), -1);
}

}  // namespace
