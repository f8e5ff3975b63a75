// DecodeEntryToFile on real files under Wine: block-wise writes, failing targets,
// missing arguments and streams too short for their length.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "lzari/lzari_encoder.h"
#include "tests/e2e/harness.h"

namespace e2e {
namespace {

const size_t Block = 32768;

struct EntryRun {
  int status = -1;
  bool decoding = false;                      // reached the call
  int result = -1;                            // -1 when the call never returned
  std::vector<std::pair<long, long>> writes;  // asked, done
  std::vector<std::string> missing;
  std::string output;
};

EntryRun RunEntry(std::vector<std::string> args) {
  args.insert(args.begin(), ToWindowsPath(WinDir() + "/tests/lzari_entry.exe"));
  CommandResult r = RunWine(args);
  EntryRun run;
  run.status = r.status;
  run.output = r.output;
  std::istringstream in(r.output);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    long asked, done;
    if (line == "decoding") run.decoding = true;
    if (line.rfind("result=", 0) == 0) run.result = std::stoi(line.substr(7));
    if (std::sscanf(line.c_str(), "write=%ld:%ld", &asked, &done) == 2)
      run.writes.push_back({asked, done});
    if (line.rfind("missing=", 0) == 0) run.missing.push_back(line.substr(8));
  }
  return run;
}

// Text with repeats and noise, so the stream holds literals and matches alike.
std::string Sample(size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string s;
  while (s.size() < n) {
    if (s.size() > 100 && random() % 3 == 0)
      s += s.substr(s.size() - 1 - random() % 100, 3 + random() % 40);
    else
      s.push_back(static_cast<char>(random()));
  }
  s.resize(n);
  return s;
}

std::string Encode(const std::string& text) {
  std::vector<uint8_t> stream =
      LzariEncode(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  return std::string(stream.begin(), stream.end());
}

TEST(DecodeEntryToFile, WritesEveryFullBufferThenTheRest) {
  struct Case {
    const char* name;
    std::string stream;
    std::string text;
  };
  std::vector<Case> cases;
  for (size_t n : {size_t(0), size_t(1), Block - 1, Block, 2 * Block, 3 * Block, Block + 1,
                   3 * Block + 12345}) {
    std::string text = Sample(n, static_cast<unsigned>(n));
    cases.push_back({"encoded", Encode(text), text});
  }
  // A size byte 0xFF is a byte like any other: 255 bytes, all from 1-bits.
  cases.push_back({"FF 00 00 00", std::string("\xFF\0\0\0", 4), std::string(255, '\0')});

  Sandbox box = MakeSandbox("lzari_blocks");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.text.size()));
    WriteFile(box.root + "/in.lz", c.stream);
    EntryRun run = RunEntry(
        {"decode", ToWindowsPath(box.root + "/in.lz"), ToWindowsPath(box.root + "/out.bin")});
    EXPECT_EQ(run.result, 1) << run.output;
    std::vector<std::pair<long, long>> expected(c.text.size() / Block, {long(Block), long(Block)});
    if (c.text.size() % Block != 0)
      expected.push_back({long(c.text.size() % Block), long(c.text.size() % Block)});
    EXPECT_EQ(run.writes, expected);
    EXPECT_TRUE(ReadFile(box.root + "/out.bin") == c.text);
  }
}

TEST(DecodeEntryToFile, ShortOrFailedWriteFailsTheEntryAndStopsDecoding) {
  struct Case {
    const char* name;
    size_t size;
    std::vector<std::string> fault;
    size_t writes;  // attempted before the call gave up
  };
  const Case cases[] = {
      {"first full buffer short", 3 * Block + 5, {"short", "1"}, 1},
      {"second full buffer fails", 3 * Block + 5, {"fail", "2"}, 2},
      {"last full buffer short, no remainder", 2 * Block, {"short", "2"}, 2},
      {"final write short", Block + 1, {"short", "2"}, 2},
      {"final write fails", 100, {"fail", "1"}, 1},
  };
  Sandbox box = MakeSandbox("lzari_faults");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(box.root + "/in.lz", Encode(Sample(c.size, 7)));
    std::vector<std::string> args = {"decode", ToWindowsPath(box.root + "/in.lz"),
                                     ToWindowsPath(box.root + "/out.bin")};
    args.insert(args.end(), c.fault.begin(), c.fault.end());
    EntryRun run = RunEntry(args);
    EXPECT_EQ(run.result, 0) << run.output;
    EXPECT_EQ(run.writes.size(), c.writes) << run.output;
  }
}

TEST(DecodeEntryToFile, TargetThatRefusesWritesFails) {
  // A handle open for reading only: every _hwrite answers -1.
  struct Case {
    size_t size;
    int result;
    size_t writes;
  };
  const Case cases[] = {
      {0, 1, 0},          // nothing to write, nothing can fail
      {10, 0, 1},         // the final write
      {5 * Block, 0, 1},  // the first full buffer; decoding stops there
  };
  Sandbox box = MakeSandbox("lzari_readonly");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    std::string original = "existing content";
    WriteFile(box.root + "/target.bin", original);
    WriteFile(box.root + "/in.lz", Encode(Sample(c.size, 3)));
    EntryRun run = RunEntry(
        {"readonly", ToWindowsPath(box.root + "/in.lz"), ToWindowsPath(box.root + "/target.bin")});
    EXPECT_EQ(run.result, c.result) << run.output;
    EXPECT_EQ(run.writes.size(), c.writes);
    for (const auto& w : run.writes) EXPECT_EQ(w.second, -1);
    EXPECT_EQ(ReadFile(box.root + "/target.bin"), original);
  }
}

TEST(DecodeEntryToFile, MissingArgumentDoesNothing) {
  Sandbox box = MakeSandbox("lzari_missing");
  WriteFile(box.root + "/in.lz", Encode(Sample(50000, 5)));
  EntryRun run = RunEntry({"missing", ToWindowsPath(box.root + "/in.lz")});
  // name:result:writes:decoder record untouched
  std::vector<std::string> expected = {"decoder:0:0:1", "buffer:0:0:1", "size:0:0:1", "input:0:0:1",
                                       "file:0:0:1"};
  EXPECT_EQ(run.missing, expected) << run.output;
}

TEST(DecodeEntryToFile, StreamShorterThanItsLengthEndsTheProcessWithStatusOne) {
  Sandbox box = MakeSandbox("lzari_short");
  for (size_t length = 0; length < 4; ++length) {
    SCOPED_TRACE(length);
    WriteFile(box.root + "/in.lz", std::string(length, '\x07'));
    EntryRun run = RunEntry(
        {"decode", ToWindowsPath(box.root + "/in.lz"), ToWindowsPath(box.root + "/out.bin")});
    EXPECT_TRUE(run.decoding) << run.output;
    EXPECT_EQ(run.result, -1) << "the call returned";
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.writes.empty());
  }
}

}  // namespace
}  // namespace e2e
