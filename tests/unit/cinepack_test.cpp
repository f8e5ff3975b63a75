// The packer: entry names, the layout it writes, refusals that leave nothing behind,
// and list/verify/extract on sound and damaged projectors.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>

#include "lzari/lzari_decoder.h"
#include "lzari/lzari_memory_source.h"
#include "tools/cinepack.h"

namespace fs = std::filesystem;

namespace {

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void Write(const fs::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
}

std::string Pattern(size_t size, unsigned seed) {
  std::string s(size, 0);
  for (size_t i = 0; i < size; ++i) {
    seed = seed * 1664525u + 1013904223u;
    s[i] = static_cast<char>((i % 7 == 0) ? 'x' : (seed >> 24));
  }
  return s;
}

int32_t DecodeInto(void* context, int32_t byte) {
  static_cast<std::string*>(context)->push_back(static_cast<char>(byte));
  return byte;
}

std::string Decode(const std::string& stream) {
  static LzariDecoder decoder;
  MemorySource source = {reinterpret_cast<const uint8_t*>(stream.data()), 0,
                         static_cast<int32_t>(stream.size())};
  std::string out;
  LzariDecodeStream(&decoder, ReadMemoryByte, &source, DecodeInto, &out);
  return out;
}

class Cinepack : public testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("cinepack_test_" + std::to_string(getpid()) + "_" +
           testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    stub = std::string(1000, 'S');  // not a multiple of 512: the header goes to 1024
    Write(dir / "launcher.exe", stub);
    Write(dir / "movie.dat", "QMV1movie");
    Write(dir / "cine.dll", Pattern(70000, 1));
    Write(dir / "notes.txt", std::string(50000, 'n') + Pattern(1000, 2));
    options.stub = (dir / "launcher.exe").string();
    options.movie = (dir / "movie.dat").string();
    options.output = (dir / "OUT.EXE").string();
  }
  void TearDown() override { fs::remove_all(dir); }

  std::string Build() {
    std::ostringstream progress;
    return BuildProjector(options, progress);
  }

  PayloadHeader HeaderOf(const std::string& image) {
    uint32_t at = 0;
    memcpy(&at, &image[image.size() - 4], 4);
    PayloadHeader h;
    memcpy(&h, &image[at], sizeof h);
    return h;
  }

  // Overwrites the dword at `offset` into the header.
  void PatchHeader(size_t offset, int32_t value) {
    std::string image = Read(options.output);
    uint32_t at = 0;
    memcpy(&at, &image[image.size() - 4], 4);
    memcpy(&image[at + offset], &value, 4);
    Write(options.output, image);
  }
  void Patch(int slot, size_t field, int32_t value) { PatchHeader(24 + 52 * slot + field, value); }

  fs::path dir;
  std::string stub;
  BuildOptions options;
};

TEST(CinepackNames, FileNamesBecomeSlotFieldsOrAClearRefusal) {
  struct Case {
    const char* file;
    bool compress;
    const char* name;
    const char* extension;
    const char* extractExtension;
    const char* refusal;  // part of the message, or null
  };
  const Case cases[] = {
      {"cine.dll", false, "cine", "dll", "dll", nullptr},
      {"cine.dll", true, "cine", "dl_", "dll", nullptr},
      {"odd.dl_", true, "odd", "dl$", "dl_", nullptr},
      {"README", false, "README", "", "", nullptr},
      {"README", true, "README", "_", "", nullptr},
      {"index.html", true, "index", "ht_", "html", nullptr},
      {"archive.tar.gz", false, "archive.tar", "gz", "gz", nullptr},
      {"index.html", false, nullptr, nullptr, nullptr, "longer than 3"},
      {"movie.abcdefg", true, nullptr, nullptr, nullptr, "longer than 6"},
      {"abcdefghijabcdefghijabcdefghijabc.dll", false, nullptr, nullptr, nullptr, "longer than 32"},
      {"con.dll", false, nullptr, nullptr, nullptr, "not a name the launcher accepts"},
      {"a..b.dll", false, "a..b", "dll", "dll", nullptr},
      {"a:b.dll", false, nullptr, nullptr, nullptr, "not a name the launcher accepts"},
  };
  for (const Case& c : cases) {
    PayloadEntry e;
    std::string refusal = MakeEntryNames(c.file, c.compress, &e);
    if (c.refusal) {
      EXPECT_NE(refusal.find(c.refusal), std::string::npos) << c.file << ": " << refusal;
      continue;
    }
    ASSERT_EQ(refusal, "") << c.file;
    EXPECT_STREQ(e.name, c.name);
    EXPECT_STREQ(e.extension, c.extension);
    EXPECT_STREQ(e.extractExtension, c.extractExtension);
    EXPECT_EQ(IsStoredEntry(&e) != 0, !c.compress) << c.file;
  }
  // 32 characters are the most a name holds.
  PayloadEntry e;
  EXPECT_EQ(MakeEntryNames(std::string(32, 'n') + ".dll", false, &e), "");
}

TEST_F(Cinepack, WritesStubFillHeaderEntriesMovieAndTrailer) {
  options.leading = {"save.dat"};
  options.extracts = {{(dir / "cine.dll").string(), false}, {(dir / "notes.txt").string(), true}};
  options.option = true;
  options.noSplash = true;
  ASSERT_EQ(Build(), "");
  std::string image = Read(options.output);
  EXPECT_EQ(image.substr(0, 1000), stub);
  EXPECT_EQ(image.substr(1000, 24), std::string(24, '\0'));
  uint32_t trailer = 0;
  memcpy(&trailer, &image[image.size() - 4], 4);
  EXPECT_EQ(trailer, 1024u);
  PayloadHeader h = HeaderOf(image);
  EXPECT_EQ(h.magic, PayloadMagic);
  EXPECT_EQ(h.flags, PayloadOptionFlag);
  EXPECT_EQ(h.flags2 & PayloadNoSplashMask, 0x4u);
  EXPECT_EQ(h.entryCount, 3);
  EXPECT_EQ(h.extractCount, 2);
  EXPECT_TRUE(HasValidEntryTable(&h, SingleByteCodePage));
  // Data follows the header without gaps, in slot order; the leading entry has none.
  EXPECT_EQ(h.entries[0].offset, 1024 + 292);
  EXPECT_EQ(h.entries[0].size, 0);
  EXPECT_STREQ(h.entries[0].name, "save");
  EXPECT_EQ(h.entries[1].offset, 1024 + 292);
  EXPECT_EQ(image.substr(h.entries[1].offset, h.entries[1].size), Read(dir / "cine.dll"));
  EXPECT_EQ(h.entries[2].offset, h.entries[1].offset + h.entries[1].size);
  EXPECT_FALSE(IsStoredEntry(&h.entries[2]));
  EXPECT_EQ(Decode(image.substr(h.entries[2].offset, h.entries[2].size)), Read(dir / "notes.txt"));
  EXPECT_EQ(h.movieOffset, h.entries[2].offset + h.entries[2].size);
  EXPECT_EQ(image.substr(h.movieOffset, 9), "QMV1movie");
  EXPECT_EQ(image.size(), static_cast<size_t>(h.movieOffset) + 9 + 4);
  for (int i = 3; i < 5; ++i) {
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&h.entries[i]), 52), std::string(52, '\0'));
  }
}

TEST_F(Cinepack, RefusalsWriteNothingAndKeepAnExistingOutput) {
  Write(options.output, "previous projector");
  Write(dir / "with_payload.exe", "");
  struct Case {
    const char* what;
    std::function<void(BuildOptions&)> change;
    const char* message;
  };
  std::string d = dir.string();
  const Case cases[] = {
      {"six entries", [&](BuildOptions& o) {
         o.leading = {"a.x", "b.x", "c.x"};
         o.extracts = {{d + "/cine.dll"}, {d + "/notes.txt"}, {d + "/movie.dat"}};
       }, "at most 5"},
      {"missing movie", [&](BuildOptions& o) { o.movie = d + "/nothing"; }, "cannot read the movie"},
      {"missing entry", [&](BuildOptions& o) { o.extracts = {{d + "/nothing.dll"}}; }, "cannot read"},
      {"missing stub", [&](BuildOptions& o) { o.stub = d + "/nothing.exe"; }, "cannot read the stub"},
      {"long name", [&](BuildOptions& o) { o.leading = {std::string(33, 'l') + ".dat"}; }, "longer than 32"},
      {"same target twice", [&](BuildOptions& o) {
         o.extracts = {{d + "/cine.dll"}, {d + "/CINE.DLL", true}};
       }, "both be written"},
      {"stub with a payload", [&](BuildOptions& o) { o.stub = o.output + ".packed"; }, "already carries a payload"},
      {"signing without osslsigncode", [&](BuildOptions& o) {
         o.signCertificate = d + "/cine.dll";
         o.signKey = d + "/notes.txt";
         o.signTool = "no-such-osslsigncode";
       }, "no-such-osslsigncode is not installed"},
      {"signing without a key", [&](BuildOptions& o) { o.signCertificate = d + "/cine.dll"; },
       "needs both a certificate and a key"},
  };
  // A stub that is itself a projector.
  BuildOptions first = options;
  first.output = options.output + ".packed";
  std::ostringstream progress;
  ASSERT_EQ(BuildProjector(first, progress), "");
  Write(dir / "CINE.DLL", "upper");
  for (const Case& c : cases) {
    BuildOptions o = options;
    c.change(o);
    std::string message = BuildProjector(o, progress);
    EXPECT_NE(message.find(c.message), std::string::npos) << c.what << ": " << message;
    EXPECT_EQ(Read(options.output), "previous projector") << c.what;
    EXPECT_FALSE(fs::exists(options.output + ".cinepack-partial")) << c.what;
  }
}

TEST_F(Cinepack, VerifyAndListAcceptASoundProjectorAndExtractRestoresItsFiles) {
  options.leading = {"save.dat"};
  options.extracts = {{(dir / "cine.dll").string(), true}, {(dir / "notes.txt").string(), false}};
  ASSERT_EQ(Build(), "");
  std::ostringstream out, progress;
  EXPECT_EQ(VerifyProjector(options.output, out, progress), 0) << out.str();
  EXPECT_NE(out.str().find("OK"), std::string::npos);
  std::ostringstream listing;
  EXPECT_EQ(ListProjector(options.output, listing), 0);
  for (const char* expected : {"leading", "deletes save.dat", "compressed", "writes cine.dll",
                               "70000 bytes expanded", "stored", "writes notes.txt"}) {
    EXPECT_NE(listing.str().find(expected), std::string::npos) << expected << "\n" << listing.str();
  }
  fs::path into = dir / "unpacked";
  EXPECT_EQ(ExtractProjector(options.output, into.string(), out, progress), 0) << out.str();
  EXPECT_EQ(Read(into / "cine.dll"), Read(dir / "cine.dll"));
  EXPECT_EQ(Read(into / "notes.txt"), Read(dir / "notes.txt"));
  EXPECT_EQ(Read(into / MovieFileName), "QMV1movie");
  EXPECT_FALSE(fs::exists(into / "save.dat"));
}

// A signable projector leaves signing nothing to pad, and once a certificate table
// follows it, list and extract read the payload before the table.
TEST_F(Cinepack, SignableProjectorEndsOnEightBytesAndIsReadBeforeItsCertificateTable) {
  auto put = [](std::string& image, size_t at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) image[at + i] = static_cast<char>(value >> (8 * i));
  };
  // PE32 headers with 16 directories and no sections: enough for the security directory.
  stub.replace(0, 2, "MZ");
  put(stub, 0x3C, 0x40, 4);
  stub.replace(0x40, 4, std::string("PE\0\0", 4));
  put(stub, 0x40 + 6, 0, 2);
  put(stub, 0x40 + 20, 224, 2);
  put(stub, 0x40 + 24, 0x10B, 2);
  put(stub, 0x40 + 24 + 92, 16, 4);
  Write(options.stub, stub);
  options.extracts = {{(dir / "cine.dll").string(), false}};
  options.signable = true;
  for (size_t extra = 0; extra < 8; ++extra) {
    SCOPED_TRACE(extra);
    std::string movie = "QMV1movie" + std::string(extra, 'm');
    Write(options.movie, movie);
    ASSERT_EQ(Build(), "");
    std::string image = Read(options.output);
    EXPECT_EQ(image.size() % 8, 0u);
    PayloadHeader h = HeaderOf(image);
    size_t fill = static_cast<size_t>(h.entries[0].offset) - PayloadHeaderSize - 1000;
    EXPECT_EQ(image.substr(1000, fill), std::string(fill, '\0'));
    const std::string table(1480, 'C');
    put(image, 0x40 + 24 + 96 + 32, static_cast<uint32_t>(image.size()), 4);
    put(image, 0x40 + 24 + 96 + 36, static_cast<uint32_t>(table.size()), 4);
    Write(options.output, image + table);
    std::ostringstream listing, out, progress;
    EXPECT_EQ(ListProjector(options.output, listing), 0) << listing.str();
    EXPECT_NE(listing.str().find("signed        certificate table at"), std::string::npos);
    fs::path into = dir / ("unpacked" + std::to_string(extra));
    EXPECT_EQ(ExtractProjector(options.output, into.string(), out, progress), 0) << out.str();
    EXPECT_TRUE(Read(into / "cine.dll") == Read(dir / "cine.dll"));
    EXPECT_EQ(Read(into / MovieFileName), movie);
  }
}

TEST_F(Cinepack, VerifyFindsTheFirstProblem) {
  options.extracts = {{(dir / "notes.txt").string(), true}, {(dir / "cine.dll").string(), false}};
  ASSERT_EQ(Build(), "");
  const std::string good = Read(options.output);
  PayloadHeader h = HeaderOf(good);
  struct Case {
    const char* what;
    std::function<void()> damage;
    const char* problem;
  };
  const Case cases[] = {
      {"no trailer room", [&] { Write(options.output, good.substr(0, good.size() - 40)); }, "no payload"},
      {"plain file", [&] { Write(options.output, stub); }, "no payload"},
      {"counts", [&] { PatchHeader(16, 6); }, "outside the five-slot table"},
      {"stream under 4 bytes", [&] { Patch(0, 4, 3); }, "exit with status 1"},
      {"stream cut short", [&] { Patch(0, 4, h.entries[0].size / 2); }, "ends after"},
      {"stored past the end", [&] { Patch(1, 0, 0x7FFFFF00); }, "past the end of the file"},
      {"size past the end", [&] { Patch(1, 4, h.entries[1].size + 100); }, "past the end of the file"},
  };
  for (const Case& c : cases) {
    Write(options.output, good);
    c.damage();
    std::ostringstream out, progress;
    EXPECT_EQ(VerifyProjector(options.output, out, progress), 1) << c.what;
    EXPECT_NE(out.str().find(c.problem), std::string::npos) << c.what << ": " << out.str();
  }
}

TEST_F(Cinepack, ListSaysWhyThereIsNoPayloadOrAMalformedOne) {
  ASSERT_EQ(Build(), "");
  std::string good = Read(options.output);
  struct Case { const char* what; std::string image; const char* says; };
  std::string wrongMagic = good;
  wrongMagic[1024] = 'X';
  std::string unterminated = good;
  unterminated[1024 + 16] = 1;  // one entry, whose name field is filled below
  unterminated[1024 + 20] = 1;
  memset(&unterminated[1024 + 24 + 8], 'n', 33);
  const Case cases[] = {
      {"tiny", "ab", "too short for a trailer"},
      {"magic", wrongMagic, "not \"10MC\""},
      {"offset over 2 GiB", stub + "\xF0\xFF\xFF\xFF", "2 GiB or more"},
      {"unterminated name", unterminated, "no terminator"},
  };
  for (const Case& c : cases) {
    Write(options.output, c.image);
    std::ostringstream out;
    EXPECT_EQ(ListProjector(options.output, out), 1) << c.what;
    EXPECT_NE(out.str().find(c.says), std::string::npos) << c.what << ": " << out.str();
  }
}

}  // namespace
