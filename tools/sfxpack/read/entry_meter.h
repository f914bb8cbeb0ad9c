// A pass-through data source that follows the entry records it delivers and
// measures them: type, time, attributes, and the inflated size of a file's
// chunks. The listing uses it beside SimpleArchive::extractSaToFile, whose
// dry run checks every entry but keeps no sizes.
#ifndef SFX_TOOLS_SFXPACK_READ_ENTRY_METER_H_
#define SFX_TOOLS_SFXPACK_READ_ENTRY_METER_H_

#include <cstdint>
#include <memory>

#include "stream/data_source.h"

namespace sfx {
class AesCipher;
struct KdfSettings;
}  // namespace sfx

namespace sfxpack {

class EntryMeter : public sfx::DataSource {
 public:
  // Reads through `inner` (not owned). When `decryptor` is given, names and
  // chunks are ciphertexts that a copy of it (its key set) decrypts, under
  // the salted scheme `kdf` (not owned; null for the earlier one) with the
  // vector of each chunk's place. Entries are numbered from the first one
  // the meter sees.
  EntryMeter(sfx::DataSource* inner, const sfx::AesCipher* decryptor,
             const sfx::KdfSettings* kdf);
  ~EntryMeter() override;

  // Starts a new entry record: the next byte read is its marker.
  void beginEntry();

  // Values of the entry read since beginEntry; meaningful once the reader
  // got past them.
  uint8_t type() const { return type_; }
  uint64_t fileTime() const { return fileTime_; }
  uint32_t attributes() const { return attributes_; }
  // The sum of the chunks' plain sizes; a chunk that does not decode adds
  // what it gave before failing.
  uint64_t plainSize() const { return plainSize_; }

  bool readSource(void* buf, uint32_t maxCount, uint32_t* numRead,
                  bool* endReached, sfx::ProgressMonitor* pm,
                  sfx::LogBase& log) override;
  bool endOfStream() override;

 private:
  enum class State { kHead, kName, kTimeAttr, kSize, kChunk, kDone };

  void feed(const uint8_t* data, uint32_t count);
  void measureChunk();

  sfx::DataSource* inner_;
  std::unique_ptr<sfx::AesCipher> decryptor_;
  const sfx::KdfSettings* kdf_;
  uint32_t entries_ = 0;  // entry records met
  uint32_t entry_ = 0;    // the number of the current one
  uint32_t chunks_ = 0;   // its chunks met
  State state_ = State::kDone;
  uint8_t field_[12];
  uint32_t fieldFill_ = 0;
  uint32_t remaining_ = 0;  // name or chunk bytes still to come
  bool storedChunk_ = false;
  std::unique_ptr<uint8_t[]> chunk_;
  uint32_t chunkFill_ = 0;
  uint8_t type_ = 0;
  uint64_t fileTime_ = 0;
  uint32_t attributes_ = 0;
  uint64_t plainSize_ = 0;
};

}  // namespace sfxpack

#endif  // SFX_TOOLS_SFXPACK_READ_ENTRY_METER_H_
