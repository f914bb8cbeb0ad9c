// Cleanup of what a run created: the undo list is walked backwards so that
// anything created inside a directory goes before the directory itself.
#include "app/undo_list.h"

#include <new>

#include "fs/file.h"
#include "text/ext_ptr_array.h"
#include "text/string_buffer.h"
#include "text/xstring.h"

namespace sfx {

bool appendUndoEntry(ExtPtrArray& list, const char* path, char type) {
  StringBuffer* entry = new (std::nothrow) StringBuffer();
  if (!entry) return false;
  if (!entry->append(path) || !entry->appendChar(type) || !list.append(entry)) {
    delete entry;
    return false;
  }
  return true;
}

namespace {

// Repeats `attempt` while it fails and the retry budget lasts.
template <typename Attempt>
bool withRetries(Attempt attempt, UndoRetry* retry, RunLogFn log,
                 const char* path) {
  if (attempt()) return true;
  while (retry && retry->sleep && retry->stepMs > 0 &&
         retry->budgetMs >= retry->stepMs) {
    retry->sleep(retry->stepMs);
    retry->budgetMs -= retry->stepMs;
    if (log) log("(retryDelete) %s\r\n", path);
    if (attempt()) return true;
  }
  return false;
}

}  // namespace

void processUndoList(ExtPtrArray& list, bool verbose, RunLogFn log,
                     UndoRetry* retry) {
  bool logLines = verbose && log;
  if (log) log("processing undo list...\r\n");
  while (list.getSize() > 0) {
    auto* entry = static_cast<StringBuffer*>(list.pop());
    if (!entry) continue;
    char type = entry->lastChar();
    if (entry->getSize() > 0) entry->shorten(1);
    XString path;
    path.setFromUtf8Sb(*entry);
    if (type == kUndoFile) {
      if (logLines) log("(deleteFile) %s\r\n", entry->getString());
      bool gone = withRetries([&] { return deleteFile(path, nullptr); }, retry,
                              log, entry->getString());
      if (!gone && logLines)
        log("(failedToDelete) %s\r\n", entry->getString());
    } else {
      if (logLines) {
        StringBuffer shown(*entry);
        shown.replaceChar('\\', '/');
        log("(deleteDir) %s\r\n", shown.getString());
      }
      bool gone = withRetries([&] { return removeDirectory(path, nullptr); },
                              retry, log, entry->getString());
      if (!gone && logLines)
        log("(failedToDelete) %s\r\n", entry->getString());
    }
    delete entry;
  }
}

}  // namespace sfx
