// POSIX threads for the native build: pthreads, with the processor count
// taken from the affinity mask.
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <new>

#include "os/thread.h"

namespace sfx {
namespace {

struct Start {
  void (*body)(void*);
  void* arg;
};

void* threadMain(void* p) {
  Start start = *static_cast<Start*>(p);
  delete static_cast<Start*>(p);
  start.body(start.arg);
  return nullptr;
}

pthread_mutex_t* mutexOf(unsigned char* storage) {
  return reinterpret_cast<pthread_mutex_t*>(storage);
}

pthread_cond_t* conditionOf(unsigned char* storage) {
  return reinterpret_cast<pthread_cond_t*>(storage);
}

}  // namespace

uint32_t processorCount() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    int n = CPU_COUNT(&set);
    if (n > 0) return static_cast<uint32_t>(n);
  }
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<uint32_t>(n) : 1;
}

OsThread::~OsThread() { join(); }

bool OsThread::start(void (*body)(void*), void* arg) {
  if (started_) return false;
  Start* s = new (std::nothrow) Start{body, arg};
  pthread_t* t = new (std::nothrow) pthread_t;
  if (!s || !t || pthread_create(t, nullptr, threadMain, s) != 0) {
    delete s;
    delete t;
    return false;
  }
  handle_ = t;
  started_ = true;
  return true;
}

void OsThread::join() {
  if (!started_) return;
  pthread_t* t = static_cast<pthread_t*>(handle_);
  pthread_join(*t, nullptr);
  delete t;
  handle_ = nullptr;
  started_ = false;
}

static_assert(sizeof(pthread_mutex_t) <= 64, "OsMutex storage");
static_assert(sizeof(pthread_cond_t) <= 64, "OsCondition storage");

OsMutex::OsMutex() { pthread_mutex_init(mutexOf(storage_), nullptr); }
OsMutex::~OsMutex() { pthread_mutex_destroy(mutexOf(storage_)); }
void OsMutex::lock() { pthread_mutex_lock(mutexOf(storage_)); }
void OsMutex::unlock() { pthread_mutex_unlock(mutexOf(storage_)); }

OsCondition::OsCondition() { pthread_cond_init(conditionOf(storage_), nullptr); }
OsCondition::~OsCondition() { pthread_cond_destroy(conditionOf(storage_)); }

void OsCondition::wait(OsMutex& mutex) {
  pthread_cond_wait(conditionOf(storage_), mutexOf(mutex.storage_));
}

void OsCondition::signalOne() { pthread_cond_signal(conditionOf(storage_)); }
void OsCondition::signalAll() { pthread_cond_broadcast(conditionOf(storage_)); }

}  // namespace sfx
