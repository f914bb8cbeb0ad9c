// Win32 threads: _beginthreadex (so the C run-time sets up each thread),
// slim reader/writer locks held exclusively, and condition variables.
#include <windows.h>

#include <process.h>

#include <new>

#include "os/thread.h"

namespace sfx {
namespace {

struct Start {
  void (*body)(void*);
  void* arg;
};

unsigned __stdcall threadMain(void* p) {
  Start start = *static_cast<Start*>(p);
  delete static_cast<Start*>(p);
  start.body(start.arg);
  return 0;
}

SRWLOCK* lockOf(unsigned char* storage) {
  return reinterpret_cast<SRWLOCK*>(storage);
}

CONDITION_VARIABLE* conditionOf(unsigned char* storage) {
  return reinterpret_cast<CONDITION_VARIABLE*>(storage);
}

}  // namespace

uint32_t processorCount() {
  DWORD n = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
  if (n == 0) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    n = info.dwNumberOfProcessors;
  }
  return n > 0 ? n : 1;
}

OsThread::~OsThread() { join(); }

bool OsThread::start(void (*body)(void*), void* arg) {
  if (started_) return false;
  Start* s = new (std::nothrow) Start{body, arg};
  if (!s) return false;
  uintptr_t h = _beginthreadex(nullptr, 0, threadMain, s, 0, nullptr);
  if (h == 0) {
    delete s;
    return false;
  }
  handle_ = reinterpret_cast<void*>(h);
  started_ = true;
  return true;
}

void OsThread::join() {
  if (!started_) return;
  WaitForSingleObject(static_cast<HANDLE>(handle_), INFINITE);
  CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
  started_ = false;
}

static_assert(sizeof(SRWLOCK) <= 64, "OsMutex storage");
static_assert(sizeof(CONDITION_VARIABLE) <= 64, "OsCondition storage");

OsMutex::OsMutex() { InitializeSRWLock(lockOf(storage_)); }
OsMutex::~OsMutex() {}
void OsMutex::lock() { AcquireSRWLockExclusive(lockOf(storage_)); }
void OsMutex::unlock() { ReleaseSRWLockExclusive(lockOf(storage_)); }

OsCondition::OsCondition() { InitializeConditionVariable(conditionOf(storage_)); }
OsCondition::~OsCondition() {}

void OsCondition::wait(OsMutex& mutex) {
  SleepConditionVariableSRW(conditionOf(storage_), lockOf(mutex.storage_),
                            INFINITE, 0);
}

void OsCondition::signalOne() { WakeConditionVariable(conditionOf(storage_)); }
void OsCondition::signalAll() {
  WakeAllConditionVariable(conditionOf(storage_));
}

}  // namespace sfx
