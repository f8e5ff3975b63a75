// What the shipped PE32 launcher carries: imports from the four system libraries only,
// no symbol table, and no instruction beyond the Pentium's.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <sstream>
#include <string>

#include "tests/e2e/harness.h"

namespace e2e {
namespace {

// The names of the DLLs in a PE file's import directory, lower-cased; `machine`
// receives the file header's machine field.
std::set<std::string> ImportedDlls(const std::string& image, uint16_t* machine) {
  std::set<std::string> dlls;
  for (size_t d = PeDirectoryOffset(image, 1, machine); d != 0 && ReadLE32(image, d + 12) != 0;
       d += 20) {
    std::string name = image.c_str() + PeRvaToOffset(image, ReadLE32(image, d + 12));
    dlls.insert(ToLower(name));
  }
  return dlls;
}

TEST(ShippedBinary, ImportsOnlyTheFourSystemLibrariesAndHasNoSymbolTable) {
  const std::set<std::string> allowed = {"kernel32.dll", "user32.dll", "gdi32.dll",
                                         "advapi32.dll"};
  std::string image = ReadFile(Launcher());
  ASSERT_FALSE(image.empty()) << Launcher();
  uint16_t machine = 0;
  std::set<std::string> dlls = ImportedDlls(image, &machine);
  EXPECT_EQ(machine, 0x14C) << "an i386 image";
  EXPECT_TRUE(dlls.count("kernel32.dll"));
  for (const std::string& dll : dlls) EXPECT_TRUE(allowed.count(dll)) << dll;
  // The COFF file header's pointer to the symbol table and its count.
  size_t pe = ReadLE32(image, 0x3C);
  EXPECT_EQ(ReadLE32(image, pe + 12), 0u) << "symbol table pointer";
  EXPECT_EQ(ReadLE32(image, pe + 16), 0u) << "symbol count";
}

// Mnemonics as objdump writes them (AT&T, size suffixes removed), every one of which
// the original Pentium runs: the 386 and 486 integer set, the Pentium's few additions,
// and the x87. Later ones (cmov, fcomi, multi-byte nop, MMX, SSE) are not here.
const char* const PentiumMnemonics[] = {
    "aaa", "aad", "aam", "aas", "adc", "add", "and", "arpl", "bound", "bsf", "bsr",
    "bswap", "bt", "btc", "btr", "bts", "call", "cbtw", "cltd", "clc", "cld", "cli",
    "cmc", "cmp", "cmps", "cmpxchg", "cmpxchg8b", "cpuid", "cwtd", "cwtl", "daa", "das",
    "dec", "div", "enter", "hlt", "idiv", "imul", "in", "inc", "ins", "int", "int3",
    "into", "iret", "ja", "jae", "jb", "jbe", "jcxz", "je", "jecxz", "jg", "jge", "jl",
    "jle", "jmp", "jne", "jno", "jnp", "jns", "jo", "jp", "js", "lahf", "lds", "lea",
    "leave", "les", "lfs", "lgs", "lock", "lods", "loop", "loope", "loopne", "lss", "mov", "movs",
    "movsbl", "movsbw", "movswl", "movzbl", "movzbw", "movzwl", "mul", "neg", "nop", "not",
    "or", "out", "outs", "pop", "popa", "popf", "push", "pusha", "pushf", "rcl", "rcr",
    "rdtsc", "rep", "repz", "repnz", "ret", "rol", "ror", "sahf", "sar", "sbb", "scas",
    "seta", "setae", "setb", "setbe", "sete", "setg", "setge", "setl", "setle", "setne",
    "setno", "setnp", "setns", "seto", "setp", "sets", "shl", "shld", "shr", "shrd", "stc",
    "std", "sti", "stos", "sub", "test", "wait", "xadd", "xchg", "xlat", "xor",
    "f2xm1", "fabs", "fadd", "faddp", "fbld", "fbstp", "fchs", "fclex", "fcom", "fcomp",
    "fcompp", "fcos", "fdecstp", "fdiv", "fdivp", "fdivr", "fdivrp", "ffree", "fiadd",
    "ficom", "ficomp", "fidiv", "fidivr", "fild", "fildll", "fimul", "fincstp", "finit",
    "fist", "fistp", "fistpll", "fisub", "fisubr", "fld", "fld1", "fldcw", "fldenv",
    "fldl2e", "fldl2t", "fldlg2", "fldln2", "fldpi", "fldz", "fmul", "fmulp", "fnclex",
    "fninit", "fnop", "fnsave", "fnstcw", "fnstenv", "fnstsw", "fpatan", "fprem", "fprem1",
    "fptan", "frndint", "frstor", "fscale", "fsin", "fsincos", "fsqrt", "fst", "fstp",
    "fsub", "fsubp", "fsubr", "fsubrp", "ftst", "fucom", "fucomp", "fucompp", "fwait",
    "fxam", "fxch", "fxtract", "fyl2x", "fyl2xp1",
};

// objdump's mnemonic with the operand-size suffix (b, w, l) taken off when the bare
// name is a known one: movl is mov, but movzbl stays movzbl and fildll stays fildll.
// nopw and nopl are the multi-byte nop of later processors, not a sized nop.
std::string BaseMnemonic(const std::string& m, const std::set<std::string>& known) {
  if (known.count(m) || m.compare(0, 3, "nop") == 0) return m;
  char last = m.empty() ? 0 : m.back();
  if ((last == 'b' || last == 'w' || last == 'l') && known.count(m.substr(0, m.size() - 1))) {
    return m.substr(0, m.size() - 1);
  }
  return m;
}

TEST(ShippedBinary, UsesOnlyPentiumInstructions) {
  const std::set<std::string> known(std::begin(PentiumMnemonics), std::end(PentiumMnemonics));
  std::string command = "i686-w64-mingw32-objdump -d --no-show-raw-insn '" + Launcher() + "'";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string listing;
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) listing.append(buffer, n);
  ASSERT_EQ(pclose(pipe), 0) << command;
  std::istringstream lines(listing);
  std::string line;
  std::set<std::string> outside;
  size_t instructions = 0;
  while (std::getline(lines, line)) {
    // Instruction lines: "  401000:\tmnemonic operands".
    size_t tab = line.find(":\t");
    if (tab == std::string::npos || line.compare(0, 2, "  ") != 0) continue;
    std::istringstream fields(line.substr(tab + 2));
    std::string mnemonic;
    fields >> mnemonic;
    // Data the linker keeps in the code section (the constructor list's -1 markers)
    // decodes as "(bad)"; a run of zero bytes is shown as "...".
    if (mnemonic.empty() || mnemonic == "(bad)" || mnemonic == "...") continue;
    ++instructions;
    std::string operands;
    std::getline(fields, operands);
    // MMX and SSE registers belong to later processors, whatever the mnemonic.
    if (operands.find("%mm") != std::string::npos || operands.find("%xmm") != std::string::npos ||
        !known.count(BaseMnemonic(mnemonic, known))) {
      outside.insert(mnemonic);
    }
  }
  EXPECT_GT(instructions, 1000u) << "the disassembly was read";
  std::string list;
  for (const std::string& m : outside) list += m + " ";
  EXPECT_TRUE(outside.empty()) << "instructions beyond the Pentium: " << list;
}

}  // namespace
}  // namespace e2e
