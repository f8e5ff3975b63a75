// Sets up a launch scenario in its sandbox, launches it through the probe and checks the
// outcome: exit code, message box, what the runtime received, what is left on disk.
#include "tests/e2e/scenario.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <set>
#include <thread>

#include "launcher/launch_error_text.h"

namespace e2e {

namespace fs = std::filesystem;

Content Bytes(std::string text) { return {Content::Bytes, std::move(text)}; }
Content Library(Lib which) { return {Content::Library, "", 0, which}; }
Content Random(size_t bytes) { return {Content::Random, "", bytes}; }
Content Text(size_t bytes) { return {Content::Text, "", bytes}; }
Content Abandoned() { return {Content::Abandoned}; }
Content Link(std::string target) { return {Content::Link, std::move(target)}; }
Content TakenNames(size_t count) { return {Content::TakenNames, "", count}; }

Placed Put(std::string path, Content content) { return {std::move(path), std::move(content)}; }
Placed PutShared(std::string name, Content content) {
  return {std::move(name), std::move(content), true};
}

Packed Stored(std::string name, Content content) { return {std::move(name), std::move(content)}; }
Packed Compressed(std::string name, Content content) {
  return {std::move(name), std::move(content), true};
}

HtmCommand Registered(bool quoted, std::string arguments) {
  return {true, quoted, std::move(arguments)};
}
HtmCommand Unregistered() { return {false}; }

Received Got(std::string key, std::string value) {
  return {std::move(key), In::Value, std::move(value)};
}
Received GotPath(std::string key, In base, std::string rest) {
  return {std::move(key), base, std::move(rest)};
}

BrowserStart StartedWith(std::string segment) { return {true, std::move(segment)}; }
BrowserStart NotStarted() { return {false}; }

namespace {

const char Lock[] = "Quorvantix.lok";

std::string SharedFolder(const Sandbox& box) {
  fs::path driveC = fs::path(box.root).parent_path().parent_path();
  return driveC / "windows/system32/Quorvant/Lumenreel 10";
}

std::string LibraryPath(Lib which) {
  switch (which) {
    case Lib::Test:
      return TestRuntime();
    case Lib::Cdecl:
      return CdeclRuntime();
    case Lib::NoExport:
      return NoExportRuntime();
    case Lib::Crt:
      return FakeMsvcrt();
  }
  return "";
}

std::string Lines(size_t size) {
  std::string text;
  for (int line = 0; text.size() < size; ++line) {
    text += "line " + std::to_string(line) + ": the quick brown fox jumps over the lazy dog\r\n";
  }
  return text.substr(0, size);
}

void Make(const Sandbox& box, const std::string& path, const Content& content,
          std::mt19937* random) {
  switch (content.kind) {
    case Content::Bytes:
      return WriteFile(path, content.text);
    case Content::Library:
      return CopyFile(LibraryPath(content.library), path);
    case Content::Random: {
      std::string bytes;
      while (bytes.size() < content.count) bytes += static_cast<char>((*random)());
      return WriteFile(path, bytes);
    }
    case Content::Text:
      return WriteFile(path, Lines(content.count));
    case Content::Abandoned:
      for (const char* file : {Lock, "cine.dll", "Xtras/one/deep.x32", "Xtras/two.x32"}) {
        WriteFile(path + "/" + file, file);
      }
      return MakeDirs(path + "/empty");
    case Content::Link:
      MakeDirs(fs::path(path).parent_path());
      return fs::create_directory_symlink(box.root + "/" + content.text, path);
    case Content::TakenNames:
      for (size_t i = 0; i < content.count; ++i) {
        std::string name = {char('a' + i / 676), char('a' + i / 26 % 26), char('a' + i % 26)};
        WriteFile(path + "/TempFolder." + name + "/mine.txt", name);
      }
      return;
  }
}

std::string WindowsPath(const Sandbox& box, In base, const std::string& rest) {
  switch (base) {
    case In::Value:
      return rest;
    case In::Root:
      return ToWindowsPath(box.root) + rest;
    case In::App:
      return ToWindowsPath(box.app) + rest;
    case In::Tmp:
      return ToWindowsPath(box.tmp) + rest;
    case In::WorkFolder:
      return ToWindowsPath(box.tmp) + "\\TempFolder.aaa\\" + rest;
  }
  return rest;
}

std::string BrowserProgram(const Sandbox& box) {
  return ToWindowsPath(box.root + "/Browser/browser.exe");
}

// Registers the ".htm" type's open command. Only the rows that read the association set
// it, each its own, in the tests' throwaway prefix: none is put back.
void RegisterHtm(const Sandbox& box, const HtmCommand& htm) {
  CopyFile(WinDir() + "/tests/probe.exe", box.root + "/Browser/browser.exe");
  RunWine({"reg", "add", "HKEY_CLASSES_ROOT\\.htm", "/ve", "/d", "CinemorphTest.htm", "/f"});
  RunWine({"reg", "delete", "HKEY_CLASSES_ROOT\\CinemorphTest.htm", "/f"});
  if (!htm.registered) return;
  std::string program = BrowserProgram(box);
  if (htm.quoted) program = "\"" + program + "\"";
  std::string command = htm.arguments.empty() ? program : program + " " + htm.arguments;
  std::string key = "HKEY_CLASSES_ROOT\\CinemorphTest.htm\\shell\\open\\command";
  EXPECT_EQ(RunWine({"reg", "add", key, "/ve", "/d", command, "/f"}).status, 0);
}

// A folder under `root` whose Windows path is exactly `length` characters long.
std::string FolderOfLength(const std::string& root, size_t length) {
  std::string path = root + "/d";
  for (size_t have; (have = ToWindowsPath(path).size()) < length;) {
    size_t missing = length - have;
    path +=
        missing == 1 ? std::string("e") : "/" + std::string(std::min<size_t>(missing - 1, 99), 'd');
  }
  return path;
}

void PackProjector(const Sandbox& box, const Projector& projector, const std::string& exe,
                   std::mt19937* random) {
  std::string stub = projector.crtTwin ? WinDir() + "/tests/launcher_crt_twin.exe" : Launcher();
  bool packed = !projector.extract.empty() || !projector.leading.empty() || projector.option;
  if (!packed) return CopyFile(stub, exe);
  WriteFile(box.root + "/movie.dat", "QMV1movie");
  std::string args = "build --stub " + stub + " --movie " + box.root + "/movie.dat -o " + exe;
  if (projector.option) args += " --option";
  for (const std::string& name : projector.leading) args += " --leading " + name;
  for (const Packed& entry : projector.extract) {
    Make(box, box.root + "/src/" + entry.name, entry.content, random);
    args += " --extract " + box.root + "/src/" + entry.name + (entry.compressed ? ":compress" : "");
  }
  if (projector.packer != Packer::Cinepack) args += " --no-integrity-record";
  if (projector.signer == Signer::Cinepack) {
    args += " --sign " + MakerCertificate().pem + " " + MakerCertificate().key;
  }
  std::string output;
  ASSERT_EQ(RunCinepack(args, &output), 0) << output;
  if (projector.packer == Packer::Other) {
    std::string image = ReadFile(exe);
    WriteFile(exe, image.insert(image.size() - 4, "!"));
  }
  if (projector.signer != Signer::Afterwards) return;
  const Certificate& maker = MakerCertificate();
  ASSERT_EQ(RunHost("osslsigncode sign -certs " + maker.pem + " -key " + maker.key + " -in " + exe +
                        " -out " + exe + ".signed && mv " + exe + ".signed " + exe,
                    &output),
            0)
      << output;
}

// The launch with the scenario's start.
LaunchResult LaunchAs(const Sandbox& box, const Start& start) {
  LaunchSpec spec = SandboxSpec(box);
  spec.env.push_back("CINE_SNAPSHOT=" + ToWindowsPath(box.root + "/snapshot"));
  for (const Variable& v : start.env) spec.env.push_back(v.name + "=" + v.value);
  if (start.afterExe) {
    spec.raw = true;
    spec.args = "\"" + ToWindowsPath(spec.exe) + "\"" + *start.afterExe;
  }
  spec.show = start.show;
  if (start.cancel) spec.answer = "cancel";
  if (start.currentDirectoryLength > 0) {
    spec.cwd = FolderOfLength(box.root, start.currentDirectoryLength);
    MakeDirs(spec.cwd);
  }
  if (start.tmpMissing) spec.tmp = box.root + "/no/such/folder";
  spec.locale = start.locale;
  return Launch(box, spec);
}

void CheckReceived(const Sandbox& box, const Outcome& expect, LaunchResult& r) {
  for (const Received& got : expect.received) {
    std::string expected = WindowsPath(box, got.base, got.text);
    std::string seen = r.report[got.key];
    bool anyCase = got.base != In::Value || got.key.find("path") != std::string::npos;
    EXPECT_EQ(anyCase ? ToLower(seen) : seen, anyCase ? ToLower(expected) : expected) << got.key;
  }
  EXPECT_EQ(!r.report.empty(), !expect.received.empty()) << "the runtime was called, or not";
}

void CheckBrowser(const Sandbox& box, const BrowserStart& browser) {
  // The program runs on after the launcher: wait for its record, or a while for none.
  std::string log = box.root + "/Browser/browser.exe.log";
  bool started = WaitForFile(log, browser.started ? 30000 : 1000);
  std::this_thread::sleep_for(std::chrono::milliseconds(200) * TimeFactor());
  std::string address = std::string(DownloadBaseAddress) + browser.segment +
                        "lumenreel/download/?P1_Prod_Version=LRArchive10.1.0";
  std::string expected = "cmdline=" + BrowserProgram(box) + " " + address + "\nshow=1\n";
  EXPECT_EQ(started ? ReadFile(log) : "", browser.started ? expected : "");
}

bool IsLibrary(const Projector& projector, const std::string& name) {
  for (const Packed& entry : projector.extract) {
    if (entry.name == name) return entry.content.kind == Content::Library;
  }
  return false;
}

// Every extracted entry arrived whole, beside nothing but the hidden empty lock file.
void CheckWorkFiles(const Sandbox& box, const Projector& projector, const LaunchResult& r) {
  if (r.workFiles.empty()) return;
  std::set<std::string> extracted = {Lock}, seen;
  for (const Packed& entry : projector.extract) extracted.insert(entry.name);
  for (const std::string& line : r.workFiles) {
    std::istringstream fields(line);
    std::string name, size, attributes;
    fields >> name >> size >> attributes;
    seen.insert(name);
    if (name == Lock) {
      EXPECT_EQ(size, "0");
      EXPECT_TRUE(std::stoul(attributes, nullptr, 16) & 2) << "not hidden: " << attributes;
    } else if (projector.signer == Signer::Cinepack && IsLibrary(projector, name)) {
      // Signed when it was packed: it arrived as signed, by the maker.
      std::string output, file = box.root + "/snapshot/" + name;
      EXPECT_EQ(RunHost("osslsigncode verify -CAfile " + MakerCertificate().pem + " -in " + file,
                        &output),
                0)
          << name << "\n"
          << output;
    } else {
      std::string arrived = ReadFile(box.root + "/snapshot/" + name);
      EXPECT_TRUE(arrived == ReadFile(box.root + "/src/" + name)) << name;
    }
  }
  EXPECT_EQ(seen, extracted);
}

// Nothing is left in TMP but what the row placed or expects there.
void CheckTmp(const Sandbox& box, const Scenario& s) {
  std::set<std::string> allowed;
  auto allow = [&](const std::string& path) {
    if (path.rfind("tmp/", 0) == 0) allowed.insert(path.substr(4, path.find('/', 4) - 4));
  };
  for (const Placed& placed : s.given) allow(placed.path);
  for (const std::string& path : s.expect.exists) allow(path);
  for (const std::string& name : Exists(box.tmp) ? ListDir(box.tmp) : std::vector<std::string>()) {
    bool taken = Exists(box.tmp + "/" + name + "/mine.txt");
    EXPECT_TRUE(taken || allowed.count(name)) << name << " was left behind";
  }
  EXPECT_FALSE(Exists(box.root + "/no")) << "a folder was made where TMP pointed";
}

}  // namespace

void RunScenario(const Scenario& s) {
  Sandbox box = MakeSandbox(std::string("launch_") + s.name);
  std::mt19937 random(1);
  for (const Placed& placed : s.given) {
    std::string path =
        placed.shared ? SharedFolder(box) + "/" + placed.path : box.root + "/" + placed.path;
    Make(box, path, placed.content, &random);
  }
  PackProjector(box, s.projector, box.app + "/MOVIE.EXE", &random);
  if (s.start.htm) RegisterHtm(box, *s.start.htm);
  LaunchResult r = LaunchAs(box, s.start);
  fs::remove_all(fs::path(SharedFolder(box)).parent_path());

  const Outcome& expect = s.expect;
  EXPECT_EQ(r.exitCode, expect.exitCode) << r.probeOutput;
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.box["text"], expect.box ? expect.box : "");
  if (expect.box) {
    EXPECT_EQ(r.box["caption"], "Application Error");
    // OK and Cancel for the download offer, OK alone otherwise.
    EXPECT_EQ(r.box["buttons"], expect.box == std::string(PlayerMissingText) ? "1,2" : "1");
  }
  CheckReceived(box, expect, r);
  for (const std::string& path : expect.exists) EXPECT_TRUE(Exists(box.root + "/" + path)) << path;
  for (const std::string& path : expect.gone) EXPECT_FALSE(Exists(box.root + "/" + path)) << path;
  if (expect.browser) CheckBrowser(box, *expect.browser);
  CheckWorkFiles(box, s.projector, r);
  CheckTmp(box, s);
}

}  // namespace e2e
