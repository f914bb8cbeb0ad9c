#include "stream/progress_monitor.h"

#include <gtest/gtest.h>

#include <vector>

#include "log/log_base.h"
#include "os/os.h"

namespace sfx {
namespace {

uint32_t g_now = 1000;
uint32_t fakeTick() { return g_now; }

// Records every callback and can ask for an abort.
class RecordingEvent : public ProgressEvent {
 public:
  void percentDone(uint32_t percent, bool* abort) override {
    percents.push_back(percent);
    *abort = abortOnPercent;
  }
  void abortCheck(bool* abort) override {
    ++abortChecks;
    *abort = abortOnCheck;
  }
  std::vector<uint32_t> percents;
  int abortChecks = 0;
  bool abortOnPercent = false;
  bool abortOnCheck = false;
};

class ProgressMonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_now = 1000;
    setTickSourceForTesting(fakeTick);
  }
  void TearDown() override { setTickSourceForTesting(nullptr); }
  LogNull log_;
};

TEST(PercentOfTest, Rule) {
  struct Case {
    int64_t done, total;
    uint32_t percent;
  } cases[] = {
      {5, 0, 100},
      {0, -3, 100},
      {0, 10, 0},
      {1, 3, 33},
      {10, 10, 100},
      {1250000000, 2500000000LL, 50},
      {999999, 1000000, 99},  // no scaling at exactly 1,000,000
      {1999999, 2000000, 99},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.percent, ProgressMonitor::percentOf(c.done, c.total))
        << c.done << "/" << c.total;
  }
}

TEST_F(ProgressMonitorTest, ReportsOnlyRisesAndClampsAtTotal) {
  RecordingEvent ev;
  ProgressMonitor pm(&ev, 200, 1000);
  EXPECT_FALSE(pm.consumeBytes(5, log_));    // 0% -> 0%: no call
  EXPECT_FALSE(pm.consumeBytes(370, log_));  // 37%
  EXPECT_FALSE(pm.consumeBytes(-50, log_));  // negative counts as 0
  EXPECT_FALSE(pm.consumeBytes(5000, log_));
  EXPECT_EQ((std::vector<uint32_t>{37, 100}), ev.percents);
  EXPECT_EQ(1000, pm.amountDone());
}

TEST_F(ProgressMonitorTest, HeartbeatCallsAbortCheckWhenNoRiseIsDue) {
  RecordingEvent ev;
  ProgressMonitor pm(&ev, 200, 1000);
  pm.consumeBytes(370, log_);
  g_now += 200;  // not more than the interval yet
  pm.consumeBytes(1, log_);
  EXPECT_EQ(0, ev.abortChecks);
  g_now += 1;
  pm.consumeBytes(1, log_);
  EXPECT_EQ(1, ev.abortChecks);
  pm.consumeSilently(1, log_);  // heartbeat suppressed
  g_now += 500;
  pm.consumeSilently(1, log_);
  EXPECT_EQ(1, ev.abortChecks);
}

TEST_F(ProgressMonitorTest, PollAbortBeatsAtOnceThenEveryInterval) {
  RecordingEvent ev;
  ProgressMonitor pm(&ev, 200, 1000);
  EXPECT_FALSE(pm.pollAbort());  // last heartbeat tick starts at 0
  EXPECT_EQ(1, ev.abortChecks);
  g_now += 199;
  EXPECT_FALSE(pm.pollAbort());
  EXPECT_EQ(1, ev.abortChecks);
  g_now += 1;
  ev.abortOnCheck = true;
  EXPECT_TRUE(pm.pollAbort());
  EXPECT_EQ(2, ev.abortChecks);
  // Once aborted, no further calls, and consumeBytes keeps reporting rises.
  g_now += 1000;
  EXPECT_TRUE(pm.pollAbort());
  EXPECT_EQ(2, ev.abortChecks);
  EXPECT_TRUE(pm.consumeBytes(500, log_));
  EXPECT_EQ((std::vector<uint32_t>{50}), ev.percents);
}

TEST_F(ProgressMonitorTest, AbortFromPercentDoneStaysUntilReset) {
  RecordingEvent ev;
  ev.abortOnPercent = true;
  ProgressMonitor pm(&ev, 0, 100);
  EXPECT_TRUE(pm.consumeBytes(10, log_));
  EXPECT_TRUE(pm.isAborted());
  pm.progressReset(50, log_);
  EXPECT_FALSE(pm.isAborted());
  EXPECT_EQ(0, pm.amountDone());
  EXPECT_EQ(50, pm.total());
}

TEST_F(ProgressMonitorTest, NoHeartbeatWithZeroInterval) {
  RecordingEvent ev;
  ProgressMonitor pm(&ev, 0, 100);
  g_now += 100000;
  EXPECT_FALSE(pm.pollAbort());
  EXPECT_EQ(0, ev.abortChecks);
}

TEST_F(ProgressMonitorTest, SetAmountDoneAndConsumeRemaining) {
  RecordingEvent ev;
  ProgressMonitor pm(&ev, 0, 200);
  bool abort = true;
  pm.setAmountDone(100, &abort, log_);
  EXPECT_FALSE(abort);
  pm.setAmountDone(50, &abort, log_);  // going back reports nothing
  pm.consumeRemaining(log_);
  EXPECT_EQ((std::vector<uint32_t>{50, 100}), ev.percents);
  EXPECT_EQ(200, pm.amountDone());
}

TEST_F(ProgressMonitorTest, OwnSinkAnswersWithItsAbortFlag) {
  ProgressMonitor pm(nullptr, 0, -5);  // negative total stored as 0
  EXPECT_EQ(0, pm.total());
  EXPECT_FALSE(pm.consumeBytes(1, log_));
}

}  // namespace
}  // namespace sfx
