// Decoding on threads: one payload extracted with one decoder and with
// three gives the same files, log, undo records and source position,
// intact and for every kind of failure at every place, within one file's
// chunks and across the entries of a tree.
#include "archive/extract_test_fixture.h"

namespace sfx {
namespace extract_test {
namespace {

// What one extraction left: its result, log, files and undo records.
struct RunResult {
  bool ok = false;
  std::string log;
  std::map<std::string, std::string> files;
  int undo = 0;
  int64_t position = 0;
};

// Runs one payload with 1 and with 3 decoders into separate folders.
class PipelineTest : public ExtractFixture {
 protected:
  RunResult runWith(int decoders, PayloadBuilder& p, const char* password = "",
                    ProgressMonitor* pm = nullptr) {
    out_ = root_ / ("out" + std::to_string(decoders));
    fs::create_directories(out_);
    base_.setFromUtf8(out_.string().c_str());
    archive_.setDecoderThreads(decoders);
    log_.clearLog();
    undo_.removeAllObjects();
    RunResult r;
    r.ok = extractAll(p, false, password, pm);
    EXPECT_EQ(static_cast<uint32_t>(decoders), archive_.decoderCount());
    r.log = logText();
    r.undo = undo_.getSize();
    r.position = src_.getPosition();
    for (auto& e : fs::recursive_directory_iterator(out_)) {
      if (e.is_regular_file()) {
        r.files[fs::relative(e.path(), out_).generic_string()] =
            read(fs::relative(e.path(), out_).generic_string());
      }
    }
    return r;
  }
  // Both runs, which must agree in every respect; returns the first.
  RunResult runBoth(PayloadBuilder& p, const char* password = "") {
    RunResult one = runWith(1, p, password);
    RunResult three = runWith(3, p, password);
    EXPECT_EQ(one.ok, three.ok);
    EXPECT_EQ(one.log, three.log);
    EXPECT_EQ(one.undo, three.undo);
    EXPECT_EQ(one.position, three.position);
    EXPECT_TRUE(one.files == three.files) << "the files differ";
    return one;
  }
};

TEST_F(PipelineTest, IntactChunksGiveTheSameFiles) {
  for (const char* password : {"", "pw"}) {
    SCOPED_TRACE(*password ? "encrypted" : "plain");
    PayloadBuilder p(password);
    nineChunks(p, 0, {});
    RunResult r = runBoth(p, password);
    EXPECT_TRUE(r.ok) << r.log;
    EXPECT_EQ(nineChunkText(kChunks), r.files["f/big"]);
    EXPECT_EQ("after", r.files["f/after"]);
  }
}

// A chunk that fails late (the 7th of 9) fails the same way with one
// decoder and with three: the same messages, the same files on disk (the
// failed file is deleted again, whatever of it was written), the same
// undo records and the same position in the payload.
TEST_F(PipelineTest, LateFailuresAreTheSameWithOneAndThreeDecoders) {
  Bytes broken = deflateThenBreak(chunkText(7, kChunkText));
  struct Case {
    const char* what;
    const char* password;
    std::function<void(PayloadBuilder&)> build;
    const char* message;
    size_t atLeast, atMost;  // bytes of f/big written
  } cases[] = {
      {"corrupt chunk 7 of 9", "",
       [&](PayloadBuilder& p) { nineChunks(p, 7, broken); },
       "Failed to inflate compressed data.", 6 * kChunkText + 1,
       7 * kChunkText - 1},
      {"corrupt encrypted chunk 7 of 9", "pw",
       [&](PayloadBuilder& p) { nineChunks(p, 7, broken); },
       "Failed to inflate compressed data.", 6 * kChunkText + 1,
       7 * kChunkText - 1},
      {"damaged ciphertext in chunk 7 of 9", "pw",
       [&](PayloadBuilder& p) {
         p.head(2, "f/big");
         for (int i = 1; i <= kChunks; ++i) {
           p.compressed(deflateLiterals(chunkText(i, kChunkText)));
           // The last cipher block of chunk 7 decrypts to garbage, its
           // padding byte too, so the stream loses its end.
           if (i == 7) p.bytes().back() ^= 0x5A;
         }
         p.endFile().end();
       },
       "Failed to inflate compressed data.", 6 * kChunkText,
       7 * kChunkText - 1},
      {"payload cut in chunk 8", "",
       [&](PayloadBuilder& p) {
         p.head(2, "f/big");
         for (int i = 1; i <= 8; ++i)
           p.compressed(deflateLiterals(chunkText(i, kChunkText)));
         p.bytes().resize(p.bytes().size() - 1000);
       },
       "Failed to read compressed data.", 7 * kChunkText, 7 * kChunkText},
      {"chunk 8 too large", "",
       [&](PayloadBuilder& p) {
         p.head(2, "f/big");
         for (int i = 1; i <= 7; ++i)
           p.compressed(deflateLiterals(chunkText(i, kChunkText)));
         p.rawWord(2048576u);
       },
       "Too much data.", 7 * kChunkText, 7 * kChunkText},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    PayloadBuilder p(c.password);
    c.build(p);
    RunResult r = runBoth(p, c.password);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(std::string::npos, r.log.find(c.message)) << r.log;
    (void)c.atLeast;
    (void)c.atMost;
    EXPECT_EQ(0u, r.files.count("f/big")) << "a half-written file stayed";
    EXPECT_TRUE(r.files.empty());
    EXPECT_EQ(1, r.undo);  // the folder f
  }
}

#ifndef _WIN32
// A write that fails in the middle of the file (the file size limit of
// the process) fails alike, with the same bytes on disk.
TEST_F(PipelineTest, AWriteFailureIsTheSameWithOneAndThreeDecoders) {
  PayloadBuilder p;
  nineChunks(p, 0, {});
  struct rlimit saved;
  ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
  void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = saved;
  limited.rlim_cur = 4 * kChunkText + 1234;
  ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &limited));
  RunResult r = runBoth(p);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(std::string::npos, r.log.find("Failed to write file data."))
      << r.log;
  EXPECT_EQ(0u, r.files.count("f/big")) << "a half-written file stayed";
}

// A file that existed before the run keeps its content when its entry
// fails, however it fails; a file the run created for it is gone.
TEST_F(PipelineTest, AFailedEntryKeepsAnExistingFileAndLeavesNoNewOne) {
  Bytes broken = deflateThenBreak(chunkText(7, kChunkText));
  struct Case {
    const char* what;
    std::function<void(PayloadBuilder&)> build;
    bool limitSize;
  } cases[] = {
      {"corrupt chunk", [&](PayloadBuilder& p) { nineChunks(p, 7, broken); },
       false},
      {"cut payload",
       [&](PayloadBuilder& p) {
         p.head(2, "f/big");
         for (int i = 1; i <= 8; ++i)
           p.compressed(deflateLiterals(chunkText(i, kChunkText)));
         p.bytes().resize(p.bytes().size() - 1000);
       },
       false},
      {"full disk", [&](PayloadBuilder& p) { nineChunks(p, 0, {}); }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (bool existing : {false, true}) {
      SCOPED_TRACE(existing ? "existing file" : "new file");
      TearDown();
      SetUp();
      for (int decoders : {1, 3}) {
        fs::path dir = root_ / ("out" + std::to_string(decoders));
        fs::create_directories(dir / "f");
        if (existing) std::ofstream(dir / "f" / "big") << "old content";
      }
      PayloadBuilder p;
      c.build(p);
      struct rlimit saved;
      ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
      void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
      if (c.limitSize) {
        struct rlimit limited = saved;
        limited.rlim_cur = 4 * kChunkText + 1234;
        ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &limited));
      }
      RunResult r = runBoth(p);
      setrlimit(RLIMIT_FSIZE, &saved);
      signal(SIGXFSZ, oldHandler);
      EXPECT_FALSE(r.ok);
      if (existing && !c.limitSize) {
        EXPECT_EQ("old content", r.files["f/big"]);
      } else if (!existing) {
        EXPECT_EQ(0u, r.files.count("f/big"));
      }
      EXPECT_EQ(0u, r.files.count("f/after"));
      EXPECT_FALSE(archive_.lastFileCreated());
    }
  }
}
#endif

// A monitor that asks for an abort once progress passes 40% of the payload.
class AbortAtFortyPercent : public ProgressEvent {
 public:
  void percentDone(uint32_t percent, bool* abort) override {
    if (percent >= 40) *abort = true;
  }
};

// Progress counts written chunks, so an abort asked for at 40% is seen
// after the same chunk with one decoder and with three: the entry stops
// there, the chunks read ahead are dropped, and the source stands just
// after that chunk.
TEST_F(PipelineTest, AnAbortStopsTheEntryAfterTheSameChunk) {
  PayloadBuilder p;
  nineChunks(p, 0, {});
  src_.setProgressByBytes(true);
  RunResult results[2];
  for (int i = 0; i < 2; ++i) {
    AbortAtFortyPercent sink;
    ProgressMonitor pm(&sink, 0, static_cast<int64_t>(p.bytes().size()));
    results[i] = runWith(i == 0 ? 1 : 3, p, "", &pm);
    EXPECT_TRUE(pm.isAborted());
  }
  for (RunResult& r : results) {
    EXPECT_FALSE(r.ok);
    EXPECT_NE(std::string::npos,
              r.log.find("Source read aborted by application callback."))
        << r.log;
    // The aborted entry's file, which the run created, is gone again.
    EXPECT_EQ(0u, r.files.count("f/big")) << "a half-written file stayed";
  }
  EXPECT_EQ(results[0].log, results[1].log);
  EXPECT_EQ(results[0].position, results[1].position);
  EXPECT_LT(results[0].position, static_cast<int64_t>(p.bytes().size()) / 2);
  EXPECT_EQ(results[0].files["f/big"], results[1].files["f/big"]);
}

// Decoding across entries: a tree of many small files, read ahead over the
// entry records while earlier files are written, gives the same files, log,
// undo records and position with one decoder and with three, intact and
// for every failure at every file of the tree.
constexpr int kTreeFiles = 12;

struct TreeSpoil {
  int at = -1;          // the file spoiled (its first chunk)
  Bytes chunk;          // replaces that chunk when not empty
  bool flipLast = false;  // the chunk's last byte is changed (ciphertext)
  size_t bigText = 0;   // that file gets this much text instead
};

std::string treeText(int i, size_t bigText) {
  if (i == 3) return "";  // the empty file
  return chunkText(100 + i, bigText ? bigText : 200 + 97 * i);
}

std::string treeName(int i) {
  return (i < 6 ? "t/f" : "t/sub/f") + std::to_string(i);
}

// "t", files t/f0 .. t/f5, "t/sub", files t/sub/f6 .. t/sub/f11: stored
// and deflated by turns, f3 empty, f7 of six chunks (more than the slots,
// so that it is still being read when its call begins). `offsets` gets each
// file's payload offset.
void tree(PayloadBuilder& p, const TreeSpoil& spoil,
          std::vector<size_t>* offsets = nullptr) {
  p.dir("t");
  for (int i = 0; i < kTreeFiles; ++i) {
    if (i == 6) p.dir("t/sub");
    if (offsets) offsets->push_back(p.bytes().size());
    const bool spoiled = i == spoil.at;
    std::string text = treeText(i, spoiled ? spoil.bigText : 0);
    p.head(2, treeName(i));
    size_t parts = i == 7 ? 6 : 1;
    for (size_t part = 0; part < parts && !text.empty(); ++part) {
      size_t from = text.size() * part / parts;
      std::string piece =
          text.substr(from, text.size() * (part + 1) / parts - from);
      if (spoiled && part == 0 && !spoil.chunk.empty()) {
        p.compressed(spoil.chunk);
      } else if (i % 2 == 0) {
        p.stored(bytesOf(piece));
      } else {
        p.compressed(deflateLiterals(piece));
      }
      if (spoiled && part == 0 && spoil.flipLast) p.bytes().back() ^= 0x5A;
    }
    p.endFile();
  }
  p.end();
}

// The files of the tree before file `upTo`, as extracted.
void expectTreeUpTo(const RunResult& r, int upTo) {
  for (int i = 0; i < kTreeFiles; ++i) {
    SCOPED_TRACE(treeName(i));
    auto found = r.files.find(treeName(i));
    if (i < upTo) {
      ASSERT_NE(r.files.end(), found);
      EXPECT_EQ(treeText(i, 0), found->second);
    } else {
      EXPECT_EQ(r.files.end(), found);
    }
  }
}

TEST_F(PipelineTest, AnIntactTreeIsTheSameWithOneAndThreeDecoders) {
  for (const char* password : {"", "pw"}) {
    SCOPED_TRACE(*password ? "encrypted" : "plain");
    TearDown();
    SetUp();
    PayloadBuilder p(password);
    tree(p, {});
    RunResult r = runBoth(p, password);
    EXPECT_TRUE(r.ok) << r.log;
    expectTreeUpTo(r, kTreeFiles);
    EXPECT_EQ(static_cast<int64_t>(p.bytes().size()), r.position);
    EXPECT_EQ(2, r.undo);  // the folders t and t/sub
  }
}

// A failure at each file of the tree, of each kind that data can fail by:
// the files before it are extracted, it and the files after it are not,
// and everything else agrees between one and three decoders.
TEST_F(PipelineTest, ATreeFailsAtEachFileTheSameWithOneAndThreeDecoders) {
  struct Kind {
    const char* what;
    const char* password;
    std::function<TreeSpoil(int)> spoil;
    bool cut;  // the payload ends in the middle of the file's chunk
    const char* message;
    bool flipsCipher = false;
  } kinds[] = {
      {"undecodable chunk", "",
       [](int i) { return TreeSpoil{i, deflateThenBreak(treeText(i, 0) + "x"), false, 0}; },
       false, "Failed to inflate compressed data."},
      {"undecodable encrypted chunk", "pw",
       [](int i) { return TreeSpoil{i, deflateThenBreak(treeText(i, 0) + "x"), false, 0}; },
       false, "Failed to inflate compressed data."},
      {"damaged ciphertext", "pw",
       [](int i) { return TreeSpoil{i, {}, true, 0}; }, false,
       "Failed to inflate compressed data.", true},
      {"truncated payload", "", [](int i) { return TreeSpoil{i, {}, false, 0}; },
       true, "Failed to read"},
  };
  for (const Kind& k : kinds) {
    SCOPED_TRACE(k.what);
    for (int at = 0; at < kTreeFiles; ++at) {
      if (at == 3 && !k.cut) continue;  // the empty file has no chunk
      // Damaged ciphertext is found when it no longer inflates; a stored
      // chunk has no check without the integrity record.
      if (k.flipsCipher && at % 2 == 0) continue;
      SCOPED_TRACE("at file " + std::to_string(at));
      TearDown();
      SetUp();
      PayloadBuilder p(k.password);
      std::vector<size_t> offsets;
      tree(p, k.spoil(at), &offsets);
      if (k.cut) {
        // Into the file's first chunk, or just after its header when empty.
        size_t headerEnd = offsets[at] + 4 + 1 + 2 + treeName(at).size() + 12;
        p.bytes().resize(headerEnd + (at == 3 ? 2 : 30));
      }
      RunResult r = runBoth(p, k.password);
      EXPECT_FALSE(r.ok);
      EXPECT_NE(std::string::npos, r.log.find(k.message)) << r.log;
      expectTreeUpTo(r, at);
    }
  }
}

// A wrong password fails the same way: the verifier refuses it before any
// entry, with one decoder and with three.
TEST_F(PipelineTest, AWrongPasswordIsTheSameWithOneAndThreeDecoders) {
  PayloadBuilder p("pw");
  tree(p, {});
  RunResult r = runBoth(p, "other");
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.files.empty());
}

// A monitor that asks for an abort once progress reaches `percent`.
class AbortAt : public ProgressEvent {
 public:
  explicit AbortAt(uint32_t percent) : percent_(percent) {}
  void percentDone(uint32_t percent, bool* abort) override {
    if (percent >= percent_) *abort = true;
  }

 private:
  uint32_t percent_;
};

// An abort from the progress callback at every tenth of the tree stops the
// run at the same file, with the same log and position, whether the files
// after it were read ahead or not.
TEST_F(PipelineTest, AnAbortAnywhereInATreeIsTheSameWithOneAndThreeDecoders) {
  for (const char* password : {"", "pw"}) {
    SCOPED_TRACE(*password ? "encrypted" : "plain");
    PayloadBuilder p(password);
    tree(p, {});
    src_.setProgressByBytes(true);
    for (uint32_t percent = 5; percent < 100; percent += 10) {
      SCOPED_TRACE(std::to_string(percent) + "%");
      RunResult results[2];
      for (int i = 0; i < 2; ++i) {
        AbortAt sink(percent);
        ProgressMonitor pm(&sink, 0, static_cast<int64_t>(p.bytes().size()));
        results[i] = runWith(i == 0 ? 1 : 3, p, password, &pm);
        EXPECT_TRUE(pm.isAborted());
        fs::remove_all(root_ / ("out" + std::to_string(i == 0 ? 1 : 3)));
      }
      EXPECT_FALSE(results[0].ok);
      EXPECT_EQ(results[0].ok, results[1].ok);
      EXPECT_EQ(results[0].log, results[1].log);
      EXPECT_EQ(results[0].position, results[1].position);
      EXPECT_EQ(results[0].undo, results[1].undo);
      EXPECT_TRUE(results[0].files == results[1].files);
    }
  }
}

#ifndef _WIN32
// A write that fails (the process's file size limit) at each file of the
// tree: the files before it stay, the failed one is deleted again.
TEST_F(PipelineTest, AWriteFailureAtEachFileOfATreeIsTheSame) {
  struct rlimit saved;
  ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
  void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  for (int at = 0; at < kTreeFiles; ++at) {
    if (at == 3) continue;  // the empty file
    SCOPED_TRACE("at file " + std::to_string(at));
    TearDown();
    SetUp();
    PayloadBuilder p;
    tree(p, TreeSpoil{at, {}, false, 40000});
    struct rlimit limited = saved;
    limited.rlim_cur = 20000;
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &limited));
    RunResult r = runBoth(p);
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(std::string::npos, r.log.find("Failed to write file data."))
        << r.log;
    expectTreeUpTo(r, at);
  }
  signal(SIGXFSZ, oldHandler);
}
#endif

// Files that exist already are decoded once before they are replaced,
// which puts the reader back: the tree still extracts alike, and a later
// failure leaves them as they were.
TEST_F(PipelineTest, ExistingFilesInATreeAreTheSameWithOneAndThreeDecoders) {
  for (int badAt : {-1, 4, 9}) {
    SCOPED_TRACE("failure at " + std::to_string(badAt));
    TearDown();
    SetUp();
    for (int decoders : {1, 3}) {
      fs::path dir = root_ / ("out" + std::to_string(decoders));
      fs::create_directories(dir / "t" / "sub");
      std::ofstream(dir / "t" / "f4") << "old content";
      std::ofstream(dir / "t" / "sub" / "f9") << "old content";
    }
    PayloadBuilder p;
    TreeSpoil spoil;
    if (badAt >= 0) spoil = {badAt, deflateThenBreak(treeText(badAt, 0)), false, 0};
    tree(p, spoil);
    RunResult r = runBoth(p);
    EXPECT_EQ(badAt < 0, r.ok) << r.log;
    EXPECT_EQ(badAt == 4 ? "old content" : treeText(4, 0), r.files["t/f4"]);
    EXPECT_EQ(badAt >= 0 ? "old content" : treeText(9, 0), r.files["t/sub/f9"]);
  }
}

}  // namespace
}  // namespace extract_test
}  // namespace sfx
