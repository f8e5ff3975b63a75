// What the shipped PE32 launcher is: an i386 image importing from the four system libraries
// only, with no symbol table, no instruction beyond the Pentium's, and resources Windows
// can use.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <sstream>

#include "tests/e2e/scenario.h"

namespace e2e {
namespace {

std::string Objdump(const std::string& options) {
  std::string out;
  RunHost("i686-w64-mingw32-objdump " + options + " '" + Launcher() + "'", &out);
  return out;
}

TEST(ShippedBinary, ImportsOnlyTheFourSystemLibrariesAndHasNoSymbolTable) {
  std::string headers = Objdump("-f -p");
  EXPECT_NE(headers.find("architecture: i386,"), headers.npos) << headers;
  EXPECT_EQ(headers.find("HAS_SYMS"), headers.npos) << "a symbol table";
  std::set<std::string> dlls;
  const std::string name = "DLL Name: ";
  for (size_t at = headers.find(name); at != headers.npos; at = headers.find(name, at + 1)) {
    dlls.insert(
        ToLower(headers.substr(at + name.size(), headers.find('\n', at) - at - name.size())));
  }
  EXPECT_TRUE(dlls.count("kernel32.dll")) << "the import table was read";
  for (const std::string& dll : dlls) {
    EXPECT_TRUE(std::set<std::string>({"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll"})
                    .count(dll))
        << dll;
  }
}

// What the original Pentium runs, as objdump names it without size suffixes: the 386 and
// 486 integer set, the Pentium's additions and the x87; not cmov, fcomi, multi-byte nop,
// MMX or SSE.
const char PentiumMnemonics[] =
    "aaa aad aam aas adc add and arpl bound bsf bsr bswap bt btc btr bts call cbtw cltd clc cld "
    "cli cmc cmp cmps cmpxchg cmpxchg8b cpuid cwtd cwtl daa das dec div enter hlt idiv imul in "
    "inc ins int int3 into iret ja jae jb jbe jcxz je jecxz jg jge jl jle jmp jne jno jnp jns jo "
    "jp js lahf lds lea leave les lfs lgs lock lods loop loope loopne lss mov movs movsbl movsbw "
    "movswl movzbl movzbw movzwl mul neg nop not or out outs pop popa popf push pusha pushf rcl "
    "rcr rdtsc rep repz repnz ret rol ror sahf sar sbb scas seta setae setb setbe sete setg "
    "setge setl setle setne setno setnp setns seto setp sets shl shld shr shrd stc std sti stos "
    "sub test wait xadd xchg xlat xor f2xm1 fabs fadd faddp fbld fbstp fchs fclex fcom fcomp "
    "fcompp fcos fdecstp fdiv fdivp fdivr fdivrp ffree fiadd ficom ficomp fidiv fidivr fild "
    "fildll fimul fincstp finit fist fistp fistpll fisub fisubr fld fld1 fldcw fldenv fldl2e "
    "fldl2t fldlg2 fldln2 fldpi fldz fmul fmulp fnclex fninit fnop fnsave fnstcw fnstenv fnstsw "
    "fpatan fprem fprem1 fptan frndint frstor fscale fsin fsincos fsqrt fst fstp fsub fsubp "
    "fsubr fsubrp ftst fucom fucomp fucompp fwait fxam fxch fxtract fyl2x fyl2xp1";

TEST(ShippedBinary, UsesOnlyPentiumInstructions) {
  std::set<std::string> known, outside;
  std::istringstream names(PentiumMnemonics);
  for (std::string name; names >> name;) known.insert(name);
  // Instruction lines: "  address:\tmnemonic operands". Data decodes as "(bad)", and runs
  // of zero bytes show as "...".
  std::istringstream lines(Objdump("-d --no-show-raw-insn"));
  size_t instructions = 0;
  for (std::string line; std::getline(lines, line);) {
    size_t tab = line.find(":\t");
    if (line.rfind("  ", 0) != 0 || tab == line.npos) continue;
    std::istringstream fields(line.substr(tab + 2));
    std::string m, operands;
    fields >> m;
    std::getline(fields, operands);
    if (m == "(bad)" || m == "...") continue;
    ++instructions;
    // movl is mov but movzbl is itself; nopw and nopl, MMX and SSE registers are later.
    bool suffixed = m.size() > 1 && m.compare(0, 3, "nop") != 0 && strchr("bwl", m.back());
    if (!known.count(m) && suffixed) m.pop_back();
    bool vector = operands.find("%mm") != operands.npos || operands.find("%xmm") != operands.npos;
    if (!known.count(m) || vector) outside.insert(m);
  }
  EXPECT_GT(instructions, 1000u) << "the disassembly was read";
  EXPECT_EQ(outside, std::set<std::string>()) << "instructions beyond the Pentium";
}

// A manifest that asks for no elevation, names every system from Vista to Windows 11 and
// claims no DPI awareness. (That Windows reads it, the launch tables show, and its icons.)
TEST(ShippedBinary, CarriesTheManifest) {
  std::string image = ReadFile(Launcher());
  EXPECT_NE(image.find("<requestedExecutionLevel level=\"asInvoker\""), image.npos);
  for (const char* system : {"e2011457-1546-43c5-a5fe-008deee3d3f0",     // Vista
                             "35138b9a-5d96-4fbd-8e2d-a2440225f93a",     // 7
                             "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",     // 8
                             "1f676c76-80e1-4239-95bb-83d0f6d0da78",     // 8.1
                             "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"}) {  // 10 and 11
    EXPECT_NE(image.find(std::string("<supportedOS Id=\"{") + system + "}\"/>"), image.npos)
        << system;
  }
  EXPECT_EQ(image.find("dpiAware"), image.npos);
}

}  // namespace
}  // namespace e2e
