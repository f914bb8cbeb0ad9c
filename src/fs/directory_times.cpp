#include "fs/directory_times.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "fs/file.h"
#include "text/xstring.h"

namespace sfx {

void DirectoryTimes::remember(const char* path) {
  XString dir;
  dir.setFromUtf8(path);
  MarlithHandle* handle = openDirForTimesWin32(dir, nullptr);
  if (!handle) return;
  Record r;
  bool ok = handle->getLastWriteTime(&r.time, nullptr);
  delete handle;
  size_t length = strlen(path);
  if (!ok || length > UINT32_MAX / 2) return;
  r.length = static_cast<uint32_t>(length);
  for (const char* p = path; *p; ++p) r.depth += *p == '/' || *p == '\\';
  uint32_t before = records_.getSize();
  if (!records_.append(&r, sizeof r) || !records_.append(path, r.length) ||
      !records_.appendByte(0)) {
    records_.shorten(records_.getSize() - before);
  }
}

void DirectoryTimes::restore() {
  uint32_t count = 0;
  for (uint32_t at = 0; at < records_.getSize(); at = next(at)) ++count;
  // Keys of (inverted depth, offset): sorted, the deepest come first and keep
  // extraction order within a depth. Without memory for the keys the times
  // are set in extraction order, which gives the same times on the systems
  // we know (setting a directory's time leaves its parent's alone).
  uint64_t* keys = new (std::nothrow) uint64_t[count ? count : 1];
  uint32_t n = 0;
  for (uint32_t at = 0; at < records_.getSize(); at = next(at), ++n) {
    if (keys) keys[n] = static_cast<uint64_t>(~record(at).depth) << 32 | at;
    else setAt(at);
  }
  if (keys) {
    std::sort(keys, keys + n);
    for (uint32_t i = 0; i < n; ++i) setAt(static_cast<uint32_t>(keys[i]));
    delete[] keys;
  }
  records_.clear();
}

void DirectoryTimes::setAt(uint32_t at) const {
  XString dir;
  dir.setFromUtf8(
      reinterpret_cast<const char*>(records_.getDataAt(at + sizeof(Record))));
  setDirectoryTime(dir, record(at).time, nullptr);
}

uint32_t DirectoryTimes::next(uint32_t at) const {
  return at + sizeof(Record) + record(at).length + 1;
}

DirectoryTimes::Record DirectoryTimes::record(uint32_t at) const {
  Record r;
  memcpy(&r, records_.getDataAt(at), sizeof r);
  return r;
}

}  // namespace sfx
