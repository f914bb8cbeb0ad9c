// Threads, the mutex and the condition variable: counts that come out
// wrong without mutual exclusion, and a hand-off that hangs without the
// signal.
#include "os/thread.h"

#include <gtest/gtest.h>

namespace sfx {
namespace {

TEST(ThreadTest, ProcessorCountIsAtLeastOne) {
  EXPECT_GE(processorCount(), 1u);
  EXPECT_LE(processorCount(), 4096u);
}

struct Counter {
  OsMutex mutex;
  volatile uint32_t value = 0;
};

void addMany(void* p) {
  Counter* c = static_cast<Counter*>(p);
  for (int i = 0; i < 100000; ++i) {
    OsMutexLock hold(c->mutex);
    // A read and a separate write, so that a missing lock loses updates.
    uint32_t v = c->value;
    c->value = v + 1;
  }
}

TEST(ThreadTest, ThreadsRunAndTheMutexExcludes) {
  Counter c;
  OsThread threads[4];
  for (OsThread& t : threads) ASSERT_TRUE(t.start(addMany, &c));
  for (OsThread& t : threads) {
    EXPECT_TRUE(t.started());
    t.join();
    EXPECT_FALSE(t.started());
  }
  EXPECT_EQ(400000u, c.value);
}

void noop(void*) {}

TEST(ThreadTest, StartTwiceIsRefusedUntilJoined) {
  OsThread t;
  t.join();  // nothing started: no effect
  ASSERT_TRUE(t.start(noop, nullptr));
  EXPECT_FALSE(t.start(noop, nullptr));
  t.join();
  EXPECT_TRUE(t.start(noop, nullptr));
  // The destructor joins the second one.
}

// A ping-pong of 1000 turns between two threads over one condition
// variable: each side waits for its turn, so a lost signal hangs the test.
struct PingPong {
  OsMutex mutex;
  OsCondition changed;
  int turn = 0;  // even: main thread, odd: the other
  int last = 2000;
};

void pong(void* p) {
  PingPong* s = static_cast<PingPong*>(p);
  OsMutexLock hold(s->mutex);
  for (;;) {
    while (s->turn % 2 == 0 && s->turn < s->last) s->changed.wait(s->mutex);
    if (s->turn >= s->last) break;
    ++s->turn;
    s->changed.signalAll();
  }
}

TEST(ThreadTest, ConditionVariableHandsTurnsOver) {
  PingPong s;
  OsThread other;
  ASSERT_TRUE(other.start(pong, &s));
  {
    OsMutexLock hold(s.mutex);
    for (;;) {
      while (s.turn % 2 == 1) s.changed.wait(s.mutex);
      if (s.turn >= s.last) break;
      ++s.turn;
      s.changed.signalOne();
    }
  }
  other.join();
  EXPECT_EQ(2000, s.turn);
}

}  // namespace
}  // namespace sfx
