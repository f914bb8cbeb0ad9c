#include "pack/packer.h"

#include <dirent.h>
#include <fcntl.h>
#include <libdeflate.h>
#include <stdlib.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "archive/integrity_record.h"
#include "archive/payload_format.h"
#include "codec/aes.h"
#include "codec/crc32.h"
#include "codec/kdf.h"
#include "log/log_base.h"
#include "pack/payload_writer.h"
#include "text/data_buffer.h"
#include "text/string_buffer.h"

namespace fs = std::filesystem;

namespace sfxpack {

uint64_t localFileTimeOf(const struct stat& st) {
  constexpr int64_t kUnixEpoch = 116444736000000000LL;
  constexpr int64_t kFirst = -11644473600LL;  // 1601-01-01
  constexpr int64_t kLast =
      (static_cast<int64_t>(kMaxStoredFileTime) - kUnixEpoch) / 10000000LL;
  time_t t = st.st_mtim.tv_sec;
  struct tm local;
  long offset = localtime_r(&t, &local) ? local.tm_gmtoff : 0;
  int64_t secs = 0;
  if (__builtin_add_overflow(static_cast<int64_t>(t), offset, &secs))
    secs = t < 0 ? kFirst : kLast;
  // Before 1601 or past the latest FILETIME: the nearest time there is.
  if (secs < kFirst) return 0;
  if (secs >= kLast) return kMaxStoredFileTime;
  return static_cast<uint64_t>(kUnixEpoch + secs * 10000000LL +
                               st.st_mtim.tv_nsec / 100);
}

// The time stored for `st` when SOURCE_DATE_EPOCH is `epoch`: clamped to
// it and taken as UTC wall-clock time, the same in every time zone.
uint64_t clampedFileTimeOf(const struct stat& st, int64_t epoch) {
  constexpr uint64_t kUnixEpoch = 116444736000000000ULL;
  int64_t secs = st.st_mtim.tv_sec;
  int64_t hundredNs = st.st_mtim.tv_nsec / 100;
  if (secs >= epoch) {
    secs = epoch;
    hundredNs = 0;
  }
  if (secs < -11644473600LL) secs = -11644473600LL;  // before 1601: clamp
  return static_cast<uint64_t>(static_cast<int64_t>(kUnixEpoch) +
                               secs * 10000000LL + hundredNs);
}

namespace {

// Encrypts one piece on its own, as every name, chunk and the verifier are,
// under the key derived once for the payload; under the salted scheme with
// the vector of the piece's place (entry and piece number).
class PieceCipher {
 public:
  PieceCipher(const sfx::DataBuffer& key, int keyBits,
              const sfx::KdfSettings* kdf)
      : kdf_(kdf) {
    cipher_.setKeyLength(static_cast<uint32_t>(keyBits));
    ok_ = key.getSize() > 0 && cipher_.setKey(key);
  }
  bool ok() const { return ok_; }
  bool encrypt(const uint8_t* in, size_t n, uint32_t entry, uint32_t piece,
               std::vector<uint8_t>* out) {
    sfx::DataBuffer plain, cipherText;
    sfx::LogNull log;
    if ((kdf_ && !sfx::setPieceIv(cipher_, *kdf_, entry, piece)) ||
        !plain.append(in, static_cast<uint32_t>(n)) ||
        !cipher_.encryptBuffer(plain, cipherText, log)) {
      return false;
    }
    out->assign(cipherText.getData(),
                cipherText.getData() + cipherText.getSize());
    return true;
  }

 private:
  sfx::AesCipher cipher_;
  const sfx::KdfSettings* kdf_;
  bool ok_ = false;
};

// File data read for one chunk. Unlike a vector's, the bytes are not
// zeroed before the read overwrites them.
struct Buffer {
  std::unique_ptr<uint8_t[]> data;
  size_t capacity = 0;
  size_t size = 0;  // bytes read into it
};

// One record of the output, in order. Chunk records are filled by workers.
struct Item {
  bool ready = false;
  bool failed = false;
  std::vector<uint8_t> bytes;  // the encoded record
  Buffer input;                // chunk input, given back once encoded
  uint32_t entry = 0;          // the chunk's place, for its vector
  uint32_t piece = 0;
  size_t cost = 0;             // bytes it counts against the in-flight bound
};

// Chunks go to the workers in batches of up to this many items or bytes, so
// that many small files do not wake a worker (and the writer) for each one;
// a batch goes out before it is full when a worker waits for work.
constexpr size_t kBatchItems = 32;
constexpr size_t kBatchBytes = 256 * 1024;
// Small records are gathered into writes of about this many bytes.
constexpr size_t kWriteBytes = 1 << 20;

class Pipeline {
 public:
  // `kdf` (null for the earlier scheme) must outlive the pipeline. The key
  // is derived here, once for every thread.
  Pipeline(const PackOptions& opts, FILE* out, const sfx::KdfSettings* kdf)
      : opts_(opts),
        out_(out),
        encrypted_(!opts.password.empty()),
        chunkSize_(std::max<size_t>(opts.chunkSize, 1)),
        kdf_(kdf) {
    if (encrypted_ &&
        !sfx::deriveArchiveKey(opts.password.data(),
                               static_cast<uint32_t>(opts.password.size()),
                               kdf, static_cast<uint32_t>(opts.keyBits), key_))
      key_.secureClear();
    unsigned n =
        opts.threads ? opts.threads : std::thread::hardware_concurrency();
    n = std::max(1u, n);
    // Many small files make many small records: the bound is on the bytes
    // in flight (four chunks per thread, as memory goes), with a generous
    // record count beside it, so that small files keep every thread busy.
    maxBytesInFlight_ = 4 * n * chunkSize_;
    maxRecordsInFlight_ = 1024 * n;
    pendingOut_.reserve(kWriteBytes);
    for (unsigned i = 0; i < n; ++i) workers_.emplace_back([this] { work(); });
  }

  ~Pipeline() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      publishLocked();
      stopping_ = true;
    }
    jobReady_.notify_all();
    for (std::thread& t : workers_) t.join();
  }

  // Queues a record whose bytes are known now.
  bool addRecord(std::vector<uint8_t> bytes, std::string* error) {
    if (!drain(maxRecordsInFlight_, maxBytesInFlight_, error)) return false;
    auto item = std::make_shared<Item>();
    item->bytes = std::move(bytes);
    item->cost = item->bytes.size();
    item->ready = true;
    std::lock_guard<std::mutex> lock(mu_);
    pendingCost_ += item->cost;
    pending_.push_back(std::move(item));
    return true;
  }

  // A buffer for reading `want` bytes (at least 1) of a chunk: one of the
  // chunk-sized buffers that encoded chunks gave back when the read is a
  // large part of a chunk, else one of its own size. Empty when memory ran
  // out.
  Buffer takeBuffer(size_t want) {
    Buffer b;
    if (want >= chunkSize_ / 4) {
      {
        std::lock_guard<std::mutex> lock(mu_);
        if (!spare_.empty()) {
          b = std::move(spare_.back());
          spare_.pop_back();
          return b;
        }
      }
      want = chunkSize_;
    }
    b.data.reset(new (std::nothrow) uint8_t[want]);
    if (b.data) b.capacity = want;
    return b;
  }

  // Queues a chunk for compression; writes finished records first when too
  // many are in flight, which bounds the memory used.
  bool addChunk(Buffer input, uint32_t entry, uint32_t piece,
                std::string* error) {
    if (!drain(maxRecordsInFlight_, maxBytesInFlight_, error)) return false;
    auto item = std::make_shared<Item>();
    item->entry = entry;
    item->piece = piece;
    item->cost = input.capacity;
    batchBytes_ += input.size;
    item->input = std::move(input);
    std::lock_guard<std::mutex> lock(mu_);
    pendingCost_ += item->cost;
    pending_.push_back(item);
    batch_.push_back(std::move(item));
    if (batch_.size() >= kBatchItems || batchBytes_ >= kBatchBytes ||
        (idleWorkers_ > 0 && jobs_.empty()))
      publishLocked();
    return true;
  }

  // Writes every record still queued.
  bool finish(std::string* error) { return drain(0, 0, error) && flush(error); }

  uint64_t written() const { return written_; }

  // Encrypts a piece on the calling thread (names, the verifier, the
  // integrity record).
  bool encryptPiece(const uint8_t* in, size_t n, uint32_t entry,
                    uint32_t piece, std::vector<uint8_t>* out) {
    if (!mainCipher_)
      mainCipher_ = std::make_unique<PieceCipher>(key_, opts_.keyBits, kdf_);
    return mainCipher_->ok() && mainCipher_->encrypt(in, n, entry, piece, out);
  }

 private:
  // Hands the chunks queued since the last call to the workers. mu_ held.
  void publishLocked() {
    if (batch_.empty()) return;
    jobs_.push_back(std::move(batch_));
    batch_.clear();
    batchBytes_ = 0;
    if (idleWorkers_ > 0) jobReady_.notify_one();
  }

  // Writes records from the front while more than `keepRecords` records or
  // more than `keepBytes` bytes are queued.
  bool drain(size_t keepRecords, size_t keepBytes, std::string* error) {
    for (;;) {
      std::shared_ptr<Item> front;
      {
        std::unique_lock<std::mutex> lock(mu_);
        if (pending_.size() <= keepRecords && pendingCost_ <= keepBytes)
          return true;
        front = pending_.front();
        if (!front->ready) {
          publishLocked();  // the record may wait in the unpublished batch
          awaited_ = front.get();
          itemDone_.wait(lock, [&] { return front->ready; });
          awaited_ = nullptr;
        }
        pending_.pop_front();
        pendingCost_ -= front->cost;
      }
      if (front->failed) {
        *error = "cannot compress or encrypt a chunk (out of memory)";
        return false;
      }
      if (!put(front->bytes, error)) return false;
    }
  }

  // Appends a record to the output, through a buffer that gathers small
  // records into large writes.
  bool put(const std::vector<uint8_t>& bytes, std::string* error) {
    bool direct = bytes.size() >= kWriteBytes / 2;
    if ((direct || pendingOut_.size() + bytes.size() > kWriteBytes) &&
        !flush(error))
      return false;
    if (direct) {
      if (fwrite(bytes.data(), 1, bytes.size(), out_) != bytes.size()) {
        *error = std::string("write failed: ") + strerror(errno);
        return false;
      }
    } else {
      pendingOut_.insert(pendingOut_.end(), bytes.begin(), bytes.end());
    }
    written_ += bytes.size();
    return true;
  }

  bool flush(std::string* error) {
    if (!pendingOut_.empty() &&
        fwrite(pendingOut_.data(), 1, pendingOut_.size(), out_) !=
            pendingOut_.size()) {
      *error = std::string("write failed: ") + strerror(errno);
      return false;
    }
    pendingOut_.clear();
    return true;
  }

  void work() {
    libdeflate_compressor* c =
        libdeflate_alloc_compressor(std::max(1, opts_.level));
    std::unique_ptr<PieceCipher> cipher;
    if (encrypted_)
      cipher = std::make_unique<PieceCipher>(key_, opts_.keyBits, kdf_);
    std::vector<uint8_t> packed;
    std::vector<std::shared_ptr<Item>> batch;
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
      ++idleWorkers_;
      jobReady_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
      --idleWorkers_;
      if (jobs_.empty()) break;
      batch = std::move(jobs_.front());
      jobs_.pop_front();
      // Another batch may be waiting for a worker that sleeps.
      if (!jobs_.empty() && idleWorkers_ > 0) jobReady_.notify_one();
      lock.unlock();
      for (const std::shared_ptr<Item>& item : batch)
        item->failed =
            !encode(c, cipher.get(), *item, &packed, &item->bytes);
      lock.lock();
      bool wake = false;
      for (const std::shared_ptr<Item>& item : batch) {
        item->ready = true;
        wake = wake || item.get() == awaited_;
        if (item->input.capacity == chunkSize_)
          spare_.push_back(std::move(item->input));
        item->input = Buffer();
      }
      batch.clear();
      if (wake) itemDone_.notify_one();
    }
    lock.unlock();
    libdeflate_free_compressor(c);
  }

  // Deflates one chunk, keeps it stored when that does not shrink it (or
  // when its bytes show that deflating would not), encrypts it when asked,
  // and encodes the chunk record.
  bool encode(libdeflate_compressor* c, PieceCipher* cipher, const Item& item,
              std::vector<uint8_t>* packed, std::vector<uint8_t>* record) {
    const Buffer& in = item.input;
    bool stored = true;
    const uint8_t* body = in.data.get();
    size_t bodySize = in.size;
    if (c && opts_.level > 0 && bodySize > 0 &&
        !deflateCannotShrink(body, bodySize)) {
      if (packed->size() < bodySize) packed->resize(bodySize);
      size_t n = libdeflate_deflate_compress(c, body, bodySize, packed->data(),
                                             bodySize - 1);
      if (n > 0) {
        stored = false;
        body = packed->data();
        bodySize = n;
      }
    }
    std::vector<uint8_t> sealed;
    if (cipher) {
      if (!cipher->ok() ||
          !cipher->encrypt(body, bodySize, item.entry, item.piece, &sealed))
        return false;
      body = sealed.data();
      bodySize = sealed.size();
    }
    PayloadWriter w;
    w.AddChunk(stored, body, bodySize);
    *record = w.takeBytes();
    return true;
  }

  const PackOptions& opts_;
  FILE* out_;
  bool encrypted_;
  size_t chunkSize_;
  const sfx::KdfSettings* kdf_;
  sfx::DataBuffer key_;  // empty when not encrypted (or out of memory)
  size_t maxBytesInFlight_;
  size_t maxRecordsInFlight_;
  std::vector<std::thread> workers_;
  std::mutex mu_;
  std::condition_variable jobReady_, itemDone_;
  // Guarded by mu_:
  size_t pendingCost_ = 0;  // sum of the queued records' costs
  std::deque<std::shared_ptr<Item>> pending_;  // every record, in order
  std::deque<std::vector<std::shared_ptr<Item>>> jobs_;  // batches not taken
  std::vector<std::shared_ptr<Item>> batch_;  // chunks not yet published
  std::vector<Buffer> spare_;                 // chunk-sized buffers to reuse
  const Item* awaited_ = nullptr;             // the record the writer waits for
  unsigned idleWorkers_ = 0;
  bool stopping_ = false;
  // The writer's (the calling thread's) own:
  size_t batchBytes_ = 0;
  std::vector<uint8_t> pendingOut_;
  uint64_t written_ = 0;
  std::unique_ptr<PieceCipher> mainCipher_;
};

struct FileCloser {
  int fd;
  ~FileCloser() { close(fd); }
};

// Reads up to `want` bytes into `buf`, fewer only at the end of the file.
// Returns false (errno set) when a read fails.
bool readUpTo(int fd, uint8_t* buf, size_t want, size_t* got) {
  *got = 0;
  while (*got < want) {
    ssize_t r = read(fd, buf + *got, want - *got);
    if (r < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (r == 0) break;
    *got += static_cast<size_t>(r);
  }
  return true;
}

// Writes the entries of a plan through the pipeline.
struct Writer {
  const PackOptions& opts;
  Pipeline& pipe;
  PackStats& stats;
  uint64_t totalBytes = 0;
  uint64_t doneBytes = 0;
  bool encrypted;
  // The integrity record's rows, one per entry of the plan in its order
  // (names, types, times and attributes known before the data is read);
  // each file's size and CRC-32 are filled in as it is written.
  IntegrityTable* table = nullptr;
  size_t nextRow = 0;
  uint32_t entryNumber = 0;  // entry records written so far

  bool storedName(const std::string& name, std::string* out,
                  std::string* error) {
    if (!encrypted) {
      *out = name;
    } else {
      std::vector<uint8_t> c;
      if (!pipe.encryptPiece(reinterpret_cast<const uint8_t*>(name.data()),
                             name.size(), entryNumber, sfx::kPieceName, &c)) {
        *error = "cannot encrypt an entry name";
        return false;
      }
      out->assign(c.begin(), c.end());
    }
    if (out->size() > 65535) {
      *error = "entry name too long (at most 65535 bytes): '" +
               name.substr(0, 60) + "...'";
      return false;
    }
    return true;
  }

  bool addDirectory(const PackEntry& e, const std::string& name,
                    std::string* error) {
    std::string stored;
    if (!storedName(name, &stored, error)) return false;
    PayloadWriter w;
    w.AddDirectory(stored, e.fileTime,
                   sfx::kAttrDirectory | (e.hidden ? sfx::kAttrHidden : 0));
    ++stats.directories;
    ++nextRow;
    ++entryNumber;
    return pipe.addRecord(w.takeBytes(), error);
  }

  bool addFile(const PackEntry& e, const std::string& name,
               std::string* error) {
    std::string stored;
    if (!storedName(name, &stored, error)) return false;
    int fd = open(e.source.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      *error = "cannot read '" + e.source + "': " + strerror(errno);
      return false;
    }
    FileCloser closer{fd};
    PayloadWriter head;
    head.AddFileHead(stored, e.fileTime,
                     sfx::kAttrArchive | (e.hidden ? sfx::kAttrHidden : 0));
    if (!pipe.addRecord(head.takeBytes(), error)) return false;
    // Reads sized by what the file still holds (one byte more, to see its
    // end without another read), not by the chunk size: small files are many.
    uint64_t left = e.size;
    uint32_t chunkIndex = 0;
    uint32_t crcState = 0xFFFFFFFFu;
    uint64_t size = 0;
    for (;;) {
      size_t want =
          static_cast<size_t>(std::min<uint64_t>(opts.chunkSize, left + 1));
      if (want == 0) break;
      Buffer chunk = pipe.takeBuffer(want);
      if (!chunk.data) {
        *error = "cannot read '" + e.source + "': out of memory";
        return false;
      }
      size_t n;
      if (!readUpTo(fd, chunk.data.get(), want, &n)) {
        *error = "error reading '" + e.source + "': " + strerror(errno);
        return false;
      }
      if (n == 0) break;
      chunk.size = n;
      crcState = sfx::ZipCRC::updateState(crcState, chunk.data.get(), n);
      size += n;
      stats.bytesIn += n;
      doneBytes += n;
      left = left > n ? left - n : 0;
      if (!pipe.addChunk(std::move(chunk), entryNumber,
                         sfx::chunkPiece(chunkIndex++), error))
        return false;
      if (opts.progress) opts.progress(doneBytes, totalBytes);
      if (n < want) break;
    }
    if (table) {
      IntegrityTable::Row& row = table->rows()[nextRow];
      row.size = size;
      row.crc = size ? ~crcState : 0;
    }
    ++nextRow;
    ++entryNumber;
    PayloadWriter end;
    end.AddChunkEnd();
    ++stats.files;
    return pipe.addRecord(end.takeBytes(), error);
  }
};

// Walks the inputs into a plan.
struct Scanner {
  const PackOptions& opts;
  PackPlan& plan;
  std::vector<std::string>& notes;
  std::vector<std::string> refused;  // links that cannot be stored
  std::string rootReal;              // the real path of the current input
  std::vector<std::string> walking;  // real paths of the directories open
  bool haveOutput = false;           // opts.output exists: its identity
  dev_t outputDevice = 0;
  ino_t outputInode = 0;

  bool isOutput(const struct stat& st) const {
    return haveOutput && st.st_dev == outputDevice && st.st_ino == outputInode;
  }

  // False with *error set when the file cannot be opened for reading.
  static bool readable(const std::string& path, std::string* error) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
      *error = "cannot read '" + path + "': " + strerror(errno);
      return false;
    }
    close(fd);
    return true;
  }

  static std::string realPath(const std::string& path) {
    char* r = realpath(path.c_str(), nullptr);
    if (!r) return "";
    std::string out = r;
    free(r);
    return out;
  }
  static bool isWithin(const std::string& path, const std::string& dir) {
    return path == dir || dir == "/" ||
           (path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 &&
            path[dir.size()] == '/');
  }

  size_t add(const std::string& source, const std::string& leaf,
             size_t parent, const struct stat& st) {
    PackEntry e;
    e.source = source;
    e.isDirectory = S_ISDIR(st.st_mode);
    e.size = e.isDirectory || st.st_size < 0 ? 0
                                              : static_cast<uint64_t>(st.st_size);
    e.fileTime = opts.sourceDateEpoch >= 0
                     ? clampedFileTimeOf(st, opts.sourceDateEpoch)
                     : localFileTimeOf(st);
    e.hidden = opts.hiddenDotfiles && !leaf.empty() && leaf[0] == '.';
    plan.totalBytes += e.size;
    plan.entries.push_back(e);
    plan.names.push_back(NameNode{parent, leaf, source});
    return plan.entries.size() - 1;
  }

  // A directory's child, as listed: its name and what lstat says of it.
  struct Child {
    std::string leaf;
    struct stat st;
  };

  // The children of a directory, sorted by name, each looked up through the
  // directory's descriptor (no walk of the whole path for each). The
  // directory is closed again before its subdirectories are walked.
  static bool children(const std::string& dir, std::vector<Child>* out,
                       std::string* error) {
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* d = fd < 0 ? nullptr : fdopendir(fd);
    if (!d) {
      *error = "cannot list '" + dir + "': " + strerror(errno);
      if (fd >= 0) close(fd);
      return false;
    }
    std::unique_ptr<DIR, int (*)(DIR*)> closer(d, closedir);
    errno = 0;
    while (const struct dirent* ent = readdir(d)) {
      const char* name = ent->d_name;
      if (strcmp(name, ".") != 0 && strcmp(name, "..") != 0)
        out->push_back(Child{name, {}});
      errno = 0;
    }
    if (errno != 0) {
      *error = "cannot list '" + dir + "': " + strerror(errno);
      return false;
    }
    std::sort(out->begin(), out->end(),
              [](const Child& x, const Child& y) { return x.leaf < y.leaf; });
    for (Child& c : *out) {
      if (fstatat(fd, c.leaf.c_str(), &c.st, AT_SYMLINK_NOFOLLOW) != 0) {
        *error =
            "cannot read '" + joinPath(dir, c.leaf) + "': " + strerror(errno);
        return false;
      }
    }
    return true;
  }

  // True when opts.exclude leaves out `leaf` below node `parent` (a link
  // counts as a folder when it leads to one).
  bool excluded(const std::string& leaf, size_t parent, const std::string& path,
                const struct stat& st) {
    if (!opts.exclude) return false;
    bool isDirectory = S_ISDIR(st.st_mode);
    struct stat target;
    if (S_ISLNK(st.st_mode))
      isDirectory = stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
    std::string stored =
        parent == kNoParent ? leaf : storedPath(plan.names, parent) + "/" + leaf;
    return opts.exclude(stored, isDirectory);
  }

  // dir/leaf, without a second slash when dir ends in one.
  static std::string joinPath(const std::string& dir, const std::string& leaf) {
    if (!dir.empty() && dir.back() == '/') return dir + leaf;
    return dir + "/" + leaf;
  }

  bool addTree(const std::string& dir, const std::string& real, size_t parent,
               std::string* error) {
    std::vector<Child> list;
    if (!children(dir, &list, error)) return false;
    walking.push_back(real);
    for (Child& c : list) {
      const std::string& leaf = c.leaf;
      const std::string child = joinPath(dir, leaf);
      struct stat& st = c.st;
      std::string childReal = real + "/" + leaf;
      if (excluded(leaf, parent, child, st)) continue;
      if (S_ISLNK(st.st_mode)) {
        childReal = realPath(child);
        if (childReal.empty() || stat(child.c_str(), &st) != 0) {
          refused.push_back(child +
                            ": symbolic link to nothing (its target does not "
                            "exist)");
          continue;
        }
        if (!opts.followLinks && !isWithin(childReal, rootReal)) {
          refused.push_back(child + ": symbolic link to '" + childReal +
                            "', outside the packed folder (--follow-links "
                            "stores it)");
          continue;
        }
        if (S_ISDIR(st.st_mode) &&
            std::any_of(walking.begin(), walking.end(),
                        [&](const std::string& w) {
                          return isWithin(w, childReal);
                        })) {
          refused.push_back(child + ": symbolic link to '" + childReal +
                            "', a folder that holds it (a loop)");
          continue;
        }
      }
      if (S_ISDIR(st.st_mode)) {
        size_t me = add(child, leaf, parent, st);
        if (!addTree(child, childReal, me, error)) return false;
      } else if (S_ISREG(st.st_mode) && isOutput(st)) {
        notes.push_back("leaving out '" + child + "': it is the output");
      } else if (S_ISREG(st.st_mode)) {
        if (!readable(child, error)) return false;
        add(child, leaf, parent, st);
      } else {
        notes.push_back("skipping '" + child + "': not a regular file");
      }
    }
    walking.pop_back();
    return true;
  }

  bool addInput(const std::string& input, std::string* error) {
    struct stat st;
    if (stat(input.c_str(), &st) != 0) {
      *error = "cannot read '" + input + "': " + strerror(errno);
      return false;
    }
    if (S_ISDIR(st.st_mode)) {
      rootReal = realPath(input);
      walking.clear();
      return addTree(input, rootReal, kNoParent, error);
    }
    if (!S_ISREG(st.st_mode)) {
      *error = "cannot store '" + input + "': not a regular file or folder";
      return false;
    }
    std::string leaf = fs::path(input).filename().string();
    if (excluded(leaf, kNoParent, input, st)) return true;
    if (isOutput(st)) {
      *error = "'" + input + "' is the output '" + opts.output +
               "': an input cannot be replaced by the executable";
      return false;
    }
    if (!readable(input, error)) return false;
    add(input, leaf, kNoParent, st);
    return true;
  }
};

// The judgement behind storing a chunk without deflating it. Deflate saves
// bytes in two ways: shorter codes for frequent bytes, and references to
// strings seen up to 32 KiB before. Neither pays when every piece of about
// 16 KiB has a near-flat byte histogram and hardly any 4-byte string recurs
// within 32 KiB, as in compressed or encrypted data.
constexpr size_t kProbeMinBytes = 4096;  // smaller chunks are always tried
constexpr size_t kProbePieceBytes = 16384;
// Bits a byte that a piece's histogram must show. Random bytes give 8 with
// a spread of about 0.002 at this piece size; the compressed streams of
// gzip files give 7.99 and more; text and machine code give 4 to 6.5.
constexpr double kFlatBits = 7.98;
// Repeated 4-byte strings found (at most one a position) that still let a
// chunk count as incompressible: one for every 1,024 bytes.
constexpr size_t kRepeatsPerByteShift = 10;
constexpr int kProbeHashBits = 14;  // a 32 KiB table of 16-bit positions

// True when the order-0 entropy of `n` bytes (n > 0), with the Miller-Madow
// correction for the sample's size ((used - 1) / (2 n ln 2) bits, which
// the plain estimate falls short by), reaches kFlatBits.
bool flatHistogram(const uint8_t* p, size_t n) {
  uint32_t count[4][256] = {};  // four tables, so that runs do not stall
  size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    ++count[0][p[i]];
    ++count[1][p[i + 1]];
    ++count[2][p[i + 2]];
    ++count[3][p[i + 3]];
  }
  for (; i < n; ++i) ++count[0][p[i]];
  double sum = 0;  // of c log2 c
  int used = 0;
  for (int b = 0; b < 256; ++b) {
    uint32_t c = count[0][b] + count[1][b] + count[2][b] + count[3][b];
    if (c == 0) continue;
    ++used;
    sum += c * std::log2(static_cast<double>(c));
  }
  double total = static_cast<double>(n);
  double bits = std::log2(total) - sum / total;
  return bits + (used - 1) / (2 * total * M_LN2) >= kFlatBits;
}

// Counts the positions whose next 4 bytes occurred at most 32 KiB before,
// as far as a hash table of the latest position for each hash finds them.
size_t repeatedStrings(const uint8_t* p, size_t n) {
  uint16_t latest[1 << kProbeHashBits] = {};  // position modulo 65,536
  size_t found = 0;
  for (size_t i = 1; i + 4 <= n; ++i) {
    uint32_t v;
    memcpy(&v, p + i, 4);
    uint32_t h = (v * 2654435761u) >> (32 - kProbeHashBits);
    size_t distance = (i - latest[h]) & 0xFFFF;
    if (distance != 0 && distance <= 32768 && distance <= i) {
      uint32_t w;
      memcpy(&w, p + i - distance, 4);
      found += w == v;
    }
    latest[h] = static_cast<uint16_t>(i);
  }
  return found;
}

}  // namespace

bool deflateCannotShrink(const uint8_t* data, size_t size) {
  if (size < kProbeMinBytes) return false;
  for (size_t at = 0; at < size;) {
    size_t piece = size - at;
    if (piece >= 2 * kProbePieceBytes) piece = kProbePieceBytes;
    if (!flatHistogram(data + at, piece)) return false;
    at += piece;
  }
  return repeatedStrings(data, size) <= size >> kRepeatsPerByteShift;
}

uint8_t keyLengthCode(int keyBits) {
  return keyBits == 128 ? 0 : (keyBits == 192 ? 1 : 2);
}

bool scanInputs(const PackOptions& opts, PackPlan* plan,
                std::vector<std::string>* notes, std::string* error) {
  *plan = PackPlan();
  Scanner scanner{opts, *plan, *notes, {}, "", {}};
  struct stat out;
  if (!opts.output.empty() && stat(opts.output.c_str(), &out) == 0) {
    scanner.haveOutput = true;
    scanner.outputDevice = out.st_dev;
    scanner.outputInode = out.st_ino;
  }
  for (const std::string& input : opts.inputs) {
    if (!scanner.addInput(input, error)) return false;
  }
  if (!scanner.refused.empty()) {
    error->clear();
    for (const std::string& line : scanner.refused) {
      if (!error->empty()) *error += "\n";
      *error += line;
    }
    *plan = PackPlan();
    return false;
  }
  return true;
}

bool writePayload(const PackOptions& opts, const PackPlan& plan, FILE* out,
                  PackStats* stats, std::string* error) {
  *stats = PackStats();
  bool encrypted = !opts.password.empty();
  auto args = opts.args;
  // The salted scheme: a fresh salt for every payload, named by the kdf
  // argument, which goes before the integrity record's.
  sfx::KdfSettings kdf;
  const bool salted = encrypted && !opts.legacyEncryption;
  if (salted) {
    kdf.iterations = opts.kdfIterations;
    if (getrandom(kdf.salt, sizeof kdf.salt, 0) !=
        static_cast<ssize_t>(sizeof kdf.salt)) {
      *error = std::string("cannot draw a random salt: ") + strerror(errno);
      return false;
    }
    sfx::StringBuffer value;
    if (!sfx::formatKdfArg(kdf, value)) {
      *error = "cannot encode the key-derivation argument (out of memory)";
      return false;
    }
    args.emplace_back(sfx::kKdfArg, value.getString());
  }
  Pipeline pipe(opts, out, salted ? &kdf : nullptr);
  const long start = ftell(out);

  // The integrity record goes last in the argument block. Its size is known
  // before any data is read (from the plan's names), so its place is held
  // by zero bytes and filled in once every entry was written.
  IntegrityTable table;
  size_t recordBytes = 0;
  if (opts.integrity) {
    for (size_t i = 0; i < plan.entries.size(); ++i) {
      const PackEntry& e = plan.entries[i];
      IntegrityTable::Row row;
      if (e.isDirectory) row.type = sfx::kEntryDirectory;
      row.name = storedPath(plan.names, i);
      row.fileTime = e.fileTime;
      row.attributes =
          (e.isDirectory ? sfx::kAttrDirectory : sfx::kAttrArchive) |
          (e.hidden ? sfx::kAttrHidden : 0);
      table.Add(row);
    }
    recordBytes = table.EncodedSize();
    if (encrypted) recordBytes = (recordBytes / 16 + 1) * 16;  // padding
    auto pieces = IntegrityArgs(std::vector<uint8_t>(recordBytes, 0));
    if (args.size() + pieces.size() > kMaxArgs ||
        pieces.size() > static_cast<size_t>(sfx::kIntegrityMaxPieces)) {
      *error = "the integrity record of " + std::to_string(table.rows().size()) +
               " entries needs " + std::to_string(pieces.size()) +
               " arguments; at most " +
               std::to_string(sfx::kIntegrityMaxPieces) +
               " fit, and with the others at most " + std::to_string(kMaxArgs) +
               " (use --no-integrity)";
      return false;
    }
    args.insert(args.end(), pieces.begin(), pieces.end());
  }
  PayloadWriter head;
  head.BeginPayload(encrypted, keyLengthCode(opts.keyBits));
  const size_t argsOffset = head.bytes().size();
  if (!head.AddArgs(args, error)) return false;
  if (encrypted) {
    std::vector<uint8_t> verifier;
    if (!pipe.encryptPiece(reinterpret_cast<const uint8_t*>(sfx::kVerifierText),
                           sfx::kVerifierTextBytes, sfx::kPieceNoEntry,
                           sfx::kPieceVerifier, &verifier)) {
      *error = "cannot encrypt the password verifier";
      return false;
    }
    head.AddVerifier(verifier);
  }
  if (!pipe.addRecord(head.takeBytes(), error)) return false;

  Writer writer{opts, pipe, *stats, plan.totalBytes, 0, encrypted,
                opts.integrity ? &table : nullptr, 0};
  for (size_t i = 0; i < plan.entries.size(); ++i) {
    const PackEntry& e = plan.entries[i];
    std::string name = storedPath(plan.names, i);
    if (e.fileTime > kMaxStoredFileTime) {
      *error = "cannot store the modification time of '" + e.source +
               "': it lies past the latest time Windows represents";
      return false;
    }
    if (!(e.isDirectory ? writer.addDirectory(e, name, error)
                        : writer.addFile(e, name, error)))
      return false;
  }
  PayloadWriter end;
  end.AddEnd();
  if (!pipe.addRecord(end.takeBytes(), error) || !pipe.finish(error))
    return false;
  stats->payloadBytes = pipe.written();
  if (!opts.integrity) return true;

  uint32_t configCrc = 0;
  for (const auto& [name, value] : opts.args) {
    if (name == sfx::kConfigArg)
      configCrc = sfx::ZipCRC::oneShot(value.data(), value.size());
  }
  std::vector<uint8_t> record = table.Encode(configCrc);
  if (encrypted) {
    std::vector<uint8_t> sealed;
    if (!pipe.encryptPiece(record.data(), record.size(), sfx::kPieceNoEntry,
                           sfx::kPieceIntegrity, &sealed)) {
      *error = "cannot encrypt the integrity record";
      return false;
    }
    record.swap(sealed);
  }
  if (record.size() != recordBytes) {
    *error = "internal error: the integrity record changed size";
    return false;
  }
  auto pieces = IntegrityArgs(record);
  std::copy(pieces.begin(), pieces.end(), args.end() - pieces.size());
  PayloadWriter filled;
  if (!filled.AddArgs(args, error)) return false;
  if (start < 0 ||
      fseek(out, start + static_cast<long>(argsOffset), SEEK_SET) != 0 ||
      fwrite(filled.bytes().data(), 1, filled.bytes().size(), out) !=
          filled.bytes().size() ||
      fseek(out, 0, SEEK_END) != 0) {
    *error = std::string("cannot write the integrity record: ") +
             strerror(errno);
    return false;
  }
  return true;
}

}  // namespace sfxpack
