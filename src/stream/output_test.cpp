#include "stream/output.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "codec/adler32.h"
#include "log/log_base.h"
#include "log/log_test_util.h"
#include "stream/progress_monitor.h"
#include "text/data_buffer.h"

namespace sfx {
namespace {

using CaptureLog = log_test::CapturingLog;

// A sink whose writes fail.
class RefusingOutput : public Output {
 public:
  bool writeBytes(const void*, uint32_t, ProgressMonitor*, LogBase&) override {
    return false;
  }
};

std::string contents(const DataBuffer& db) {
  const uint8_t* p = db.getData();
  return p ? std::string(reinterpret_cast<const char*>(p), db.getSize())
           : std::string();
}

TEST(OutputTest, PlainOutputDiscardsAndCounts) {
  Output out;
  LogNull log;
  EXPECT_EQ(out.kind(), Output::kPlainOutput);
  EXPECT_TRUE(out.writeBytesPM("abc", 3, nullptr, log));
  EXPECT_TRUE(out.writeBytesPM("defg", 4, nullptr, log));
  EXPECT_EQ(out.totalWritten(), 7u);
  EXPECT_EQ(out.getPosition(), 0u);
  EXPECT_TRUE(out.seekAbsolute(99, log));
  EXPECT_TRUE(out.seekToEnd(log));
  EXPECT_TRUE(out.resetOutput(log));
  EXPECT_FALSE(out.failed());
}

TEST(OutputTest, EmptyWritesChangeNothing) {
  RefusingOutput refusing;
  DataBuffer db;
  OutputDataBuffer odb(&db);
  LogNull log;
  for (Output* out :
       {static_cast<Output*>(&refusing), static_cast<Output*>(&odb)}) {
    out->setRunningAdler32(true);
    EXPECT_TRUE(out->writeBytesPM("x", 0, nullptr, log));
    EXPECT_TRUE(out->writeBytesPM(nullptr, 5, nullptr, log));
    EXPECT_EQ(out->totalWritten(), 0u);
    EXPECT_EQ(out->runningAdler32(), kAdler32Init);
    EXPECT_FALSE(out->failed());
  }
  EXPECT_EQ(db.getSize(), 0u);
}

TEST(OutputTest, RunningAdlerCoversEveryWrittenByteWhileOn) {
  Output out;
  LogNull log;
  EXPECT_TRUE(out.writeBytesPM("ignored", 7, nullptr, log));
  out.setRunningAdler32(true);
  EXPECT_EQ(out.runningAdler32(), 1u);
  // Adler-32 of "Wikipedia" is 0x11E60398 (the usual worked example).
  EXPECT_TRUE(out.writeBytesPM("Wiki", 4, nullptr, log));
  EXPECT_TRUE(out.writeBytesPM("pedia", 5, nullptr, log));
  EXPECT_EQ(out.runningAdler32(), 0x11E60398u);
  out.setRunningAdler32(false);
  EXPECT_TRUE(out.writeBytesPM("more", 4, nullptr, log));
  EXPECT_EQ(out.runningAdler32(), 0x11E60398u);
  out.setRunningAdler32(true);
  EXPECT_EQ(out.runningAdler32(), 1u);
}

TEST(OutputTest, FailedSinkWriteMarksFailedAndCountsNothing) {
  RefusingOutput out;
  LogNull log;
  out.setRunningAdler32(true);
  EXPECT_FALSE(out.writeBytesPM("abc", 3, nullptr, log));
  EXPECT_TRUE(out.failed());
  EXPECT_EQ(out.totalWritten(), 0u);
  EXPECT_EQ(out.runningAdler32(), 1u);
}

TEST(OutputTest, AbortByProgressByteCount) {
  AsyncProgressEvent event;
  event.requestAbort();
  ProgressMonitor pm(&event, 0, 100);
  Output out;
  out.setProgressByBytes(true);
  CaptureLog log;
  EXPECT_FALSE(out.writeBytesPM("0123456789", 10, &pm, log));
  EXPECT_TRUE(out.failed());
  EXPECT_EQ(pm.amountDone(), 10);
  // The sink took the bytes before the monitor said stop.
  EXPECT_EQ(out.totalWritten(), 10u);
  ASSERT_EQ(log.errors.size(), 1u);
  EXPECT_EQ(log.errors[0], "Output aborted by application callback.");
}

TEST(OutputTest, WithoutProgressByBytesOnlyPollsAbort) {
  ProgressMonitor pm(nullptr, 0, 100);
  Output out;
  LogNull log;
  EXPECT_TRUE(out.writeBytesPM("0123456789", 10, &pm, log));
  EXPECT_EQ(pm.amountDone(), 0);

  // Once the monitor is aborted, the next write fails.
  AsyncProgressEvent event;
  event.requestAbort();
  ProgressMonitor aborted(&event, 0, 100);
  aborted.consumeBytes(50, log);
  ASSERT_TRUE(aborted.isAborted());
  EXPECT_FALSE(out.writeBytesPM("x", 1, &aborted, log));
  EXPECT_TRUE(out.failed());
}

TEST(OutputTest, TransferNotifications) {
  Output out;
  EXPECT_FALSE(out.inTransfer());
  out.beginTransfer();
  EXPECT_TRUE(out.inTransfer());
  out.endTransfer();
  out.beginTransfer();
  out.endTransfer();
  EXPECT_FALSE(out.inTransfer());
  EXPECT_EQ(out.transfersBegun(), 2u);
}

TEST(OutputDataBufferTest, AppendsAfterExistingBytes) {
  DataBuffer db;
  ASSERT_TRUE(db.append("hello", 5));
  OutputDataBuffer out(&db);
  LogNull log;
  EXPECT_EQ(out.kind(), Output::kDataBufferOutput);
  EXPECT_EQ(out.getPosition(), 5u);
  EXPECT_TRUE(out.writeBytesPM(", world", 7, nullptr, log));
  EXPECT_EQ(contents(db), "hello, world");
  EXPECT_EQ(out.getPosition(), 12u);
}

TEST(OutputDataBufferTest, SeekBeyondEndZeroFillsTheGap) {
  DataBuffer db;
  OutputDataBuffer out(&db);
  LogNull log;
  EXPECT_TRUE(out.seekAbsolute(10, log));
  EXPECT_TRUE(out.writeBytesPM("abc", 3, nullptr, log));
  EXPECT_EQ(contents(db), std::string(10, '\0') + "abc");
  // A gap larger than the zero block used for filling.
  EXPECT_TRUE(out.seekAbsolute(1000, log));
  EXPECT_TRUE(out.writeBytesPM("z", 1, nullptr, log));
  ASSERT_EQ(db.getSize(), 1001u);
  EXPECT_EQ(contents(db).substr(13, 987), std::string(987, '\0'));
  EXPECT_EQ(db.getData()[1000], 'z');
}

TEST(OutputDataBufferTest, WritesInsideOverwriteAndMayRunPastTheEnd) {
  DataBuffer db;
  ASSERT_TRUE(db.append("abcdef", 6));
  OutputDataBuffer out(&db);
  LogNull log;
  ASSERT_TRUE(out.seekAbsolute(1, log));
  EXPECT_TRUE(out.writeBytesPM("XY", 2, nullptr, log));
  EXPECT_EQ(contents(db), "aXYdef");
  ASSERT_TRUE(out.seekAbsolute(4, log));
  EXPECT_TRUE(out.writeBytesPM("1234", 4, nullptr, log));
  EXPECT_EQ(contents(db), "aXYd1234");
  EXPECT_EQ(out.getPosition(), 8u);
  ASSERT_TRUE(out.seekAbsolute(0, log));
  ASSERT_TRUE(out.seekToEnd(log));
  EXPECT_EQ(out.getPosition(), 8u);
}

TEST(OutputDataBufferTest, ResetEmptiesTheTarget) {
  DataBuffer db;
  ASSERT_TRUE(db.append("abcdef", 6));
  OutputDataBuffer out(&db);
  LogNull log;
  EXPECT_TRUE(out.resetOutput(log));
  EXPECT_EQ(db.getSize(), 0u);
  EXPECT_EQ(out.getPosition(), 0u);
  EXPECT_TRUE(out.writeBytesPM("q", 1, nullptr, log));
  EXPECT_EQ(contents(db), "q");
}

TEST(OutputDataBufferTest, PositionsBeyond32BitsAreRefused) {
  DataBuffer db;
  OutputDataBuffer out(&db);
  LogNull log;
  EXPECT_FALSE(out.seekAbsolute(uint64_t{1} << 32, log));
  EXPECT_EQ(out.getPosition(), 0u);
}

TEST(OutputDataBufferTest, NoTargetFailsEveryWrite) {
  OutputDataBuffer out(nullptr);
  LogNull log;
  EXPECT_FALSE(out.writeBytesPM("a", 1, nullptr, log));
  EXPECT_TRUE(out.failed());
  EXPECT_FALSE(out.seekToEnd(log));
  EXPECT_FALSE(out.seekAbsolute(0, log));
  EXPECT_EQ(out.getPosition(), 0u);
}

TEST(OutputDataBufferTest, GrowthThatCannotBeHadFailsForGood) {
  DataBuffer db;
  OutputDataBuffer out(&db);
  CaptureLog log;
  // Index + count + 8 passes 32 bits: no buffer can be that large.
  ASSERT_TRUE(out.seekAbsolute(UINT32_MAX - 4, log));
  EXPECT_FALSE(out.writeBytesPM("abcd", 4, nullptr, log));
  ASSERT_EQ(log.errors.size(), 1u);
  EXPECT_EQ(log.errors[0], "Failed to allocate memory for output data buffer.");
  EXPECT_EQ(log.data[0],
            "ensureSz0=" + std::to_string(uint64_t{UINT32_MAX} + 8));
  EXPECT_EQ(log.data[2], "m_idx=" + std::to_string(UINT32_MAX - 4));
  EXPECT_EQ(log.data[3], "size=4");
  EXPECT_TRUE(out.failed());
  EXPECT_TRUE(out.bufferFailed());
  EXPECT_EQ(db.getSize(), 0u);
  // Refused from now on, even where it would fit.
  EXPECT_FALSE(out.seekAbsolute(0, log));
  EXPECT_FALSE(out.writeBytesPM("a", 1, nullptr, log));
}

}  // namespace
}  // namespace sfx
