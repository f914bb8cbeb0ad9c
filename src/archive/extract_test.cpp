// Entry extraction on real files in a temporary directory, with the
// entry's thread decoding alone and with three decoders.
#include "archive/extract_test_fixture.h"

namespace sfx {
namespace extract_test {
namespace {

// Every extraction test runs with the entry's thread decoding alone and
// with three decoders: files, messages and failures are the same.
class ExtractTest : public ExtractFixture,
                    public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    decoders_ = GetParam();
    ExtractFixture::SetUp();
  }
};

std::string decoderName(const ::testing::TestParamInfo<int>& info) {
  return "Decoders" + std::to_string(info.param);
}

INSTANTIATE_TEST_SUITE_P(DecoderCounts, ExtractTest, ::testing::Values(1, 3),
                         decoderName);

TEST_P(ExtractTest, DirectoriesFilesAndTheEnd) {
  PayloadBuilder p;
  p.dir("d").dir("d/e").file("d/a.txt", "alpha").file("empty", "");
  p.head(2, "two")
      .compressed(deflateLiterals("first,"))
      .compressed(deflateLiterals("second"))
      .endFile();
  p.head(2, "mixed")
      .stored(bytesOf("s"))
      .compressed(deflateLiterals("c"))
      .endFile();
  p.head(7, "ignored/name");
  p.file("after7", "x").end();
  p.bytes().push_back(0xEE);  // never read
  ASSERT_TRUE(extractAll(p)) << logText();
  EXPECT_EQ("alpha", read("d/a.txt"));
  EXPECT_EQ("", read("empty"));
  EXPECT_TRUE(fs::is_regular_file(out_ / "empty"));
  EXPECT_EQ("first,second", read("two"));
  EXPECT_EQ("sc", read("mixed"));
  EXPECT_EQ("x", read("after7"));
  EXPECT_TRUE(fs::is_directory(out_ / "d" / "e"));
  EXPECT_FALSE(fs::exists(out_ / "ignored"));
  EXPECT_EQ(7u, paths_.size());  // the type-7 entry has no path
  EXPECT_EQ(static_cast<int64_t>(payload_.size()) - 1, src_.getPosition());
  EXPECT_NE(std::string::npos, logText().find("Found end of archive."));
}

TEST_P(ExtractTest, DryRunCreatesNothingButReadsEverything) {
  PayloadBuilder p;
  p.dir("d").file("d/a.txt", "alpha");
  p.head(2, "z").compressed(deflateLiterals("zz")).endFile().end();
  ASSERT_TRUE(extractAll(p, /*dryRun=*/true)) << logText();
  EXPECT_TRUE(fs::is_empty(out_));
  ASSERT_EQ(3u, paths_.size());
  EXPECT_EQ("d/", paths_[0].substr(paths_[0].size() - 2));
  EXPECT_EQ(static_cast<int64_t>(payload_.size()), src_.getPosition());
}

TEST_P(ExtractTest, TimesAreWholeSecondsOfTheStoredTime) {
  // In a zone one hour east of UTC with summer time, a stored time lands on
  // its UTC second when it lies in the period of the clock's date and one
  // hour off (the offset difference) when it lies in the other one.
  ScopedTimeZone zone(kCentralEuropeTz);
  time_t nowT = time(nullptr);
  struct tm local;
#ifdef _WIN32
  localtime_s(&local, &nowT);
#else
  localtime_r(&nowT, &local);
#endif
  const int64_t summerNow = local.tm_isdst > 0 ? 1 : 0;
  // 2020-01-15 and 2020-07-15 12:00:00, local, with 0.1234567 s more.
  constexpr uint64_t kFraction = 1234567;
  struct Case {
    const char* name;
    uint64_t stored;
    int64_t shift;  // seconds subtracted from the UTC time
  };
  const Case kCases[] = {
      {"january.txt", 132235632000000000ULL + kFraction, summerNow * 3600},
      {"july.txt", 132392880000000000ULL + kFraction, (summerNow - 1) * 3600},
  };
  PayloadBuilder p;
  for (const Case& c : kCases) p.at(c.stored).file(c.name, "t");
  p.end();
  ASSERT_TRUE(extractAll(p)) << logText();
  for (const Case& c : kCases) {
    XString path;
    path.setFromUtf8((out_ / c.name).string().c_str());
    MarlithHandle h;
    int kind = 0;
    ASSERT_TRUE(openForReadWin32(path, h, &kind, nullptr)) << c.name;
    uint64_t written = 0;
    ASSERT_TRUE(h.getLastWriteTime(&written, nullptr)) << c.name;
    uint64_t utc = 0;
    ASSERT_TRUE(localFileTimeToUtc(c.stored, &utc));
    int64_t expected = FileTime::fromFileTime(utc).seconds() - c.shift;
    EXPECT_EQ(0u, written % 10000000) << c.name;
    EXPECT_EQ(expected, FileTime::fromFileTime(written).seconds()) << c.name;
  }
}

TEST_P(ExtractTest, ChunkSizeLimits) {
  {
    PayloadBuilder p;
    p.head(2, "big").stored(Bytes(2048575, 'b')).endFile().end();
    ASSERT_TRUE(extractAll(p)) << logText();
    EXPECT_EQ(2048575u, fs::file_size(out_ / "big"));
  }
  PayloadBuilder p;
  p.head(2, "toobig").rawWord(0x80000000u | 2048576u);
  EXPECT_FALSE(extractAll(p));
  EXPECT_NE(std::string::npos, logText().find("Too much data."));
}

TEST_P(ExtractTest, StoredSizeWordCarriesTheStoredBit) {
  PayloadBuilder p;
  p.head(2, "s16").rawWord(0x80000010u);
  putBytes(p.bytes(), bytesOf("0123456789abcdef"));
  p.endFile().end();
  ASSERT_TRUE(extractAll(p)) << logText();
  EXPECT_EQ("0123456789abcdef", read("s16"));
}

TEST_P(ExtractTest, LockedThumbsDbIsSkippedAndTheNextEntryExtracts) {
  fs::create_directories(out_ / "Thumbs.db");  // cannot be opened for writing
  fs::create_directories(out_ / "other.db");
  PayloadBuilder p;
  p.file("Thumbs.db", "thumbnail data").file("next.txt", "next").end();
  ASSERT_TRUE(extractAll(p)) << logText();
  EXPECT_NE(std::string::npos, paths_[0].find(" (skipped)"));
  EXPECT_EQ("next", read("next.txt"));

  PayloadBuilder q;
  q.file("other.db", "data").end();
  EXPECT_FALSE(extractAll(q));
  EXPECT_NE(std::string::npos, logText().find("Failed to open file."));
}

TEST_P(ExtractTest, FailuresAreReportedAndStopTheEntry) {
  struct Case {
    const char* what;
    std::function<void(PayloadBuilder&)> build;
    const char* message;
  } cases[] = {
      {"no marker", [](PayloadBuilder& p) { put32(p.bytes(), 0x12345678); },
       "File marker is invalid."},
      {"cut marker", [](PayloadBuilder& p) { put16(p.bytes(), 0xE59B); },
       "Failed to find file marker"},
      {"no type", [](PayloadBuilder& p) { put32(p.bytes(), kEntryMarker); },
       "Failed to get entry type."},
      {"cut name",
       [](PayloadBuilder& p) {
         put32(p.bytes(), kEntryMarker);
         p.bytes().push_back(2);
         put16(p.bytes(), 10);
         p.bytes().push_back('a');
       },
       "Failed to get filename"},
      {"cut time",
       [](PayloadBuilder& p) {
         p.head(2, "n");
         p.bytes().resize(p.bytes().size() - 10);
       },
       "Failed to get filetime"},
      {"cut attributes",
       [](PayloadBuilder& p) {
         p.head(2, "n");
         p.bytes().resize(p.bytes().size() - 2);
       },
       "Failed to get file attributes"},
      {"cut size word",
       [](PayloadBuilder& p) { p.head(2, "n").bytes().push_back(1); },
       "Failed to read compressed size."},
      {"cut chunk",
       [](PayloadBuilder& p) {
         p.head(2, "n").rawWord(0x80000005u).bytes().push_back('x');
       },
       "Failed to read compressed data."},
      {"bad deflate",
       [](PayloadBuilder& p) {
         p.head(2, "n").compressed({0xFF, 0xFF}).endFile().end();
       },
       "Failed to inflate compressed data."},
      {"cut deflate",
       [](PayloadBuilder& p) {
         Bytes d = deflateLiterals("some text that is cut");
         d.resize(d.size() / 2);
         p.head(2, "n").compressed(d).endFile().end();
       },
       "Failed to inflate compressed data."},
  };
  for (const Case& c : cases) {
    TearDown();
    SetUp();
    log_.clearLog();
    PayloadBuilder p;
    c.build(p);
    EXPECT_FALSE(extractAll(p)) << c.what;
    EXPECT_NE(std::string::npos, logText().find(c.message)) << c.what << "\n"
                                                            << logText();
  }
}

TEST_P(ExtractTest, HostileNamesNeverLeaveTheUnzipDirectory) {
  const char* names[] = {
      "..\\x", "a/../../x", "safe/..\\..\\x", "\\x",           "/x",
      "C:\\x", "C:x",       "C:..\\x",        "\\\\srv\\s\\x", "\\\\?\\C:\\x",
      "//?/x", "..",        "a/.../x",        "a/.. /x",       ""};
  for (const char* name : names) {
    TearDown();
    SetUp();
    log_.clearLog();
    PayloadBuilder p;
    p.file(name, "evil").end();
    EXPECT_FALSE(extractAll(p)) << name;
    EXPECT_NE(std::string::npos,
              logText().find("Unsafe path in archive entry."))
        << name;
    EXPECT_TRUE(outside().empty()) << name;
    EXPECT_TRUE(fs::is_empty(out_)) << name;
  }
  // Names that are safe once repaired stay inside.
  PayloadBuilder p;
  p.file("a.txt:evil.exe", "ads")
      .file("CON", "con")
      .file("nul.txt", "nul")
      .file("COM1.txt", "com")
      .file("dots..name", "ok")
      .end();
  ASSERT_TRUE(extractAll(p)) << logText();
  EXPECT_EQ("ads", read("a.txt_evil.exe"));
  EXPECT_EQ("con", read("_CON"));
  EXPECT_EQ("nul", read("_nul.txt"));
  EXPECT_EQ("com", read("_COM1.txt"));
  EXPECT_EQ("ok", read("dots..name"));
  EXPECT_TRUE(outside().empty());
}

#ifndef _WIN32
// The caller's base directory is used as given, whatever its name holds;
// only the names from the payload are repaired.
TEST_P(ExtractTest, BaseDirectoryIsTakenAsGiven) {
  fs::remove(out_);
  out_ = root_ / "a:b?c*d|e<f>g\"h";
  fs::create_directories(out_);
  base_.setFromUtf8(out_.string().c_str());
  PayloadBuilder p;
  p.file("sub\\CON", "con").file("x?y", "q").end();
  ASSERT_TRUE(extractAll(p)) << logText();
  EXPECT_EQ("con", read("sub/_CON"));
  EXPECT_EQ("q", read("x_y"));
  EXPECT_TRUE(outside().empty());
}
#endif

TEST_P(ExtractTest, EncryptedPayload) {
  PayloadBuilder p("secret");
  p.dir("sub").file("sub/clear.txt", "stored text");
  p.head(2, "sub/z.txt")
      .compressed(deflateLiterals("deflated text"))
      .endFile()
      .end();
  ASSERT_TRUE(extractAll(p, false, "secret")) << logText();
  EXPECT_EQ("stored text", read("sub/clear.txt"));
  EXPECT_EQ("deflated text", read("sub/z.txt"));
}

TEST_P(ExtractTest, ExpandingChunkStreamsToTheFile) {
  // 64 KB of output from a few dozen bytes: matches of 258 at distance 1.
  inflate_test::BitWriter w;
  auto block = inflate_test::BlockWriter::fixed(w, true);
  block.literal('z');
  for (int i = 0; i < 254; ++i) block.match(258, 1);
  block.end();
  PayloadBuilder p;
  p.head(2, "zeros").compressed(w.bytes()).endFile().end();
  ASSERT_TRUE(extractAll(p)) << logText();
  EXPECT_EQ(1u + 254u * 258u, fs::file_size(out_ / "zeros"));
  EXPECT_EQ(std::string(1 + 254 * 258, 'z'), read("zeros"));
}

TEST_P(ExtractTest, UndoListRecordsCreatedDirectories) {
  PayloadBuilder p;
  p.file("x/y/f.txt", "f").end();
  ASSERT_TRUE(extractAll(p)) << logText();
  ASSERT_EQ(2, undo_.getSize());
}


// Records, at every progress report, how far the reads were counted and how
// much of the file was on disk.
class DiskAtProgress : public ProgressEvent {
 public:
  explicit DiskAtProgress(fs::path file) : file_(std::move(file)) {}
  void percentDone(uint32_t, bool*) override {
    std::error_code ec;
    uint64_t onDisk = fs::file_size(file_, ec);
    seen.push_back({pm->amountDone(), ec ? 0 : onDisk});
  }
  ProgressMonitor* pm = nullptr;
  std::vector<std::pair<int64_t, uint64_t>> seen;

 private:
  fs::path file_;
};

// Progress counts what is written: a chunk, read ahead or not, moves it
// only once the chunk is on disk. At each report the bytes counted reach at
// most the end of the last chunk wholly written.
TEST_P(ExtractTest, ProgressCountsWhatIsWritten) {
  PayloadBuilder p;
  nineChunks(p, 0, {});
  const Bytes& payload = p.bytes();
  std::vector<int64_t> chunkEnd;  // payload offset after chunk i + 1
  for (int i = 1; i <= kChunks; ++i) {
    Bytes chunk = deflateLiterals(chunkText(i, kChunkText));
    auto at = std::search(payload.begin(), payload.end(), chunk.begin(),
                          chunk.end());
    ASSERT_NE(payload.end(), at);
    chunkEnd.push_back((at - payload.begin()) +
                       static_cast<int64_t>(chunk.size()));
  }
  src_.setProgressByBytes(true);
  DiskAtProgress sink(out_ / "f" / "big");
  ProgressMonitor pm(&sink, 0, static_cast<int64_t>(payload.size()));
  sink.pm = &pm;
  ASSERT_TRUE(extractAll(p, false, "", &pm)) << logText();
  ASSERT_GE(sink.seen.size(), static_cast<size_t>(kChunks));
  for (const auto& [done, onDisk] : sink.seen) {
    size_t whole = static_cast<size_t>(onDisk / kChunkText);
    if (whole >= static_cast<size_t>(kChunks)) continue;  // the file is done
    int64_t limit = whole == 0 ? chunkEnd[0] - 1 : chunkEnd[whole - 1];
    EXPECT_LE(done, limit) << "with " << onDisk << " bytes on disk";
  }
  // Every chunk, the end word after them and the next entry are counted.
  EXPECT_GT(pm.amountDone(), chunkEnd.back() + 4);
}

// A chunk of about 1000:1 that inflates beyond a slot's output buffer is
// decoded by the streaming path and extracts whole; the slots do not grow
// for it.
TEST_P(ExtractTest, AChunkBeyondTheSlotIsStreamed) {
  const uint32_t kRun = 3000000;
  Bytes run = deflateRunOf(kRun);
  ASSERT_LT(run.size() * 900, kRun);
  PayloadBuilder p;
  p.head(2, "before").compressed(deflateLiterals("small")).endFile();
  p.head(2, "zeros").compressed(run).compressed(run).endFile().end();
  ASSERT_TRUE(extractAll(p)) << logText();
  EXPECT_EQ("small", read("before"));
  ASSERT_EQ(2u * kRun, fs::file_size(out_ / "zeros"));
  EXPECT_EQ(std::string(2 * kRun, 'z'), read("zeros"));
  // At most one input granule and one output buffer per slot.
  const uint64_t perSlot = 65536 + 2097152 + 64;
  EXPECT_LE(archive_.decodeMemory(),
            perSlot * (archive_.decoderCount() == 1 ? 1 : 4));
}

// The slots keep their buffers: a payload of many chunks takes no more
// memory than one of a few, and the decoders are started once.
TEST_P(ExtractTest, SlotsAreReusedAcrossChunksAndEntries) {
  PayloadBuilder few;
  few.head(2, "few");
  for (int i = 0; i < 5; ++i)
    few.compressed(deflateLiterals(chunkText(i, 20000)));
  few.endFile().end();
  ASSERT_TRUE(extractAll(few)) << logText();
  const uint64_t afterFew = archive_.decodeMemory();
  EXPECT_GT(afterFew, 0u);

  PayloadBuilder many;
  std::string expected;
  for (int f = 0; f < 8; ++f) {
    many.head(2, "many" + std::to_string(f));
    for (int i = 0; i < 12; ++i) {
      many.compressed(deflateLiterals(chunkText(i + f, 20000)));
      many.stored(bytesOf(chunkText(i, 1000)));
    }
    many.endFile();
  }
  many.end();
  ASSERT_TRUE(extractAll(many)) << logText();
  EXPECT_EQ(afterFew, archive_.decodeMemory());
  EXPECT_EQ(static_cast<uint32_t>(GetParam()), archive_.decoderCount());
  std::string seven;
  for (int i = 0; i < 12; ++i) seven += chunkText(i + 7, 20000) + chunkText(i, 1000);
  EXPECT_EQ(seven, read("many7"));
}

}  // namespace
}  // namespace extract_test
}  // namespace sfx
