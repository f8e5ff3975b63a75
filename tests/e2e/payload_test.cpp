// Projectors made by cinepack, run under Wine: what lands in the work folder, where the
// runtime is loaded from, the payload option, the exit pass, and every failure path.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <sstream>
#include <thread>

#include "payload/payload_format.h"
#include "tests/e2e/harness.h"

namespace e2e {
namespace {


std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, 0);
  for (char& c : bytes) c = static_cast<char>(generator());
  return bytes;
}

std::string Text(size_t size) {
  std::string text;
  for (int line = 0; text.size() < size; ++line) {
    text += "line " + std::to_string(line) + ": the quick brown fox jumps over the lazy dog\r\n";
  }
  text.resize(size);
  return text;
}

// Packs a projector as app/MOVIE.EXE from the shipped launcher; `extracts` are
// "file[:compress]" paths (Unix) and `extra` more cinepack options.
void Pack(const Sandbox& box, const std::vector<std::string>& extracts, const std::string& extra) {
  std::string movie = box.root + "/movie.dat";
  WriteFile(movie, "QMV1movie container");
  std::string args = "build --stub " + Launcher() + " --movie " + movie + " -o " + box.app + "/MOVIE.EXE " + extra;
  for (const std::string& e : extracts) args += " --extract " + e;
  std::string output;
  ASSERT_EQ(RunCinepack(args, &output), 0) << output;
}

// Overwrites `size` bytes of a slot field in the packed projector's header.
void PatchSlot(const std::string& exe, int slot, size_t field, const void* bytes, size_t size) {
  std::string image = ReadFile(exe);
  uint32_t headerOffset = 0;
  memcpy(&headerOffset, &image[image.size() - 4], 4);
  memcpy(&image[headerOffset + 24 + 52 * slot + field], bytes, size);
  WriteFile(exe, image);
}

std::vector<std::string> WorkFolders(const Sandbox& box) {
  std::vector<std::string> folders;
  for (const std::string& name : ListDir(box.tmp)) {
    if (name.rfind("TempFolder.", 0) == 0) folders.push_back(name);
  }
  return folders;
}

TEST(PayloadRun, ExtractedEntriesArriveByteForByteAndTheRuntimeLoadsFromThere) {
  struct Case {
    const char* name;
    bool compressRuntime;  // cine.dll itself compressed or stored
    bool option;
  };
  const Case cases[] = {{"compressed_runtime", true, true}, {"stored_runtime", false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sandbox box = MakeSandbox(std::string("payload_") + c.name);
    WriteFile(box.root + "/src/big.bin", RandomBytes(100000, 1));          // over 32,768
    WriteFile(box.root + "/src/notes.txt", Text(150000));                  // compressed
    WriteFile(box.root + "/src/exact.dat", RandomBytes(32768, 2));         // one full buffer
    WriteFile(box.root + "/src/empty.ini", "");
    CopyFile(TestRuntime(), box.root + "/src/cine.dll");
    std::string src = box.root + "/src/";
    Pack(box,
         {src + "cine.dll" + (c.compressRuntime ? ":compress" : ""),
          src + "big.bin" + (c.compressRuntime ? "" : ":compress"), src + "notes.txt:compress",
          src + "exact.dat:compress", src + "empty.ini"},
         c.option ? "--option" : "");
    LaunchSpec spec = SandboxSpec(box);
    spec.env.push_back("CINE_SNAPSHOT=" + ToWindowsPath(box.root + "/snapshot"));
    LaunchResult r = Launch(box, spec);

    ASSERT_EQ(r.report["called"], "1") << r.probeOutput << r.box["text"];
    EXPECT_EQ(r.report["runtimeLocation"], "2");
    std::string folder = r.report["workFolder"];
    EXPECT_EQ(folder.rfind(ToWindowsPath(box.tmp) + "\\TempFolder.", 0), 0u) << folder;
    EXPECT_EQ(folder.back(), '\\');
    EXPECT_EQ(ToLower(r.report["runtime_path"]), ToLower(folder + "cine.dll"));
    EXPECT_EQ(r.report["payloadOption"], c.option ? "1" : "0");
    for (const char* name : {"cine.dll", "big.bin", "notes.txt", "exact.dat", "empty.ini"}) {
      std::string copy = box.root + "/snapshot/" + name;
      ASSERT_TRUE(Exists(copy)) << name;
      EXPECT_TRUE(ReadFile(copy) == ReadFile(src + name)) << name << " differs";
    }
    // The folder held nothing but the entries and the lock file.
    EXPECT_EQ(r.workFiles.size(), 6u);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.box.empty()) << r.box["text"];
    EXPECT_TRUE(WorkFolders(box).empty()) << "the work folder outlived the run";
  }
}

TEST(PayloadRun, RuntimesOfBothCallingConventionsRunAndAreCleanedUp) {
  struct Case {
    const char* name;
    std::string runtime;
    const char* result;
    int exitCode;
  };
  const Case cases[] = {
      {"stdcall_normal_end", TestRuntime(), "7", 0},
      {"cdecl_normal_end", CdeclRuntime(), "7", 0},
      {"cdecl_failed", CdeclRuntime(), "0", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sandbox box = MakeSandbox(std::string("convention_") + c.name);
    CopyFile(c.runtime, box.root + "/src/cine.dll");
    Pack(box, {box.root + "/src/cine.dll:compress"}, "");
    LaunchSpec spec = SandboxSpec(box);
    spec.args = "-play \"two words\"";
    spec.env.push_back(std::string("CINE_RESULT=") + c.result);
    LaunchResult r = Launch(box, spec);
    ASSERT_EQ(r.report["called"], "1") << r.probeOutput;
    EXPECT_EQ(r.report["cmdline"], "-play \"two words\"");
    EXPECT_EQ(r.report["instance_is_exe"], "1");
    EXPECT_EQ(r.report["version"], "2");
    EXPECT_EQ(r.report["runtimeLocation"], "2");
    // The result was read, the library freed and its folder removed, with no crash on
    // the way out.
    EXPECT_EQ(r.exitCode, c.exitCode) << r.probeOutput;
    EXPECT_EQ(r.box["text"], c.exitCode ? CannotRunText : "");
    EXPECT_TRUE(WorkFolders(box).empty()) << "the work folder outlived the run";
  }
}

TEST(PayloadRun, TwoInstancesAtOnceExtractIntoFoldersOfTheirOwn) {
  Sandbox box = MakeSandbox("payload_two_instances");
  std::string src = box.root + "/src/";
  WriteFile(src + "big.bin", RandomBytes(3 << 20, 5));
  CopyFile(TestRuntime(), src + "cine.dll");
  Pack(box, {src + "cine.dll:compress", src + "big.bin"}, "");
  // The first stays in the runtime until the second has finished.
  LaunchSpec first = SandboxSpec(box);
  first.env = {"CINE_REPORT=" + ToWindowsPath(box.root + "/first.txt"),
               "CINE_READY=" + ToWindowsPath(box.root + "/first.ready"),
               "CINE_WAIT_FOR=" + ToWindowsPath(box.root + "/second.done")};
  std::string firstOut = box.root + "/first.out";
  int pid = StartWine(ProbeRunArgs(box, first), firstOut);
  ASSERT_TRUE(WaitForFile(box.root + "/first.ready", 60000));
  LaunchSpec second = SandboxSpec(box);
  second.env.push_back("CINE_SNAPSHOT=" + ToWindowsPath(box.root + "/snapshot"));
  LaunchResult r = Launch(box, second);
  WriteFile(box.root + "/second.done", "");
  FinishWine(pid, firstOut);
  std::string firstReport = ReadFile(box.root + "/first.txt");
  std::string firstFolder = firstReport.substr(firstReport.find("workFolder=") + 11);
  firstFolder = firstFolder.substr(0, firstFolder.find_first_of("\r\n"));

  ASSERT_EQ(r.report["called"], "1") << r.probeOutput << r.box["text"];
  EXPECT_EQ(r.report["runtimeLocation"], "2");
  EXPECT_NE(r.report["workFolder"], firstFolder);
  EXPECT_NE(firstReport.find("runtimeLocation=2"), std::string::npos) << firstReport;
  EXPECT_TRUE(ReadFile(box.root + "/snapshot/big.bin") == ReadFile(src + "big.bin"));
  EXPECT_TRUE(ReadFile(box.root + "/snapshot/cine.dll") == ReadFile(src + "cine.dll"));
  EXPECT_TRUE(WorkFolders(box).empty()) << "a work folder outlived its run";
}

TEST(PayloadRun, LeadingEntriesAreDeletedBesideTheExecutableOnly) {
  Sandbox box = MakeSandbox("payload_leading");
  CopyFile(TestRuntime(), box.root + "/src/cine.dll");
  Pack(box, {box.root + "/src/cine.dll"}, "--leading save.dat --leading prefs.ini");
  const char* mustGo[] = {"app/save.dat", "app/prefs.ini"};
  const char* mustStay[] = {"app/other.dat", "app/save.ini", "save.dat", "app/Nodix/save.dat",
                            "tmp/prefs.ini", "src/cine.dll"};
  for (const char* f : mustGo) WriteFile(box.root + "/" + f, "x");
  for (const char* f : mustStay) {
    if (!Exists(box.root + "/" + f)) WriteFile(box.root + "/" + f, "x");
  }
  LaunchSpec spec = SandboxSpec(box);
  spec.env.push_back("CINE_READY=" + ToWindowsPath(box.root + "/ready"));
  LaunchResult r = Launch(box, spec);
  ASSERT_EQ(r.report["called"], "1") << r.probeOutput << r.box["text"];
  EXPECT_EQ(r.report["runtimeLocation"], "2");
  for (const char* f : mustGo) EXPECT_FALSE(Exists(box.root + "/" + f)) << f;
  for (const char* f : mustStay) EXPECT_TRUE(Exists(box.root + "/" + f)) << f;
  EXPECT_TRUE(Exists(box.app + "/MOVIE.EXE"));
}

TEST(PayloadRun, NothingToExtractMeansNoWorkFolder) {
  Sandbox box = MakeSandbox("payload_none_extracted");
  Pack(box, {}, "--leading save.dat --option");
  CopyFile(TestRuntime(), box.app + "/cine.dll");
  LaunchResult r = Launch(box, SandboxSpec(box));
  ASSERT_EQ(r.report["called"], "1") << r.probeOutput << r.box["text"];
  EXPECT_EQ(r.report["workFolder"], "(null)");
  EXPECT_EQ(r.report["runtimeLocation"], "1");
  EXPECT_EQ(r.report["payloadOption"], "1");  // recognised all the same
  EXPECT_TRUE(ListDir(box.tmp).empty());
}

// A 2 x 2 24-bit bitmap, enough for a splash.
std::string TinyBitmap() {
  auto le = [](uint32_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) s += static_cast<char>(v >> (8 * i));
    return s;
  };
  std::string pixels(16, '\x80');
  return "BM" + le(70, 4) + le(0, 4) + le(54, 4) + le(40, 4) + le(2, 4) + le(2, 4) + le(1, 2) +
         le(24, 2) + le(0, 4) + le(16, 4) + le(2835, 4) + le(2835, 4) + le(0, 4) + le(0, 4) + pixels;
}

TEST(PayloadRun, NoSplashBitKeepsTheBitmapBesideTheExecutableUnshown) {
  struct Case { const char* name; const char* options; const char* splash; };
  const Case cases[] = {{"splash", "", "1"}, {"no_splash", "--no-splash", "0"},
                        {"big_endian_only", "--big-endian-content", "1"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sandbox box = MakeSandbox(std::string("payload_") + c.name);
    CopyFile(TestRuntime(), box.root + "/src/cine.dll");
    Pack(box, {box.root + "/src/cine.dll"}, c.options);
    WriteFile(box.app + "/MOVIE.BMP", TinyBitmap());
    LaunchResult r = Launch(box, SandboxSpec(box));
    ASSERT_EQ(r.report["called"], "1") << r.probeOutput << r.box["text"];
    EXPECT_EQ(r.report["closeSplash_set"], c.splash);
  }
}

TEST(PayloadRun, ExecutableWithoutPayloadRunsAsOne) {
  std::string launcher = ReadFile(Launcher());
  auto withTail = [&](const std::string& tail) { return launcher + tail; };
  auto dword = [](uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
  // A header with the magic but a movie offset no file position reaches.
  std::string header(PayloadHeaderSize, '\0');
  memcpy(&header[0], "10MC", 4);
  int32_t negative = -16;
  memcpy(&header[4], &negative, 4);
  uint32_t headerAt = static_cast<uint32_t>(launcher.size());
  struct Case { const char* name; std::string image; };
  const Case cases[] = {
      {"bare_launcher", launcher},
      {"arbitrary_last_bytes", withTail(RandomBytes(1000, 3) + dword(0xDEADBEEF))},
      {"offset_to_the_image", withTail(dword(0))},
      {"header_cut_short", withTail(std::string(100, 'h') + dword(headerAt))},
      {"movie_unreachable", withTail(header + dword(headerAt))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sandbox box = MakeSandbox(std::string("payload_absent_") + c.name);
    WriteFile(box.app + "/MOVIE.EXE", c.image);
    CopyFile(TestRuntime(), box.app + "/cine.dll");
    LaunchResult r = Launch(box, SandboxSpec(box));
    ASSERT_EQ(r.report["called"], "1") << r.probeOutput << r.box["text"];
    EXPECT_EQ(r.report["runtimeLocation"], "1");
    EXPECT_EQ(r.report["workFolder"], "(null)");
    EXPECT_EQ(r.report["payloadOption"], "0");
    EXPECT_TRUE(ListDir(box.tmp).empty());
    EXPECT_EQ(r.exitCode, 0);
  }
}

// The report with what differs between two runs of one projector taken out: the work
// folder's random letters, the thread identifier and the timing.
std::map<std::string, std::string> Comparable(const LaunchResult& r) {
  std::map<std::string, std::string> report = r.report;
  report.erase("since_start_us");
  report["splashThreadId"] = report["splashThreadId"] == "0" ? "0" : "set";
  for (const char* key : {"workFolder", "runtime_path"}) {
    size_t at = report[key].find("TempFolder.");
    if (at != std::string::npos) report[key].replace(at + 11, 3, "***");
  }
  std::string files;
  for (const std::string& f : r.workFiles) files += f + ";";
  report["workfiles"] = files;
  return report;
}

// Signing appends a certificate table after the payload: the signed projector runs and
// cleans up exactly like the unsigned one, osslsigncode accepts the signature, and a
// change made after signing is reported by cinepack verify.
TEST(PayloadRun, SignedProjectorRunsLikeItsUnsignedTwin) {
  Sandbox box = MakeSandbox("payload_signed");
  std::string src = box.root + "/src/";
  WriteFile(src + "big.bin", RandomBytes(100000, 6));
  WriteFile(src + "notes.txt", Text(50000));
  CopyFile(TestRuntime(), src + "cine.dll");
  WriteFile(box.app + "/MOVIE.BMP", TinyBitmap());
  std::string certificate = box.root + "/maker.pem";
  std::string key = box.root + "/maker.key";
  std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=Projector\\ Maker -keyout " +
                     key + " -out " + certificate + " >/dev/null 2>&1";
  ASSERT_EQ(system(make.c_str()), 0) << make;
  const std::vector<std::string> extracts = {src + "cine.dll:compress", src + "big.bin",
                                             src + "notes.txt:compress"};
  std::string exe = box.app + "/MOVIE.EXE";

  Pack(box, extracts, "--option");
  LaunchResult plain = Launch(box, SandboxSpec(box));
  ASSERT_EQ(plain.report["called"], "1") << plain.probeOutput << plain.box["text"];
  EXPECT_TRUE(WorkFolders(box).empty());

  Pack(box, extracts, "--option --sign " + certificate + " " + key);
  std::string image = ReadFile(exe);
  LaunchResult signedRun = Launch(box, SandboxSpec(box));
  ASSERT_EQ(signedRun.report["called"], "1") << signedRun.probeOutput << signedRun.box["text"];
  EXPECT_EQ(signedRun.report["runtimeLocation"], "2");
  EXPECT_EQ(signedRun.report["payloadOption"], "1");
  EXPECT_EQ(signedRun.report["closeSplash_set"], "1");
  EXPECT_EQ(Comparable(signedRun), Comparable(plain));
  EXPECT_EQ(signedRun.exitCode, plain.exitCode);
  EXPECT_TRUE(signedRun.box.empty()) << signedRun.box["text"];
  EXPECT_TRUE(WorkFolders(box).empty()) << "the work folder outlived the run";

  std::string verify = "osslsigncode verify -CAfile " + certificate + " -in " + exe + " >/dev/null 2>&1";
  EXPECT_EQ(system(verify.c_str()), 0) << verify;
  std::string output;
  EXPECT_EQ(RunCinepack("verify --ca " + certificate + " " + exe, &output), 0) << output;
  EXPECT_NE(output.find("signed; the signature matches and its certificate is trusted"),
            std::string::npos) << output;
  // One byte of the movie changed: the payload is still sound, the signature is not.
  image[image.find("QMV1movie container") + 4] ^= 1;
  WriteFile(exe, image);
  EXPECT_EQ(RunCinepack("verify --ca " + certificate + " " + exe, &output), 1) << output;
  EXPECT_NE(output.find(": OK,"), std::string::npos) << output;
  EXPECT_NE(output.find("signed, but changed after signing"), std::string::npos) << output;
}

// The entry named after the work folder's lock file targets a file that this run
// itself holds open with share mode 0, so it can never be re-created.
TEST(PayloadRun, TargetHeldOpenCountsAsExtractedWhenStoredAndFailsWhenCompressed) {
  struct Case { const char* name; bool compressed; };
  const Case cases[] = {{"stored", false}, {"compressed", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sandbox box = MakeSandbox(std::string("payload_lockname_") + c.name);
    WriteFile(box.root + "/src/Quorvantix.lok", "not a lock");
    CopyFile(TestRuntime(), box.root + "/src/cine.dll");
    Pack(box,
         {box.root + "/src/Quorvantix.lok" + (c.compressed ? ":compress" : ""),
          box.root + "/src/cine.dll"},
         "");
    LaunchResult r = Launch(box, SandboxSpec(box));
    if (c.compressed) {
      EXPECT_TRUE(r.report.empty()) << "the runtime must not run";
      EXPECT_EQ(r.box["text"], CannotCreateText);
    } else {
      EXPECT_EQ(r.report["called"], "1") << r.probeOutput << r.box["text"];
      EXPECT_EQ(r.report["runtimeLocation"], "2");
      EXPECT_TRUE(r.box.empty()) << r.box["text"];
    }
    EXPECT_EQ(r.exitCode, 0);
  }
}

// Another process grabs the first entry's file as soon as the launcher has closed it;
// a large second entry gives it time before the third slot writes the same name.
TEST(PayloadRun, TargetHeldByAnotherProcess) {
  struct Case { const char* name; bool compressed; };
  const Case cases[] = {{"stored", false}, {"compressed", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sandbox box = MakeSandbox(std::string("payload_held_") + c.name);
    WriteFile(box.root + "/src/same.dat", "FIRST");
    WriteFile(box.root + "/src/big.bin", RandomBytes(32 << 20, 4));
    WriteFile(box.root + "/src/samf.dat", "THIRD");
    CopyFile(TestRuntime(), box.root + "/src/cine.dll");
    std::string src = box.root + "/src/";
    Pack(box, {src + "same.dat", src + "big.bin", src + "samf.dat" + (c.compressed ? ":compress" : ""),
               src + "cine.dll"},
         "");
    // cinepack refuses two entries of one name; rename the third after the fact.
    PatchSlot(box.app + "/MOVIE.EXE", 2, 8, "same", 5);

    std::string ready = box.root + "/holder.ready";
    std::string until = box.root + "/holder.until";
    std::string holderOut = box.root + "/holder.out";
    int holder = StartWine({ToWindowsPath(WinDir() + "/tests/payload_helper.exe"), "hold",
                            ToWindowsPath(box.tmp), "same.dat", ToWindowsPath(ready),
                            ToWindowsPath(until)},
                           holderOut);
    ASSERT_TRUE(WaitForFile(ready, 30000));
    LaunchResult r = Launch(box, SandboxSpec(box));
    WriteFile(until, "");
    std::string held = FinishWine(holder, holderOut);
    ASSERT_NE(held.find("held="), std::string::npos) << held;
    // The holder had the first entry's bytes: the third slot never replaced them.
    EXPECT_NE(held.find("content=FIRST"), std::string::npos) << held;
    if (c.compressed) {
      EXPECT_TRUE(r.report.empty());
      EXPECT_EQ(r.box["text"], CannotCreateText);
    } else {
      EXPECT_EQ(r.report["called"], "1") << r.probeOutput << r.box["text"];
      EXPECT_EQ(r.report["runtimeLocation"], "2");  // the fourth slot was written
    }
    EXPECT_EQ(r.exitCode, 0);
  }
}

TEST(PayloadRun, ThirdOfFourFailingKeepsTheFirstTwoAndNeverTriesTheFourth) {
  Sandbox box = MakeSandbox("payload_third_fails");
  std::string src = box.root + "/src/";
  for (const char* name : {"a.dat", "b.dat", "c.dat", "d.dat"}) WriteFile(src + name, Text(5000));
  Pack(box, {src + "a.dat", src + "b.dat:compress", src + "c.dat:compress", src + "d.dat"}, "");
  // A compressed entry is read whole: one whose data runs past the end fails.
  int32_t pastTheEnd = 0x7FFF0000;
  PatchSlot(box.app + "/MOVIE.EXE", 2, 4, &pastTheEnd, 4);

  std::string ready = box.root + "/watch.ready";
  std::string until = box.root + "/watch.until";
  std::string watchOut = box.root + "/watch.out";
  int watcher = StartWine({ToWindowsPath(WinDir() + "/tests/payload_helper.exe"), "watch",
                           ToWindowsPath(box.tmp), ToWindowsPath(ready), ToWindowsPath(until)},
                          watchOut);
  ASSERT_TRUE(WaitForFile(ready, 30000));
  LaunchResult r = Launch(box, SandboxSpec(box));
  std::this_thread::sleep_for(std::chrono::milliseconds(300) * TimeFactor());
  WriteFile(until, "");
  std::string events = FinishWine(watcher, watchOut);

  EXPECT_TRUE(r.report.empty());
  EXPECT_EQ(r.box["text"], CannotCreateText);
  EXPECT_EQ(r.exitCode, 0);
  // Each file's first event, in order: a, b and c were added; c went before a and b,
  // which stayed until the exit pass removed the folder; d never appeared.
  std::vector<std::string> lines;
  std::istringstream in(events);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t slash = line.find('\\');
    if (slash != std::string::npos) lines.push_back(line.substr(0, line.find('=') + 1) + line.substr(slash + 1));
  }
  auto position = [&](const std::string& event) {
    auto it = std::find(lines.begin(), lines.end(), event);
    return it == lines.end() ? -1 : static_cast<int>(it - lines.begin());
  };
  ASSERT_GE(position("added=a.dat"), 0) << events;
  EXPECT_LT(position("added=a.dat"), position("added=b.dat")) << events;
  EXPECT_LT(position("added=b.dat"), position("added=c.dat")) << events;
  EXPECT_LT(position("added=c.dat"), position("removed=c.dat")) << events;
  EXPECT_LT(position("removed=c.dat"), position("removed=a.dat")) << events;
  EXPECT_LT(position("removed=c.dat"), position("removed=b.dat")) << events;
  EXPECT_EQ(position("added=d.dat"), -1) << events;
  EXPECT_TRUE(WorkFolders(box).empty());
}

TEST(PayloadRun, CompressedEntryShorterThanItsLengthEndsTheProcessWithStatusOne) {
  Sandbox box = MakeSandbox("payload_short_stream");
  std::string src = box.root + "/src/";
  WriteFile(src + "tiny.dat", Text(100));
  CopyFile(TestRuntime(), src + "cine.dll");
  Pack(box, {src + "tiny.dat:compress", src + "cine.dll"}, "");
  int32_t three = 3;
  PatchSlot(box.app + "/MOVIE.EXE", 0, 4, &three, 4);
  LaunchResult r = Launch(box, SandboxSpec(box));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_FALSE(r.timedOut);
  EXPECT_TRUE(r.report.empty());
  EXPECT_TRUE(r.box.empty()) << r.box["text"];
}

TEST(PayloadRun, DamagedEntryTableFailsTheLaunchAndWritesNothing) {
  struct Case { const char* name; size_t field; std::string bytes; };
  const Case cases[] = {
      {"name_with_path", 8, std::string("..\\..\\x\0", 8)},
      {"unterminated_name", 8, std::string(33, 'n')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sandbox box = MakeSandbox(std::string("payload_damaged_") + c.name);
    CopyFile(TestRuntime(), box.root + "/src/cine.dll");
    Pack(box, {box.root + "/src/cine.dll"}, "");
    PatchSlot(box.app + "/MOVIE.EXE", 0, c.field, c.bytes.data(), c.bytes.size());
    CopyFile(TestRuntime(), box.app + "/cine.dll");
    LaunchResult r = Launch(box, SandboxSpec(box));
    EXPECT_TRUE(r.report.empty()) << "the runtime must not run";
    EXPECT_EQ(r.box["text"], CannotCreateText);
    EXPECT_TRUE(ListDir(box.tmp).empty());
    EXPECT_FALSE(Exists(box.root + "/x."));
  }
}

}  // namespace
}  // namespace e2e
