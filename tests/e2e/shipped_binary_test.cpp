// What the shipped PE32 launcher is: imports from the four system libraries only, no symbol
// table, no instruction beyond the Pentium's, and resources Windows can use.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <sstream>

#include "tests/e2e/harness.h"

namespace e2e {
namespace {

TEST(ShippedBinary, ImportsOnlyTheFourSystemLibrariesAndHasNoSymbolTable) {
  std::set<std::string> dlls, allowed = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll"};
  std::string image = ReadFile(Launcher());
  uint16_t machine = 0;
  for (size_t d = PeDirectoryOffset(image, 1, &machine); d != 0 && ReadLE32(image, d + 12) != 0; d += 20) {
    dlls.insert(ToLower(image.c_str() + PeRvaToOffset(image, ReadLE32(image, d + 12))));
  }
  EXPECT_EQ(machine, 0x14C) << "an i386 image";
  EXPECT_TRUE(dlls.count("kernel32.dll")) << "the import table was read";
  for (const std::string& dll : dlls) EXPECT_TRUE(allowed.count(dll)) << dll;
  size_t pe = ReadLE32(image, 0x3C);  // the COFF header: symbol table pointer, symbol count
  EXPECT_EQ(ReadLE32(image, pe + 12) | ReadLE32(image, pe + 16), 0u) << "a symbol table";
}

// What the original Pentium runs, as objdump names it without size suffixes: the 386 and 486
// integer set, the Pentium's additions and the x87; not cmov, fcomi, multi-byte nop, MMX, SSE.
const char PentiumMnemonics[] =
    "aaa aad aam aas adc add and arpl bound bsf bsr bswap bt btc btr bts call cbtw cltd clc cld cli cmc "
    "cmp cmps cmpxchg cmpxchg8b cpuid cwtd cwtl daa das dec div enter hlt idiv imul in inc ins int int3 "
    "into iret ja jae jb jbe jcxz je jecxz jg jge jl jle jmp jne jno jnp jns jo jp js lahf lds lea leave "
    "les lfs lgs lock lods loop loope loopne lss mov movs movsbl movsbw movswl movzbl movzbw movzwl mul "
    "neg nop not or out outs pop popa popf push pusha pushf rcl rcr rdtsc rep repz repnz ret rol ror "
    "sahf sar sbb scas seta setae setb setbe sete setg setge setl setle setne setno setnp setns seto "
    "setp sets shl shld shr shrd stc std sti stos sub test wait xadd xchg xlat xor f2xm1 fabs fadd faddp "
    "fbld fbstp fchs fclex fcom fcomp fcompp fcos fdecstp fdiv fdivp fdivr fdivrp ffree fiadd ficom "
    "ficomp fidiv fidivr fild fildll fimul fincstp finit fist fistp fistpll fisub fisubr fld fld1 fldcw "
    "fldenv fldl2e fldl2t fldlg2 fldln2 fldpi fldz fmul fmulp fnclex fninit fnop fnsave fnstcw fnstenv "
    "fnstsw fpatan fprem fprem1 fptan frndint frstor fscale fsin fsincos fsqrt fst fstp fsub fsubp fsubr "
    "fsubrp ftst fucom fucomp fucompp fwait fxam fxch fxtract fyl2x fyl2xp1";

TEST(ShippedBinary, UsesOnlyPentiumInstructions) {
  std::set<std::string> known, outside;
  std::istringstream names(PentiumMnemonics);
  for (std::string name; names >> name;) known.insert(name);
  // Instruction lines without their address; data decodes as "(bad)", zero bytes show as "...".
  std::string command = "i686-w64-mingw32-objdump -d --no-show-raw-insn '" + Launcher() +
                        "' | grep -P '^  +[0-9a-f]+:\\t' | cut -f2- | grep -v -e '^(bad)' -e '^\\.\\.\\.'";
  FILE* pipe = popen(command.c_str(), "r");
  size_t instructions = 0;
  for (char line[4096]; pipe != nullptr && fgets(line, sizeof line, pipe) != nullptr; ++instructions) {
    std::istringstream fields(line);
    std::string m, operands;
    fields >> m;
    std::getline(fields, operands);
    // movl is mov but movzbl is itself; nopw and nopl, MMX and SSE registers are later.
    if (!known.count(m) && m.size() > 1 && m.compare(0, 3, "nop") && strchr("bwl", m.back())) m.pop_back();
    if (!known.count(m) || operands.find("%mm") + 1 || operands.find("%xmm") + 1) outside.insert(m);
  }
  ASSERT_EQ(pclose(pipe), 0) << command;
  EXPECT_GT(instructions, 1000u) << "the disassembly was read";
  EXPECT_EQ(outside, std::set<std::string>()) << "instructions beyond the Pentium";
}

TEST(ShippedBinary, WindowsLoadsTheStringsAndMakesEveryIconImage) {
  std::string out = RunWine({ToWindowsPath(WinDir() + "/tests/uidriver.exe"), "resources",
                             ToWindowsPath(Launcher())}).output;
  // (The texts are asserted where the failure messages show them.)
  for (int id = 1000; id <= 1005; ++id) {
    EXPECT_NE(out.find("string." + std::to_string(id) + "="), out.npos) << id;
  }
  for (std::string size : {"48x48", "32x32", "16x16"}) {
    for (std::string bpp : {"4", "8", "32"}) {
      size_t at = out.find("icon=" + size + "@" + bpp + " ");
      std::string line = at == out.npos ? "" : out.substr(at, out.find('\n', at) - at);
      EXPECT_NE(line.find("made=" + size), line.npos) << size << "@" << bpp << "\n" << out;
    }
  }
}

// The manifest asks for no elevation, names every system from Vista to Windows 11 and
// claims no DPI awareness; Windows reads it: told it runs on Windows 10, the process hears
// "10.0" only because the manifest names that system (without, it would hear 6.2).
TEST(ShippedBinary, CarriesAManifestThatWindowsHonours) {
  std::string out = RunWine({ToWindowsPath(WinDir() + "/tests/uidriver.exe"), "resources",
                             ToWindowsPath(Launcher())})
                        .output;
  std::string manifest = ParseKeyValues(out)["manifest"];
  EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"asInvoker\""), manifest.npos) << out;
  for (const char* system : {"e2011457-1546-43c5-a5fe-008deee3d3f0",    // Vista
                             "35138b9a-5d96-4fbd-8e2d-a2440225f93a",    // 7
                             "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",    // 8
                             "1f676c76-80e1-4239-95bb-83d0f6d0da78",    // 8.1
                             "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"}) {  // 10 and 11
    EXPECT_NE(manifest.find(std::string("<supportedOS Id=\"{") + system + "}\"/>"), manifest.npos)
        << system;
  }
  EXPECT_EQ(manifest.find("dpiAware"), manifest.npos);

  Sandbox box = MakeSandbox("manifest");
  LaunchSpec spec = SandboxSpec(box);
  spec.exe = box.app + "/WIN10.EXE";
  CopyFile(Launcher(), spec.exe);
  CopyFile(TestRuntime(), box.app + "/cine.dll");
  std::string key = "HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\WIN10.EXE";
  ASSERT_EQ(RunWine({"reg", "add", key, "/v", "Version", "/d", "win10", "/f"}).status, 0);
  LaunchResult r = Launch(box, spec);
  EXPECT_EQ(r.report["os_version"], "10.0") << r.probeOutput;
}

}  // namespace
}  // namespace e2e
