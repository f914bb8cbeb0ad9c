#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "log/log_base.h"
#include "text/data_buffer.h"
#include "text/xstring.h"

namespace sfx {
namespace {

// Keeps the error lines and named values it is given.
class RecordingLog : public LogBase {
 public:
  bool logError(const char* text) override {
    errors.push_back(text);
    return true;
  }
  bool logData(const char* tag, const char* value) override {
    data.push_back(std::string(tag) + "=" + value);
    return true;
  }
  std::vector<std::string> errors;
  std::vector<std::string> data;
};

// A file in the current directory, removed again at the end of the test.
class TempFile {
 public:
  TempFile(const char* name, const std::string& content) : name_(name) {
    FILE* f = fopen(name, "wb");
    if (f) {
      fwrite(content.data(), 1, content.size(), f);
      fclose(f);
    }
  }
  ~TempFile() { remove(name_.c_str()); }
  XString path() const {
    XString x;
    x.setFromUtf8(name_.c_str());
    return x;
  }

 private:
  std::string name_;
};

TEST(DataBufferFileTest, LoadsTheWholeFileWithZeroedSlack) {
  const std::string content("head\0tail", 9);
  TempFile file("loadfilex_test_content.bin", content);
  DataBuffer db;
  db.append("old", 3);
  RecordingLog log;
  ASSERT_TRUE(db.loadFileX(file.path(), log));
  ASSERT_EQ(9u, db.getSize());
  EXPECT_EQ(content,
            std::string(reinterpret_cast<const char*>(db.getData()), 9));
  EXPECT_EQ(9u + 32u, db.getCapacity());
  for (uint32_t i = 9; i < 41; ++i) EXPECT_EQ(0, db.getData()[i]);
  EXPECT_TRUE(log.errors.empty());
}

TEST(DataBufferFileTest, AnEmptyFileLoadsAsAnEmptyBuffer) {
  TempFile file("loadfilex_test_empty.bin", "");
  DataBuffer db;
  db.append("old", 3);
  RecordingLog log;
  EXPECT_TRUE(db.loadFileX(file.path(), log));
  EXPECT_EQ(0u, db.getSize());
}

TEST(DataBufferFileTest, AMissingFileFailsWithTheOpenError) {
  DataBuffer db;
  db.append("old", 3);
  XString path;
  path.setFromUtf8("loadfilex_test_does_not_exist.bin");
  RecordingLog log;
  EXPECT_FALSE(db.loadFileX(path, log));
  EXPECT_EQ(0u, db.getSize());
  ASSERT_FALSE(log.errors.empty());
  EXPECT_EQ("Failed to open for read.", log.errors.back());
}

}  // namespace
}  // namespace sfx
