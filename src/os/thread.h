// Threads for the portable core: start and join a thread running a function,
// a mutex, a condition variable and the processor count. thread_win32.cpp
// (_beginthreadex, SRWLOCK, CONDITION_VARIABLE) and thread_posix.cpp
// (pthreads) implement it; no C++ library threads, so the stub stays small.
#ifndef SFX_OS_THREAD_H_
#define SFX_OS_THREAD_H_

#include <cstdint>

namespace sfx {

// The processors this process may run on (at least 1).
uint32_t processorCount();

// One thread of the process. Not copyable; the object must outlive the
// thread, and the destructor joins a thread still running.
class OsThread {
 public:
  OsThread() = default;
  ~OsThread();
  OsThread(const OsThread&) = delete;
  OsThread& operator=(const OsThread&) = delete;

  // Starts `body(arg)` on a new thread. False when the OS refuses or a
  // thread was started already and not joined; nothing runs then.
  bool start(void (*body)(void*), void* arg);
  // Waits until the thread's body has returned. Does nothing when no
  // thread is running.
  void join();
  bool started() const { return started_; }

 private:
  bool started_ = false;
  void* handle_ = nullptr;  // HANDLE, or a heap pthread_t
};

// A non-recursive mutex. The storage is opaque here and holds an SRWLOCK or
// a pthread_mutex_t.
class OsMutex {
 public:
  OsMutex();
  ~OsMutex();
  OsMutex(const OsMutex&) = delete;
  OsMutex& operator=(const OsMutex&) = delete;

  void lock();
  void unlock();

 private:
  friend class OsCondition;
  alignas(16) unsigned char storage_[64];
};

// Holds a mutex for its lifetime.
class OsMutexLock {
 public:
  explicit OsMutexLock(OsMutex& mutex) : mutex_(mutex) { mutex_.lock(); }
  ~OsMutexLock() { mutex_.unlock(); }
  OsMutexLock(const OsMutexLock&) = delete;
  OsMutexLock& operator=(const OsMutexLock&) = delete;

 private:
  OsMutex& mutex_;
};

// A condition variable used with one OsMutex. wait() may return without a
// signal, so callers wait in a loop over their condition.
class OsCondition {
 public:
  OsCondition();
  ~OsCondition();
  OsCondition(const OsCondition&) = delete;
  OsCondition& operator=(const OsCondition&) = delete;

  // Releases `mutex` (held by the caller), sleeps until signalled and takes
  // the mutex again before returning.
  void wait(OsMutex& mutex);
  void signalOne();
  void signalAll();

 private:
  alignas(16) unsigned char storage_[64];
};

}  // namespace sfx

#endif  // SFX_OS_THREAD_H_
