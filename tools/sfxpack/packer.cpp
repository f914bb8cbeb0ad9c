#include "packer.h"

#include <libdeflate.h>
#include <sys/stat.h>
#include <time.h>
#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "archive/integrity_record.h"
#include "codec/aes.h"
#include "codec/crc32.h"
#include "log/log_base.h"
#include "payload_writer.h"
#include "text/data_buffer.h"
#include "text/string_buffer.h"

namespace fs = std::filesystem;

namespace sfxpack {
namespace {

constexpr uint32_t kAttrArchive = 0x20;
constexpr uint32_t kAttrHidden = 0x02;
constexpr uint32_t kAttrDirectory = 0x10;
constexpr char kVerifierText[] = "qmzv";

// Modification time as a FILETIME in this machine's local time zone.
uint64_t localFileTimeOf(const struct stat& st) {
  constexpr uint64_t kUnixEpoch = 116444736000000000ULL;
  time_t t = st.st_mtim.tv_sec;
  struct tm local;
  long offset = localtime_r(&t, &local) ? local.tm_gmtoff : 0;
  int64_t secs = static_cast<int64_t>(t) + offset;
  if (secs < -11644473600LL) secs = -11644473600LL;  // before 1601: clamp
  return static_cast<uint64_t>(static_cast<int64_t>(kUnixEpoch) +
                               secs * 10000000LL + st.st_mtim.tv_nsec / 100);
}

// Encrypts one piece on its own, as every name, chunk and the verifier are.
class PieceCipher {
 public:
  PieceCipher(const std::string& password, int keyBits) {
    cipher_.setKeyLength(static_cast<uint32_t>(keyBits));
    sfx::StringBuffer pw(password.c_str());
    sfx::DataBuffer key;
    ok_ = sfx::AesCipher::deriveKey(pw, cipher_.keyLength(), key) &&
          cipher_.setKey(key);
  }
  bool ok() const { return ok_; }
  bool encrypt(const uint8_t* in, size_t n, std::vector<uint8_t>* out) {
    sfx::DataBuffer plain, cipherText;
    sfx::LogNull log;
    if (!plain.append(in, static_cast<uint32_t>(n)) ||
        !cipher_.encryptBuffer(plain, cipherText, log)) {
      return false;
    }
    out->assign(cipherText.getData(),
                cipherText.getData() + cipherText.getSize());
    return true;
  }

 private:
  sfx::AesCipher cipher_;
  bool ok_ = false;
};

// One record of the output, in order. Chunk records are filled by workers.
struct Item {
  bool ready = false;
  bool failed = false;
  std::vector<uint8_t> bytes;  // the encoded record
  std::vector<uint8_t> input;  // chunk input, released once encoded
  size_t cost = 0;             // bytes it counts against the in-flight bound
};

class Pipeline {
 public:
  Pipeline(const PackOptions& opts, FILE* out)
      : opts_(opts), out_(out), encrypted_(!opts.password.empty()) {
    unsigned n =
        opts.threads ? opts.threads : std::thread::hardware_concurrency();
    n = std::max(1u, n);
    // Many small files make many small records: the bound is on the bytes
    // in flight (four chunks per thread, as memory goes), with a generous
    // record count beside it, so that small files keep every thread busy.
    maxBytesInFlight_ = 4 * n * std::max<size_t>(opts.chunkSize, 1);
    maxRecordsInFlight_ = 1024 * n;
    for (unsigned i = 0; i < n; ++i) workers_.emplace_back([this] { work(); });
  }

  ~Pipeline() {
    {
      std::lock_guard<std::mutex> lock(mu_);
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
    pending_.push_back(item);
    return true;
  }

  // Queues a chunk for compression; writes finished records first when too
  // many are in flight, which bounds the memory used.
  bool addChunk(std::vector<uint8_t> input, std::string* error) {
    if (!drain(maxRecordsInFlight_, maxBytesInFlight_, error)) return false;
    auto item = std::make_shared<Item>();
    item->input = std::move(input);
    item->cost = item->input.size();
    {
      std::lock_guard<std::mutex> lock(mu_);
      pendingCost_ += item->cost;
      pending_.push_back(item);
      jobs_.push_back(item);
    }
    jobReady_.notify_one();
    return true;
  }

  // Writes every record still queued.
  bool finish(std::string* error) { return drain(0, 0, error); }

  uint64_t written() const { return written_; }

  // Encrypts a piece on the calling thread (names, the verifier).
  bool encryptPiece(const uint8_t* in, size_t n, std::vector<uint8_t>* out) {
    if (!mainCipher_)
      mainCipher_ =
          std::make_unique<PieceCipher>(opts_.password, opts_.keyBits);
    return mainCipher_->ok() && mainCipher_->encrypt(in, n, out);
  }

 private:
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
        itemDone_.wait(lock, [&] { return front->ready; });
        pending_.pop_front();
        pendingCost_ -= front->cost;
      }
      if (front->failed) {
        *error = "cannot compress or encrypt a chunk (out of memory)";
        return false;
      }
      if (!front->bytes.empty() &&
          fwrite(front->bytes.data(), 1, front->bytes.size(), out_) !=
              front->bytes.size()) {
        *error = std::string("write failed: ") + strerror(errno);
        return false;
      }
      written_ += front->bytes.size();
    }
  }

  void work() {
    libdeflate_compressor* c =
        libdeflate_alloc_compressor(std::max(1, opts_.level));
    std::unique_ptr<PieceCipher> cipher;
    if (encrypted_)
      cipher = std::make_unique<PieceCipher>(opts_.password, opts_.keyBits);
    std::vector<uint8_t> packed;
    for (;;) {
      std::shared_ptr<Item> item;
      {
        std::unique_lock<std::mutex> lock(mu_);
        jobReady_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
        if (jobs_.empty()) break;
        item = jobs_.front();
        jobs_.pop_front();
      }
      bool ok = encode(c, cipher.get(), item->input, &packed, &item->bytes);
      item->input.clear();
      item->input.shrink_to_fit();
      {
        std::lock_guard<std::mutex> lock(mu_);
        item->failed = !ok;
        item->ready = true;
      }
      itemDone_.notify_all();
    }
    libdeflate_free_compressor(c);
  }

  // Deflates one chunk, keeps it stored when that does not shrink it,
  // encrypts it when asked, and encodes the chunk record.
  bool encode(libdeflate_compressor* c, PieceCipher* cipher,
              const std::vector<uint8_t>& in, std::vector<uint8_t>* packed,
              std::vector<uint8_t>* record) {
    bool stored = true;
    const uint8_t* body = in.data();
    size_t bodySize = in.size();
    if (c && opts_.level > 0 && !in.empty()) {
      packed->resize(in.size());
      size_t n = libdeflate_deflate_compress(c, in.data(), in.size(),
                                             packed->data(), in.size() - 1);
      if (n > 0) {
        stored = false;
        body = packed->data();
        bodySize = n;
      }
    }
    std::vector<uint8_t> sealed;
    if (cipher) {
      if (!cipher->ok() || !cipher->encrypt(body, bodySize, &sealed))
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
  size_t maxBytesInFlight_;
  size_t maxRecordsInFlight_;
  size_t pendingCost_ = 0;  // sum of the queued records' costs
  std::vector<std::thread> workers_;
  std::mutex mu_;
  std::condition_variable jobReady_, itemDone_;
  std::deque<std::shared_ptr<Item>> pending_;  // every record, in order
  std::deque<std::shared_ptr<Item>> jobs_;     // chunks not yet taken
  bool stopping_ = false;
  uint64_t written_ = 0;
  std::unique_ptr<PieceCipher> mainCipher_;
};

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

  bool storedName(const std::string& name, std::string* out,
                  std::string* error) {
    if (!encrypted) {
      *out = name;
    } else {
      std::vector<uint8_t> c;
      if (!pipe.encryptPiece(reinterpret_cast<const uint8_t*>(name.data()),
                             name.size(), &c)) {
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
                   kAttrDirectory | (e.hidden ? kAttrHidden : 0));
    ++stats.directories;
    ++nextRow;
    return pipe.addRecord(w.takeBytes(), error);
  }

  bool addFile(const PackEntry& e, const std::string& name,
               std::string* error) {
    std::string stored;
    if (!storedName(name, &stored, error)) return false;
    FILE* in = fopen(e.source.c_str(), "rb");
    if (!in) {
      *error = "cannot read '" + e.source + "': " + strerror(errno);
      return false;
    }
    std::unique_ptr<FILE, int (*)(FILE*)> closer(in, fclose);
    PayloadWriter head;
    head.AddFileHead(stored, e.fileTime,
                     kAttrArchive | (e.hidden ? kAttrHidden : 0));
    if (!pipe.addRecord(head.takeBytes(), error)) return false;
    // Buffers sized by what the file still holds (one byte more, to see its
    // end without another read), not by the chunk size: small files are many.
    uint64_t left = e.size;
    uint32_t crcState = 0xFFFFFFFFu;
    uint64_t size = 0;
    for (;;) {
      size_t want =
          static_cast<size_t>(std::min<uint64_t>(opts.chunkSize, left + 1));
      std::vector<uint8_t> chunk(want);
      size_t n = fread(chunk.data(), 1, chunk.size(), in);
      if (n == 0) break;
      chunk.resize(n);
      crcState = sfx::ZipCRC::updateState(crcState, chunk.data(), n);
      size += n;
      stats.bytesIn += n;
      doneBytes += n;
      left = left > n ? left - n : 0;
      if (!pipe.addChunk(std::move(chunk), error)) return false;
      if (opts.progress) opts.progress(doneBytes, totalBytes);
      if (n < want) break;
    }
    if (ferror(in)) {
      *error = "error reading '" + e.source + "': " + strerror(errno);
      return false;
    }
    if (table) {
      IntegrityTable::Row& row = table->rows()[nextRow];
      row.size = size;
      row.crc = size ? ~crcState : 0;
    }
    ++nextRow;
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
    e.fileTime = localFileTimeOf(st);
    e.hidden = opts.hiddenDotfiles && !leaf.empty() && leaf[0] == '.';
    plan.totalBytes += e.size;
    plan.entries.push_back(e);
    plan.names.push_back(NameNode{parent, leaf, source});
    return plan.entries.size() - 1;
  }

  // The children of a directory, sorted by name.
  static bool children(const fs::path& dir, std::vector<fs::path>* out,
                       std::string* error) {
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end;
         it.increment(ec)) {
      out->push_back(it->path());
    }
    if (ec) {
      *error = "cannot list '" + dir.string() + "': " + ec.message();
      return false;
    }
    std::sort(out->begin(), out->end());
    return true;
  }

  bool addTree(const fs::path& dir, const std::string& real, size_t parent,
               std::string* error) {
    std::vector<fs::path> list;
    if (!children(dir, &list, error)) return false;
    walking.push_back(real);
    for (const fs::path& child : list) {
      std::string leaf = child.filename().string();
      struct stat st;
      if (lstat(child.c_str(), &st) != 0) {
        *error = "cannot read '" + child.string() + "': " + strerror(errno);
        return false;
      }
      std::string childReal = real + "/" + leaf;
      if (S_ISLNK(st.st_mode)) {
        childReal = realPath(child.string());
        if (childReal.empty() || stat(child.c_str(), &st) != 0) {
          refused.push_back(child.string() +
                            ": symbolic link to nothing (its target does not "
                            "exist)");
          continue;
        }
        if (!opts.followLinks && !isWithin(childReal, rootReal)) {
          refused.push_back(child.string() + ": symbolic link to '" +
                            childReal +
                            "', outside the packed folder (--follow-links "
                            "stores it)");
          continue;
        }
        if (S_ISDIR(st.st_mode) &&
            std::any_of(walking.begin(), walking.end(),
                        [&](const std::string& w) {
                          return isWithin(w, childReal);
                        })) {
          refused.push_back(child.string() + ": symbolic link to '" +
                            childReal +
                            "', a folder that holds it (a loop)");
          continue;
        }
      }
      if (S_ISDIR(st.st_mode)) {
        size_t me = add(child.string(), leaf, parent, st);
        if (!addTree(child, childReal, me, error)) return false;
      } else if (S_ISREG(st.st_mode)) {
        add(child.string(), leaf, parent, st);
      } else {
        notes.push_back("skipping '" + child.string() +
                        "': not a regular file");
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
    fs::path root(input);
    if (S_ISDIR(st.st_mode)) {
      rootReal = realPath(input);
      walking.clear();
      return addTree(root, rootReal, kNoParent, error);
    }
    if (!S_ISREG(st.st_mode)) {
      *error = "cannot store '" + input + "': not a regular file or folder";
      return false;
    }
    add(input, root.filename().string(), kNoParent, st);
    return true;
  }
};

}  // namespace

uint8_t keyLengthCode(int keyBits) {
  return keyBits == 128 ? 0 : (keyBits == 192 ? 1 : 2);
}

bool scanInputs(const PackOptions& opts, PackPlan* plan,
                std::vector<std::string>* notes, std::string* error) {
  *plan = PackPlan();
  Scanner scanner{opts, *plan, *notes, {}, "", {}};
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
  Pipeline pipe(opts, out);
  const long start = ftell(out);

  // The integrity record goes last in the argument block. Its size is known
  // before any data is read (from the plan's names), so its place is held
  // by zero bytes and filled in once every entry was written.
  IntegrityTable table;
  auto args = opts.args;
  size_t recordBytes = 0;
  if (opts.integrity) {
    for (size_t i = 0; i < plan.entries.size(); ++i) {
      const PackEntry& e = plan.entries[i];
      IntegrityTable::Row row;
      if (e.isDirectory) row.type = EntryType::kDirectory;
      row.name = storedPath(plan.names, i);
      row.fileTime = e.fileTime;
      row.attributes = (e.isDirectory ? kAttrDirectory : kAttrArchive) |
                       (e.hidden ? kAttrHidden : 0);
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
    if (!pipe.encryptPiece(reinterpret_cast<const uint8_t*>(kVerifierText), 4,
                           &verifier)) {
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
    if (name == "xmlConfig")
      configCrc = sfx::ZipCRC::oneShot(value.data(), value.size());
  }
  std::vector<uint8_t> record = table.Encode(configCrc);
  if (encrypted) {
    std::vector<uint8_t> sealed;
    if (!pipe.encryptPiece(record.data(), record.size(), &sealed)) {
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
