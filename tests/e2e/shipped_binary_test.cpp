// What the shipped PE32 launcher is: imports from the four system libraries only, no
// symbol table, no instruction beyond the Pentium's, and resources Windows can use.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <sstream>
#include <string>

#include "tests/e2e/harness.h"

namespace e2e {
namespace {

TEST(ShippedBinary, ImportsOnlyTheFourSystemLibrariesAndHasNoSymbolTable) {
  const std::set<std::string> allowed = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll"};
  std::string image = ReadFile(Launcher());
  uint16_t machine = 0;
  std::set<std::string> dlls;
  for (size_t d = PeDirectoryOffset(image, 1, &machine); d != 0 && ReadLE32(image, d + 12) != 0; d += 20) {
    dlls.insert(ToLower(image.c_str() + PeRvaToOffset(image, ReadLE32(image, d + 12))));
  }
  EXPECT_EQ(machine, 0x14C) << "an i386 image";
  EXPECT_TRUE(dlls.count("kernel32.dll")) << "the import table was read";
  for (const std::string& dll : dlls) EXPECT_TRUE(allowed.count(dll)) << dll;
  // The COFF file header's symbol table pointer and symbol count.
  size_t pe = ReadLE32(image, 0x3C);
  EXPECT_EQ(ReadLE32(image, pe + 12) | ReadLE32(image, pe + 16), 0u);
}

// Mnemonics as objdump writes them (AT&T, size suffixes removed) that the original Pentium
// runs: the 386 and 486 integer set, the Pentium's few additions and the x87. Later ones
// (cmov, fcomi, multi-byte nop, MMX, SSE) are not here.
const char PentiumMnemonics[] =
    "aaa aad aam aas adc add and arpl bound bsf bsr bswap bt btc btr bts call cbtw cltd clc "
    "cld cli cmc cmp cmps cmpxchg cmpxchg8b cpuid cwtd cwtl daa das dec div enter hlt idiv "
    "imul in inc ins int int3 into iret ja jae jb jbe jcxz je jecxz jg jge jl jle jmp jne jno "
    "jnp jns jo jp js lahf lds lea leave les lfs lgs lock lods loop loope loopne lss mov movs "
    "movsbl movsbw movswl movzbl movzbw movzwl mul neg nop not or out outs pop popa popf push "
    "pusha pushf rcl rcr rdtsc rep repz repnz ret rol ror sahf sar sbb scas seta setae setb "
    "setbe sete setg setge setl setle setne setno setnp setns seto setp sets shl shld shr shrd "
    "stc std sti stos sub test wait xadd xchg xlat xor f2xm1 fabs fadd faddp fbld fbstp fchs "
    "fclex fcom fcomp fcompp fcos fdecstp fdiv fdivp fdivr fdivrp ffree fiadd ficom ficomp "
    "fidiv fidivr fild fildll fimul fincstp finit fist fistp fistpll fisub fisubr fld fld1 "
    "fldcw fldenv fldl2e fldl2t fldlg2 fldln2 fldpi fldz fmul fmulp fnclex fninit fnop fnsave "
    "fnstcw fnstenv fnstsw fpatan fprem fprem1 fptan frndint frstor fscale fsin fsincos fsqrt "
    "fst fstp fsub fsubp fsubr fsubrp ftst fucom fucomp fucompp fwait fxam fxch fxtract fyl2x "
    "fyl2xp1 ";

TEST(ShippedBinary, UsesOnlyPentiumInstructions) {
  std::set<std::string> known;
  std::istringstream names(PentiumMnemonics);
  for (std::string name; names >> name;) known.insert(name);
  std::string command = "i686-w64-mingw32-objdump -d --no-show-raw-insn '" + Launcher() + "'";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::set<std::string> outside;
  size_t instructions = 0;
  for (char line[4096]; fgets(line, sizeof line, pipe) != nullptr;) {
    // Instruction lines: "  401000:\tmnemonic operands".
    const char* tab = strstr(line, ":\t");
    if (tab == nullptr || strncmp(line, "  ", 2) != 0) continue;
    std::istringstream fields(tab + 2);
    std::string m, operands;
    fields >> m;
    std::getline(fields, operands);
    // Data in the code section decodes as "(bad)"; a run of zero bytes shows as "...".
    if (m.empty() || m == "(bad)" || m == "...") continue;
    ++instructions;
    // movl is mov, but movzbl and fildll are names of their own; nopw and nopl are the
    // multi-byte nop of later processors.
    char last = m.back();
    if (!known.count(m) && m.compare(0, 3, "nop") != 0 && (last == 'b' || last == 'w' || last == 'l')) {
      m.pop_back();
    }
    // MMX and SSE registers belong to later processors, whatever the mnemonic.
    if (!known.count(m) || operands.find("%mm") != operands.npos ||
        operands.find("%xmm") != operands.npos) outside.insert(m);
  }
  ASSERT_EQ(pclose(pipe), 0) << command;
  EXPECT_GT(instructions, 1000u) << "the disassembly was read";
  std::string list;
  for (const std::string& m : outside) list += m + " ";
  EXPECT_TRUE(outside.empty()) << "instructions beyond the Pentium: " << list;
}

TEST(ShippedBinary, WindowsLoadsTheStringsAndMakesEveryIconImage) {
  CommandResult r = RunWine({ToWindowsPath(WinDir() + "/tests/uidriver.exe"), "resources",
                             ToWindowsPath(Launcher())});
  // The texts themselves are asserted where the failure messages show them.
  for (int id = 1000; id <= 1004; ++id) {
    EXPECT_NE(r.output.find("string." + std::to_string(id) + "="), std::string::npos) << r.output;
  }
  for (const char* size : {"48x48", "32x32", "16x16"}) {
    for (const char* bpp : {"4", "8", "32"}) {
      size_t at = r.output.find(std::string("icon=") + size + "@" + bpp + " ");
      ASSERT_NE(at, std::string::npos) << size << "@" << bpp << "\n" << r.output;
      std::string line = r.output.substr(at, r.output.find('\n', at) - at);
      EXPECT_NE(line.find(std::string("made=") + size), std::string::npos) << line;
    }
  }
}

}  // namespace
}  // namespace e2e
