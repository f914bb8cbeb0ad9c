// The undo list: what a run created on disk, in creation order, so that it
// can be taken away again newest first. Each entry is an owned StringBuffer
// holding a path followed by one type letter, "F" for a file and anything
// else (normally "D") for a directory.
#ifndef SFX_APP_UNDO_LIST_H_
#define SFX_APP_UNDO_LIST_H_

#include <cstdint>

namespace sfx {

class ExtPtrArray;

// Writes one printf-style run-log line; the launcher's runLog, which writes
// nothing while no run log is open.
using RunLogFn = void (*)(const char* format, ...);

// Type letters of the entries.
constexpr char kUndoFile = 'F';
constexpr char kUndoDir = 'D';

// Appends `path` followed by `type` as a new heap StringBuffer. The list
// must own its objects. Returns false, appending nothing, when memory runs
// out.
bool appendUndoEntry(ExtPtrArray& list, const char* path, char type);

// Empties `list`, newest entry first: a file entry deletes the file, any
// other entry removes the directory if it is empty. Writes "processing undo
// list...\r\n" through `log` (when given) and, when `verbose`, a
// "(deleteFile) %s\r\n" or "(deleteDir) %s\r\n" line per entry (directory
// paths with "/" separators) and "(failedToDelete) %s\r\n" after each
// failure. A failure does not stop the loop. Each entry is destroyed.
//
// With `retry`, a deletion that fails is tried again every retry->stepMs
// milliseconds (a process that the setup step started may still hold the
// file or folder for a moment), each time with a "(retryDelete) %s\r\n"
// line, until it works or retry->budgetMs, shared by the whole list, is
// used up; retry->sleep waits.
struct UndoRetry {
  uint32_t budgetMs;
  uint32_t stepMs;
  void (*sleep)(uint32_t ms);
};
void processUndoList(ExtPtrArray& list, bool verbose, RunLogFn log,
                     UndoRetry* retry = nullptr);

}  // namespace sfx

#endif  // SFX_APP_UNDO_LIST_H_
