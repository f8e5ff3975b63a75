// The packer as its user meets it: the projector it writes, what it refuses (writing
// nothing), and what list, verify and extract say about sound and damaged projectors.
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

std::string Read(const fs::path& path) { return (std::ostringstream() << std::ifstream(path, std::ios::binary).rdbuf()).str(); }

void Write(const fs::path& path, const std::string& content) { std::ofstream(path, std::ios::binary) << content; }

// A stub whose image (headers and one section) ends at its end, after `size` bytes.
std::string PeStub(uint32_t size) {
  std::string stub(size, 'S');
  payload_fake::PutImageEnd(stub, size);
  return stub;
}

// A scratch folder with a stub, a movie and two files to pack; removed afterwards.
struct Scratch {
  fs::path dir = fs::temp_directory_path() / ("cinepack_test_" + std::to_string(getpid()));
  // Not a multiple of 512: the header goes to 1024, or to 1536 after the record.
  std::string stub = PeStub(1000);
  BuildOptions options;
  Scratch() {
    fs::create_directories(dir);
    std::string dll(70000, 'x');
    for (size_t i = 0; i < dll.size(); i += 3) dll[i] = char(i * 2654435761u >> 24);
    Write(dir / "cine.dll", dll);
    Write(dir / "notes.txt", std::string(50000, 'n') + dll.substr(0, 1000));
    Write(options.stub = File("launcher.exe"), stub);
    Write(options.movie = File("movie.dat"), "QMV1movie");
    options.output = File("OUT.EXE");
  }
  ~Scratch() { fs::remove_all(dir); }
  std::string File(const char* name) const { return (dir / name).string(); }
  std::string Build(const BuildOptions& o) const { std::ostringstream progress; return BuildProjector(o, progress); }
};

// A file's name gives the slot's fields ("NAME|EXTENSION|EXTRACT"), or a refusal.
TEST(Cinepack, FileNamesBecomeSlotFieldsOrAClearRefusal) {
  struct Case { std::string file; bool compress; const char* fields; };
  for (const Case& c : {Case{"cine.dll", false, "cine|dll|dll"}, {"cine.dll", true, "cine|dl_|dll"}, {"odd.dl_", true, "odd|dl$|dl_"},
                        {"README", false, "README||"},
                        {"README", true, "README|_|"},
                        {"index.html", true, "index|ht_|html"},
                        {"a.tar.gz", false, "a.tar|gz|gz"},
                        {std::string(32, 'n') + ".x", false, "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn|x|x"},
                        {"index.html", false, "longer than 3"},
                        {"movie.abcdefg", true, "longer than 6"},
                        {std::string(33, 'n') + ".x", false, "longer than 32"}, {"con.dll", false, "not a name the launcher accepts"}}) {
    PayloadEntry e;
    const std::string refusal = MakeEntryNames(c.file, c.compress, &e);
    const std::string got = refusal.empty() ? std::string(e.name) + "|" + e.extension + "|" + e.extractExtension : refusal;
    EXPECT_EQ(refusal.empty(), std::string(c.fields).find('|') != std::string::npos) << c.file << ": " << got;
    EXPECT_TRUE(refusal.empty() ? got == c.fields : got.find(c.fields) != std::string::npos) << c.file << ": " << got;
  }
}

// The stub, the integrity record right after it, zeros up to the next 512 bytes and on
// until the length is a multiple of 8, the header there (named by the trailer), the
// entries' data, the movie, the trailer. Without the record the zeros start at the
// stub's end, as before there was one. Contents are checked by extracting, below.
TEST(Cinepack, WritesStubRecordFillHeaderEntriesMovieAndTrailer) {
  Scratch s;
  s.options.leading = {"save.dat"};
  s.options.extracts = {{s.File("cine.dll"), false}, {s.File("notes.txt"), true}};
  s.options.option = s.options.noSplash = true;
  for (bool record : {true, false}) {
    SCOPED_TRACE(record ? "with the record" : "without the record");
    s.options.integrityRecord = record;
    ASSERT_EQ(s.Build(s.options), "");
    const std::string image = Read(s.options.output);
    const uint32_t boundary = record ? 1536 : 1024, fill = record ? 1040 : 1000;
    uint32_t at;
    memcpy(&at, &image[image.size() - 4], 4);
    ASSERT_TRUE(at >= boundary && at < boundary + 8) << at;
    EXPECT_EQ(image.size() % 8, 0u) << "signing would pad it";
    PayloadHeader h;
    memcpy(&h, &image[at], sizeof h);
    EXPECT_EQ(image.substr(0, 1000), s.stub);
    EXPECT_EQ(image.substr(fill, at - fill), std::string(at - fill, '\0'));
    EXPECT_EQ(image.substr(image.size() - 4 - 9, 9), "QMV1movie");
    EXPECT_EQ(std::vector<uint32_t>({h.magic, h.flags, h.flags2, uint32_t(h.entryCount),
                                     uint32_t(h.extractCount)}),
              std::vector<uint32_t>({PayloadMagic, PayloadOptionFlag, PayloadNoSplashFlag, 3, 2}));
    EXPECT_TRUE(HasValidEntryTable(&h, SingleByteCodePage));
    EXPECT_EQ(h.movieOffset, int32_t(image.size() - 4 - 9));
    if (!record) continue;
    const IntegrityRecord expected = payload_fake::RecordFor(image, at);
    EXPECT_EQ(image.substr(1000, 40), std::string(reinterpret_cast<const char*>(&expected), 40));
  }
}

TEST(Cinepack, RefusalsWriteNothingAndKeepAnExistingOutput) {
  Scratch s;
  BuildOptions packed = s.options;
  packed.output = s.File("packed.exe");
  ASSERT_EQ(s.Build(packed), "");
  Write(s.options.output, "previous projector");
  Write(s.dir / "CINE.DLL", "upper");
  Write(s.dir / "overlaid.exe", s.stub + "overlay!");
  Write(s.dir / "cut.exe", s.stub.substr(0, 999));
  const std::string d = s.dir.string();
  struct Case { const char* what; std::function<void(BuildOptions&)> change; const char* message; };
  const Case cases[] = {
      {"six entries", [&](BuildOptions& o) { o.leading = {"a.x", "b.x", "c.x", "d.x", "e.x", "f.x"}; }, "at most 5"},
      {"missing movie", [&](BuildOptions& o) { o.movie = d + "/nothing"; }, "cannot read the movie"},
      {"missing entry", [&](BuildOptions& o) { o.extracts = {{d + "/nothing.dll"}}; }, "cannot read"},
      {"missing stub", [&](BuildOptions& o) { o.stub = d + "/nothing.exe"; }, "cannot read the stub"},
      {"long leading name", [&](BuildOptions& o) { o.leading = {std::string(33, 'l') + ".dat"}; }, "longer than 32"},
      {"same target twice", [&](BuildOptions& o) { o.extracts = {{d + "/cine.dll"}, {d + "/CINE.DLL", true}}; }, "both be"},
      {"stub with a payload", [&](BuildOptions& o) { o.stub = packed.output; }, "already carries a payload"},
      {"no signing tool", [&](BuildOptions& o) { o.signCertificate = o.signKey = d, o.signTool = "none"; }, "none is not installed"},
      {"signing without a key", [&](BuildOptions& o) { o.signCertificate = d + "/cine.dll"; }, "needs both"},
      {"stub without PE headers", [&](BuildOptions& o) { o.stub = d + "/notes.txt"; },
       "no PE headers with a section table"},
      {"stub with an overlay", [&](BuildOptions& o) { o.stub = d + "/overlaid.exe"; },
       "8 bytes after its image (an overlay)"},
      {"stub cut short", [&](BuildOptions& o) { o.stub = d + "/cut.exe"; }, "is cut short"},
  };
  for (const Case& c : cases) {
    BuildOptions o = s.options;
    c.change(o);
    const std::string message = s.Build(o);
    EXPECT_NE(message.find(c.message), std::string::npos) << c.what << ": " << message;
    EXPECT_EQ(Read(s.options.output), "previous projector") << c.what;
    EXPECT_FALSE(fs::exists(s.options.output + ".cinepack-partial")) << c.what;
  }
}

// Every projector ends on 8 bytes, whatever its movie's length. Made longer (as another
// packer may leave it) and then signed after the zero bytes of padding a signing tool
// adds, it is still listed and extracted: without the record, by the trailer rule alone.
TEST(Cinepack, SoundProjectorsAreListedVerifiedAndExtractedSignedOrNot) {
  Scratch s;
  s.options.leading = {"save.dat"};
  s.options.extracts = {{s.File("cine.dll"), true}, {s.File("notes.txt"), false}};
  s.options.integrityRecord = false;
  for (size_t extra = 0; extra < 8; ++extra) {
    SCOPED_TRACE(extra);
    Write(s.options.movie, "QMV1movie" + std::string(extra, 'm'));
    ASSERT_EQ(s.Build(s.options), "");
    std::string image = Read(s.options.output);
    ASSERT_EQ(image.size() % 8, 0u);
    image.insert(image.size() - 4, extra, 'M');
    const std::string movie = "QMV1movie" + std::string(extra, 'm') + std::string(extra, 'M');
    Write(s.options.output, image);
    std::ostringstream verified, progress;
    EXPECT_EQ(VerifyProjector(s.options.output, verified, progress), 0) << verified.str();
    EXPECT_NE(verified.str().find("OK"), std::string::npos);
    const size_t padding = (8 - image.size() % 8) % 8;
    image.append(padding, '\0');
    payload_fake::PutPeHeaders(image, 0x10B, uint32_t(image.size()), 1480);
    Write(s.options.output, image + std::string(1480, 'C'));
    std::ostringstream listing, out;
    EXPECT_EQ(ListProjector(s.options.output, listing), 0);
    const std::string padded = padding == 0 ? "1480 bytes\n" : std::to_string(padding) + " byte";
    const std::vector<std::string> lines = {
        "signed        certificate table at", padded, "deletes save.dat", "compressed",
        "writes cine.dll", "70000 bytes expanded", "stored", "writes notes.txt"};
    for (const std::string& line : lines)
      EXPECT_NE(listing.str().find(line), std::string::npos) << line << "\n" << listing.str();
    const fs::path into = s.dir / ("unpacked" + std::to_string(extra));
    EXPECT_EQ(ExtractProjector(s.options.output, into.string(), out, progress), 0) << out.str();
    EXPECT_TRUE(Read(into / "cine.dll") == Read(s.File("cine.dll")));
    EXPECT_TRUE(Read(into / "notes.txt") == Read(s.File("notes.txt")));
    EXPECT_EQ(Read(into / MovieFileName), movie);
    EXPECT_FALSE(fs::exists(into / "save.dat"));
  }
}

// PE images are known by their headers ("MZ", then "PE\0\0" where e_lfanew says), not
// by their names.
TEST(Cinepack, APeImageIsKnownByItsHeaders) {
  auto changed = [](std::string image, size_t at, const std::string& bytes) {
    return image.replace(at, bytes.size(), bytes);
  };
  const std::string stub = PeStub(1000), pe("PE\0\0", 4);
  const std::string far = changed(changed(stub, 0x3C, std::string("\x00\x03\0\0", 4)), 0x300, pe);
  struct Case {
    const char* what;
    std::string bytes;
    bool pe;
  };
  const Case cases[] = {
      {"a stub", stub, true},
      {"headers far in", far, true},
      {"no MZ", changed(stub, 0, "ZM"), false},
      {"e_lfanew past the end", changed(stub, 0x3C, "\xFF\xFF"), false},
      {"PE\\0\\1", changed(stub, 0x43, "\x01"), false},
      {"a DOS header alone", stub.substr(0, 0x40), false},
      {"text", "MZ and some text", false},
  };
  for (const Case& c : cases) {
    std::istringstream in(c.bytes);
    EXPECT_EQ(IsPeImage(in), c.pe) << c.what;
  }
}

// A self-signed certificate and its key in `dir`, as a maker makes one for a test.
void MakeCertificate(const fs::path& dir) {
  const std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj /CN=Maker"
                              " -keyout '" + (dir / "maker.key").string() + "' -out '" +
                              (dir / "maker.pem").string() + "' 2>/dev/null";
  ASSERT_EQ(system(command.c_str()), 0) << command;
}

// With --sign every entry that is a PE image by its headers is signed before it is
// packed (and compressed); other files, and the user's own, stay as they are. verify says
// which is which; sign re-signs. The same inputs give the same bytes, signed ones too
// when SOURCE_DATE_EPOCH fixes the signing time.
TEST(Cinepack, SignedBuildsSignThePeEntriesAndRepeat) {
  Scratch s;
  MakeCertificate(s.dir);
  const std::string player = PeStub(5000);
  Write(s.dir / "player.dll", player);
  Write(s.dir / "runtime.bin", PeStub(3000));
  Write(s.dir / "fake.dll", "no headers");
  s.options.extracts = {{s.File("player.dll"), true}, {s.File("runtime.bin"), false},
                        {s.File("fake.dll"), false}, {s.File("notes.txt"), true}};
  setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
  for (bool sign : {false, true}) {
    SCOPED_TRACE(sign ? "signed" : "unsigned");
    s.options.signCertificate = sign ? s.File("maker.pem") : "";
    s.options.signKey = sign ? s.File("maker.key") : "";
    ASSERT_EQ(s.Build(s.options), "");
    const std::string first = Read(s.options.output);
    ASSERT_EQ(s.Build(s.options), "");
    EXPECT_TRUE(Read(s.options.output) == first) << "two builds differ";
  }
  EXPECT_TRUE(Read(s.dir / "player.dll") == player) << "the input was changed";
  std::ostringstream verified, progress;
  EXPECT_EQ(VerifyProjector(s.options.output, verified, progress, s.File("maker.pem")), 0);
  const std::string trusted = "signed; the signature matches and its certificate is trusted\n";
  const std::vector<std::string> lines = {
      "slot 0 (player.dll): " + trusted, "slot 1 (runtime.bin): " + trusted,
      "slot 2 (fake.dll): no PE image, nothing to sign",
      "slot 3 (notes.txt): no PE image, nothing to sign"};
  for (const std::string& line : lines) {
    EXPECT_NE(verified.str().find(line), std::string::npos) << line << "\n" << verified.str();
  }
  // Re-signed a second later, then at the same time: whatever the clock says, only the
  // epoch decides, and the old signature goes.
  const std::string resigned = s.File("RESIGNED.EXE");
  for (const char* epoch : {"1700000001", "1700000000"}) {
    setenv("SOURCE_DATE_EPOCH", epoch, 1);
    EXPECT_EQ(SignProjector("osslsigncode", s.options.output, resigned, s.File("maker.pem"),
                            s.File("maker.key")),
              "");
    EXPECT_EQ(Read(resigned) == Read(s.options.output), epoch == std::string("1700000000"));
  }
  EXPECT_NE(SignProjector("osslsigncode", s.File("notes.txt"), s.File("NOTES.EXE"),
                          s.File("maker.pem"), s.File("maker.key"))
                .find("is no projector"),
            std::string::npos);
  EXPECT_FALSE(fs::exists(s.File("NOTES.EXE")));
  unsetenv("SOURCE_DATE_EPOCH");
}

// With the integrity record, damage anywhere but the movie is found and named; without
// it, what the decoder and the offsets show.
TEST(Cinepack, ListAndVerifySayWhatIsWrongWithADamagedProjector) {
  Scratch s;
  s.options.extracts = {{s.File("notes.txt"), true}, {s.File("cine.dll"), false}};
  ASSERT_EQ(s.Build(s.options), "");
  const std::string sealed = Read(s.options.output);
  s.options.integrityRecord = false;
  ASSERT_EQ(s.Build(s.options), "");
  const std::string good = Read(s.options.output);
  PayloadEntry first, second;
  uint32_t goodAt, sealedAt;  // 1024 and 1536, and the fill that makes them signable
  memcpy(&goodAt, &good[good.size() - 4], 4);
  memcpy(&sealedAt, &sealed[sealed.size() - 4], 4);
  memcpy(&first, &good[goodAt + 24], sizeof first);
  memcpy(&second, &sealed[sealedAt + 24 + 52], sizeof second);
  auto patch = [&](size_t at, uint32_t value) {
    std::string image = good;
    payload_fake::PutLE(image, goodAt + at, value, 4);
    return image;
  };
  auto slot = [](int n, size_t field) { return 24 + 52 * n + field; };
  auto flip = [&](size_t at) { std::string image = sealed; image[at] ^= 1; return image; };
  std::string unterminated = good;
  memset(&unterminated[goodAt + slot(0, 8)], 'n', 33);
  struct Case { const char* what; std::string image; bool verify; const char* says; };
  const Case cases[] = {
      {"tiny", "ab", false, "too short for a trailer"},
      {"plain file", s.stub, true, "no payload"},
      {"trailer cut off", good.substr(0, good.size() - 40), true, "no payload"},
      {"magic", patch(0, 0), false, "not \"10MC\""},
      {"offset over 2 GiB", s.stub + "\xF0\xFF\xFF\xFF", false, "2 GiB or more"},
      {"counts", patch(16, 6), true, "outside the five-slot table"},
      {"unterminated name", unterminated, false, "no terminator"},
      {"stream under 4 bytes", patch(slot(0, 4), 3), true, "would call the file damaged"},
      {"stream cut short", patch(slot(0, 4), first.size / 2), true, "ends after"},
      {"stored past the end", patch(slot(1, 0), 0x7FFFFF00), true, "past the end of the file"},
      {"size past the end", patch(slot(1, 4), 70000 + 100), true, "past the end of the file"},
      {"sealed, cut by 100 bytes", sealed.substr(0, sealed.size() - 100), false,
       "100 fewer than the"},
      {"sealed, record changed", flip(1000 + 8), true, "record at 0x3E8 fails its own check"},
      {"sealed, header changed", flip(sealedAt + 8), true, "payload header at 0x60"},
      {"sealed, trailer changed", flip(sealed.size() - 3), true, "does not name the header"},
      {"sealed, stored byte changed", flip(second.offset + 500), true,
       "slot 1 (cine.dll): damaged: its bytes come to CRC-32"},
  };
  for (const Case& c : cases) {
    Write(s.options.output, c.image);
    std::ostringstream out, progress;
    EXPECT_EQ(c.verify ? VerifyProjector(s.options.output, out, progress) : ListProjector(s.options.output, out), 1)
        << c.what;
    EXPECT_NE(out.str().find(c.says), std::string::npos) << c.what << ": " << out.str();
  }
}

}  // namespace
