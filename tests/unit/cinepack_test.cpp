// The packer as its user meets it: the projector it writes, what it refuses (writing
// nothing), what list, verify and extract say about sound and damaged projectors, and
// signing through osslsigncode.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "tests/unit/payload_fake_platform.h"
#include "tools/cinepack.h"

namespace fs = std::filesystem;

namespace {

std::string Read(const fs::path& path) {
  return (std::ostringstream() << std::ifstream(path, std::ios::binary).rdbuf()).str();
}

void Write(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

// Where the trailer says the payload header is.
uint32_t HeaderOffset(const std::string& image) {
  uint32_t at;
  memcpy(&at, &image[image.size() - 4], 4);
  return at;
}

// A stub whose image (headers and one section) ends at its end, after `size` bytes.
std::string PeStub(uint32_t size) {
  std::string stub(size, 'S');
  payload_fake::PutImageEnd(stub, size);
  return stub;
}

enum Subcommand { List, Verify };

// A scratch folder with a stub, a movie and two files to pack; removed afterwards.
class Cinepack : public testing::Test {
 protected:
  fs::path dir = fs::temp_directory_path() / ("cinepack_test_" + std::to_string(getpid()));
  // Not a multiple of 512: the header goes to 1024, or to 1536 after the record.
  std::string stub = PeStub(1000);
  BuildOptions options;
  Cinepack() {
    fs::create_directories(dir);
    std::string dll(70000, 'x');
    for (size_t i = 0; i < dll.size(); i += 3) dll[i] = char(i * 2654435761u >> 24);
    Write(dir / "cine.dll", dll);
    Write(dir / "notes.txt", std::string(50000, 'n') + dll.substr(0, 1000));
    Write(options.stub = File("launcher.exe"), stub);
    Write(options.movie = File("movie.dat"), "QMV1movie");
    options.output = File("OUT.EXE");
  }
  ~Cinepack() override { fs::remove_all(dir); }
  std::string File(const char* name) const { return (dir / name).string(); }
  std::string Build(const BuildOptions& o) const {
    std::ostringstream progress;
    return BuildProjector(o, progress);
  }
  // That the subcommand exits with `status` on the output, each of `lines` in what it prints.
  void ExpectSaid(Subcommand command, int status, const std::vector<std::string>& lines,
                  const std::string& trusted = "") {
    std::ostringstream out;
    std::ostringstream progress;
    const int said = command == List ? ListProjector(options.output, out)
                                     : VerifyProjector(options.output, out, progress, trusted);
    EXPECT_EQ(said, status) << out.str();
    for (const std::string& line : lines) {
      EXPECT_NE(out.str().find(line), std::string::npos) << line << "\n" << out.str();
    }
  }
};

TEST_F(Cinepack, FileNamesBecomeSlotNamesOrAClearRefusal) {
  struct Case {
    std::string file;
    bool compress;
    std::vector<std::string> names;  // name, extension, extract extension
    const char* refusal = nullptr;
    uint32_t codePage = 0;
  };
  std::string Ji16, Ji16InCp932;  // 字 (8E 9A in code page 932) sixteen times: 32 bytes there
  for (int i = 0; i < 16; ++i) {
    Ji16 += "字";
    Ji16InCp932 += "\x8E\x9A";
  }
  const Case cases[] = {
      {"cine.dll", false, {"cine", "dll", "dll"}},
      {"cine.dll", true, {"cine", "dl_", "dll"}},
      {"odd.dl_", true, {"odd", "dl$", "dl_"}},
      {"README", false, {"README", "", ""}},
      {"README", true, {"README", "_", ""}},
      {"index.html", true, {"index", "ht_", "html"}},
      {"a.tar.gz", false, {"a.tar", "gz", "gz"}},
      {std::string(32, 'n') + ".x", false, {std::string(32, 'n'), "x", "x"}},
      {"index.html", false, {}, "longer than 3"},
      {"movie.abcdefg", true, {}, "longer than 6"},
      {std::string(33, 'n') + ".x", false, {}, "longer than 32"},
      {"con.dll", false, {}, "not a name the launcher accepts"},
      // Outside ASCII only in the code page asked for, in its bytes and by its rule: "表" is
      // 95 5C in 932, not a backslash after its lead byte.
      {"字幕.txt", false, {}, "outside ASCII"},
      {"字幕.txt", false, {"\x8E\x9A\x96\x8B", "txt", "txt"}, nullptr, 932},
      {Ji16 + ".txt", false, {Ji16InCp932, "txt", "txt"}, nullptr, 932},
      {Ji16 + "字.txt", false, {}, "longer than 32", 932},
      {"Фильм.dat", false, {"\xD4\xE8\xEB\xFC\xEC", "dat", "dat"}, nullptr, 1251},
      {"字幕.txt", false, {}, "code page 1251 cannot spell it", 1251},
      {"表.dat", false, {"\x95\x5C", "dat", "dat"}, nullptr, 932},
  };
  for (const Case& c : cases) {
    PayloadEntry e;
    const std::string refusal = MakeEntryNames(c.file, c.compress, c.codePage, &e);
    if (c.names.empty()) {
      EXPECT_NE(refusal.find(c.refusal), std::string::npos) << c.file << ": " << refusal;
    } else {
      EXPECT_EQ(refusal, "") << c.file;
      EXPECT_EQ(std::vector<std::string>({e.name, e.extension, e.extractExtension}), c.names);
    }
  }
}

// The stub, the integrity record, the header at the next 512 bytes and on until the length
// is a multiple of 8 (signing adds no padding then), the entries, the movie, the trailer:
// list, verify and extract read it back, and the end-to-end tests run it. Made longer, as
// another packer may leave it, and given a certificate table after the zero bytes of
// padding a signing tool adds, it is still read by the trailer rule; the table is no
// signature osslsigncode can read, so verify fails on it; sign removes it.
TEST_F(Cinepack, WritesAProjectorThatListVerifyAndExtractReadBack) {
  options.leading = {"save.dat"};
  options.extracts = {{File("cine.dll"), true}, {File("notes.txt"), false}};
  options.option = true;
  options.noSplash = true;
  auto extracted = [&](const std::string& movie) {
    const fs::path into = dir / "unpacked";
    std::ostringstream out;
    std::ostringstream progress;
    EXPECT_EQ(ExtractProjector(options.output, into.string(), out, progress), 0) << out.str();
    EXPECT_TRUE(Read(into / "cine.dll") == Read(File("cine.dll")));
    EXPECT_TRUE(Read(into / "notes.txt") == Read(File("notes.txt")));
    EXPECT_EQ(Read(into / MovieFileName), movie);
    EXPECT_FALSE(fs::exists(into / "save.dat"));
  };
  const std::vector<std::string> entries = {
      "payload option 1", "splash off",           "deletes save.dat", "compressed",
      "writes cine.dll",  "70000 bytes expanded", "stored",           "writes notes.txt"};
  for (bool record : {true, false}) {
    SCOPED_TRACE(record ? "with the record" : "without the record");
    options.integrityRecord = record;
    ASSERT_EQ(Build(options), "");
    const std::string image = Read(options.output);
    const uint32_t at = HeaderOffset(image);
    const uint32_t boundary = record ? 1536 : 1024;
    EXPECT_TRUE(at >= boundary && at < boundary + 8) << at;
    EXPECT_EQ(image.size() % 8, 0u) << "signing would pad it";
    EXPECT_EQ(image.substr(0, 1000), stub);
    if (record) {
      const IntegrityRecord sealed = payload_fake::RecordFor(image, at);
      EXPECT_EQ(image.substr(1000, 40), std::string(reinterpret_cast<const char*>(&sealed), 40));
    }
    ExpectSaid(List, 0, entries);
    ExpectSaid(Verify, 0, {": OK, 3 entries, 2 extracted (121000 bytes)"});
    extracted("QMV1movie");
  }
  Write(options.output, payload_fake::Signed(Read(options.output), 3));
  ExpectSaid(List, 0, {"signed        certificate table at", "after 3 bytes"});
  ExpectSaid(Verify, 1, {": OK, 3", "osslsigncode cannot read the signature"});
  extracted("QMV1movieVVVVV");
  // Re-signing hands the signing tool the projector as it was before: without the table and
  // the padding, its security directory empty. The tool here keeps what it got and refuses,
  // and the refusal writes nothing.
  std::string before = Read(options.output);
  before.resize(before.size() - 1480 - 3);
  payload_fake::PutLE(before, payload_fake::Directories + 32, 0, 4);
  payload_fake::PutLE(before, payload_fake::Directories + 36, 0, 4);
  const std::string refuses =
      "while [ \"$1\" != -in ]; do shift; done; cp \"$2\" \"$0.in\"; exit 1";
  Write(dir / "signer", "#!/bin/sh\n" + refuses + "\n");
  fs::permissions(dir / "signer", fs::perms::owner_all);
  const std::string refusal = SignProjector(File("signer"), options.output, File("S.EXE"),
                                            File("cine.dll"), File("cine.dll"));
  EXPECT_EQ(refusal.rfind("osslsigncode could not sign", 0), 0u) << refusal;
  EXPECT_FALSE(fs::exists(File("S.EXE")));
  EXPECT_TRUE(Read(File("signer.in")) == before);
}

TEST_F(Cinepack, RefusalsWriteNothingAndKeepAnExistingOutput) {
  BuildOptions packed = options;
  packed.output = File("packed.exe");
  ASSERT_EQ(Build(packed), "");
  Write(options.output, "previous projector");
  Write(dir / "CINE.DLL", "upper");
  Write(dir / "overlaid.exe", stub + "overlay!");
  Write(dir / "cut.exe", stub.substr(0, 999));
  const std::string d = dir.string() + "/";
  options.extracts = {{d + "cine.dll"}};
  struct Case {
    std::function<void(BuildOptions&)> change;
    const char* message;
  };
  const Case cases[] = {
      {[](BuildOptions& o) { o.leading.assign(5, "save.dat"); }, "at most 5"},
      {[](BuildOptions& o) { o.codePage = 65001; }, "no system's ANSI code page"},
      {[&](BuildOptions& o) { o.movie = d + "nothing"; }, "cannot read the movie"},
      {[&](BuildOptions& o) { o.extracts = {{d + "nothing.dll"}}; }, "cannot read"},
      {[&](BuildOptions& o) { o.stub = d + "nothing.exe"; }, "cannot read the stub"},
      {[](BuildOptions& o) { o.leading = {std::string(33, 'l') + ".dat"}; }, "longer than 32"},
      {[&](BuildOptions& o) { o.extracts.push_back({d + "CINE.DLL"}); }, "both be"},
      {[&](BuildOptions& o) { o.stub = packed.output; }, "already carries a payload"},
      {[](BuildOptions& o) { o.signCertificate = o.signKey = o.signTool = "none"; }, "none is not"},
      {[&](BuildOptions& o) { o.signCertificate = d + "cine.dll"; }, "needs both"},
      {[&](BuildOptions& o) { o.stub = d + "notes.txt"; }, "no PE headers with a section table"},
      {[&](BuildOptions& o) { o.stub = d + "overlaid.exe"; }, "8 bytes after its image"},
      {[&](BuildOptions& o) { o.stub = d + "cut.exe"; }, "is cut short"},
  };
  for (const Case& c : cases) {
    BuildOptions o = options;
    c.change(o);
    const std::string message = Build(o);
    EXPECT_NE(message.find(c.message), std::string::npos) << c.message << ": " << message;
    EXPECT_EQ(Read(options.output), "previous projector") << c.message;
    EXPECT_FALSE(fs::exists(options.output + ".cinepack-partial")) << c.message;
  }
}

// With --sign every entry that is a PE image by its headers is signed before it is
// packed (and compressed); other files, and the user's own, stay as they are. verify says
// which is which; sign re-signs. The same inputs give the same bytes, signed ones too
// when SOURCE_DATE_EPOCH fixes the signing time.
TEST_F(Cinepack, SignedBuildsSignThePeEntriesAndRepeat) {
  const std::string pem = File("maker.pem");
  const std::string key = File("maker.key");
  const std::string command =
      "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=M -keyout " + key + " -out " +
      pem + " 2>/dev/null";
  ASSERT_EQ(system(command.c_str()), 0) << command;
  const std::string player = PeStub(5000);
  Write(dir / "player.dll", player);
  Write(dir / "runtime.bin", PeStub(3000));
  Write(dir / "fake.dll", "MZ, no headers");
  options.extracts = {{File("player.dll"), true}, {File("runtime.bin")}, {File("fake.dll")}};
  options.signCertificate = pem;
  options.signKey = key;
  setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
  ASSERT_EQ(Build(options), "");
  const std::string first = Read(options.output);
  ASSERT_EQ(Build(options), "");
  EXPECT_TRUE(Read(options.output) == first) << "two builds differ";
  EXPECT_TRUE(Read(dir / "player.dll") == player) << "the input was changed";
  const std::string trusted = "signed; the signature matches and its certificate is trusted\n";
  ExpectSaid(Verify, 0,
             {"slot 0 (player.dll): " + trusted, "slot 1 (runtime.bin): " + trusted,
              "slot 2 (fake.dll): no PE image, nothing to sign"},
             pem);
  // Re-signed a second later, then at the same time: whatever the clock says, only the
  // epoch decides, and the old signature goes.
  const std::string resigned = File("RESIGNED.EXE");
  for (const char* epoch : {"1700000001", "1700000000"}) {
    setenv("SOURCE_DATE_EPOCH", epoch, 1);
    EXPECT_EQ(SignProjector("osslsigncode", options.output, resigned, pem, key), "");
    EXPECT_EQ(Read(resigned) == first, epoch == std::string("1700000000"));
  }
  unsetenv("SOURCE_DATE_EPOCH");
  EXPECT_NE(SignProjector("osslsigncode", pem, File("PEM.EXE"), pem, key).find("no projector"),
            std::string::npos);
  EXPECT_FALSE(fs::exists(File("PEM.EXE")));
  // An entry changed after its maker signed it, packed unsigned: verify names it and fails.
  ASSERT_EQ(SignFile("osslsigncode", File("runtime.bin"), File("changed.dll"), pem, key), "");
  std::string changed = Read(File("changed.dll"));
  changed[2000] ^= 1;
  Write(File("changed.dll"), changed);
  options.extracts.push_back({File("changed.dll")});
  options.signCertificate = options.signKey = "";
  ASSERT_EQ(Build(options), "");
  ExpectSaid(Verify, 1, {"slot 3 (changed.dll): signed, but changed after signing"}, pem);
}

// With the integrity record, damage anywhere but the movie is found and named; without
// it, what the decoder and the offsets show.
TEST_F(Cinepack, ListAndVerifySayWhatIsWrongWithADamagedProjector) {
  options.extracts = {{File("notes.txt"), true}, {File("cine.dll"), false}};
  ASSERT_EQ(Build(options), "");
  const std::string sealed = Read(options.output);
  options.integrityRecord = false;
  ASSERT_EQ(Build(options), "");
  const std::string good = Read(options.output);
  const uint32_t goodAt = HeaderOffset(good);
  const uint32_t sealedAt = HeaderOffset(sealed);
  auto slot = [](int n, size_t field) { return 24 + 52 * n + field; };
  auto patch = [&](size_t at, uint32_t value) {
    std::string image = good;
    payload_fake::PutLE(image, goodAt + at, value, 4);
    return image;
  };
  auto flip = [&](size_t at) {
    std::string image = sealed;
    image[at] ^= 1;
    return image;
  };
  std::string unterminated = good;
  memset(&unterminated[goodAt + slot(0, 8)], 'n', 33);
  struct Case {
    std::string image;
    Subcommand command;
    const char* says;
  };
  const Case cases[] = {
      {"ab", List, "too short for a trailer"},
      {stub, Verify, "no payload"},
      {patch(0, 0), List, "not \"10MC\""},
      {stub + "\xF0\xFF\xFF\xFF", List, "2 GiB or more"},
      {patch(16, 6), Verify, "outside the five-slot table"},
      {unterminated, List, "no terminator"},
      {patch(slot(0, 4), 3), Verify, "would call the file damaged"},
      {patch(slot(0, 4), 100), Verify, "ends after"},
      {patch(slot(1, 0), 0x7FFFFF00), Verify, "past the end of the file"},
      {sealed.substr(0, sealed.size() - 100), List, "100 fewer"},
      {flip(1000 + 8), Verify, "record at 0x3E8 fails its own check"},
      {flip(sealedAt + 8), Verify, "payload header at 0x60"},
      {flip(sealed.size() - 3), Verify, "does not name the header"},
      {flip(sealed.size() - 1000), Verify, "slot 1 (cine.dll): damaged: its bytes come to CRC-32"},
  };
  for (const Case& c : cases) {
    Write(options.output, c.image);
    ExpectSaid(c.command, 1, {c.says});
  }
}

}  // namespace
