// cinepack: makes projectors from the bare launcher and their files, and lists, verifies
// and unpacks the payload of existing ones.
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "tools/cinepack.h"

namespace {

const char MainHelp[] =
    "usage: cinepack COMMAND ...\n"
    "\n"
    "  build    make a projector from the launcher, the runtime's files and a movie\n"
    "  list     show a projector's payload header and entries\n"
    "  verify   check every offset, decode every compressed entry, check the signature\n"
    "  extract  write a projector's extracted entries and its movie into a folder\n"
    "  sign     sign an existing projector, replacing the signature it has\n"
    "\n"
    "cinepack COMMAND --help tells more.\n";

const char BuildHelp[] =
    "usage: cinepack build --stub launcher.exe --movie FILE [--extract FILE[:compress]]...\n"
    "                      [--leading NAME.EXT]... [--option] [--no-splash]\n"
    "                      [--big-endian-content] [--sign CERT KEY] [--code-page N]\n"
    "                      [--no-integrity-record] -o OUT.exe\n"
    "\n"
    "Writes the stub, the integrity record, zero bytes up to a 512-byte boundary and on\n"
    "until the projector's length is a multiple of 8, the payload header, the entries,\n"
    "the movie and the trailer. At most five entries in all. The same inputs give the\n"
    "same bytes. Any Authenticode tool can sign the projector later without padding it.\n"
    "\n"
    "  --stub FILE        the bare launcher executable\n"
    "  --movie FILE       the movie container, appended after the entries\n"
    "  --extract FILE     a file the launcher writes into its work folder at start, under\n"
    "                     the same name (cine.dll, msvcrt.dll, ...); in slot order\n"
    "  --extract FILE:compress\n"
    "                     the same, stored LZARI-compressed; its packed extension ends\n"
    "                     in '_' (cine.dl_), and its own extension may have up to 6 letters\n"
    "  --leading NAME.EXT a file the launcher deletes beside the projector at exit\n"
    "  --option           set the payload option handed to the runtime (flags 0x100)\n"
    "  --no-splash        show no splash bitmap (flags2 0x4)\n"
    "  --big-endian-content  mark the content's words as byte-reversed (flags2 0x2)\n"
    "  --sign CERT KEY    sign every entry that is a PE image (by its headers; one\n"
    "                     signed already keeps its signature) before it is packed, then\n"
    "                     the projector, with osslsigncode (certificate and key as PEM\n"
    "                     or DER files, the key unencrypted). $SOURCE_DATE_EPOCH, when\n"
    "                     set, is the signing time, so that signed builds repeat too.\n"
    "                     $CINEPACK_OSSLSIGNCODE names another osslsigncode program\n"
    "  --signable         accepted for older scripts: every projector is signable now\n"
    "  --no-integrity-record\n"
    "                     leave out the record (the projector's length and the CRC-32\n"
    "                     of its header and entries) by which the launcher tells a\n"
    "                     damaged file; the layout is then that of older projectors\n"
    "                     built with --signable\n"
    "  --code-page N      the ANSI code page of the machines the projector is for\n"
    "                     (932 Japanese, 936 Simplified and 950 Traditional Chinese,\n"
    "                     949 Korean, 1251 Cyrillic, 1252 Western, ...): names outside\n"
    "                     ASCII are written in it, since the launcher reads a name's\n"
    "                     bytes in its machine's code page (machines of another code\n"
    "                     page read another name); without it they are refused\n"
    "  -o OUT.exe         the projector; written whole or not at all\n"
    "\n"
    "Names are at most 32 bytes and extensions at most 3 (6 for compressed files); a\n"
    "double-byte character takes two.\n";

const char ListHelp[] =
    "usage: cinepack list EXE\n"
    "\n"
    "Prints the payload header (flags, counts, movie, integrity record) and every entry:\n"
    "slot, kind (leading, stored, compressed), offset, size, CRC-32 and the file it\n"
    "yields. Says why when the file carries no payload, a malformed one or a damaged\n"
    "one, with exit status 1.\n";

const char VerifyHelp[] =
    "usage: cinepack verify [--ca FILE] EXE\n"
    "\n"
    "Checks the header, every entry's name and offset and the movie offset, the length\n"
    "and every CRC-32 against the integrity record when there is one, and decodes every\n"
    "compressed entry. Prints OK, or the first problem (the first damaged entry) with\n"
    "exit status 1.\n"
    "A second line says whether the projector is signed and, through osslsigncode verify,\n"
    "whether the signature still matches the file; then one line for each extracted\n"
    "entry says whether it is a PE image and whether it is signed, likewise (exit status\n"
    "1 when a signature does not match).\n"
    "\n"
    "  --ca FILE   trust the certificates in FILE (PEM) instead of the system's\n";

const char SignHelp[] =
    "usage: cinepack sign CERT KEY IN.exe -o OUT.exe\n"
    "\n"
    "Signs the projector IN.exe with osslsigncode into OUT.exe, written whole or not at\n"
    "all, after removing the signature IN.exe has: a distributor re-signs with its own\n"
    "certificate. The entries inside are left as they are. Certificate and key as for\n"
    "build --sign; $SOURCE_DATE_EPOCH, when set, is the signing time.\n";

const char ExtractHelp[] =
    "usage: cinepack extract EXE DIR\n"
    "\n"
    "Writes every extracted entry into DIR as the launcher would (compressed ones\n"
    "expanded), and the movie container as movie.dat. DIR is made when missing.\n";

bool WantsHelp(int argc, char** argv) {
  for (int i = 2; i < argc; ++i) {
    if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) return true;
  }
  return false;
}

int Usage(const char* help, const std::string& problem) {
  std::cerr << "cinepack: " << problem << "\n\n" << help;
  return 2;
}

int Build(int argc, char** argv) {
  BuildOptions options;
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    std::string v;
    if (a == "--stub") {
      if (!value(&options.stub)) return Usage(BuildHelp, "--stub needs a file");
    } else if (a == "--movie") {
      if (!value(&options.movie)) return Usage(BuildHelp, "--movie needs a file");
    } else if (a == "-o" || a == "--output") {
      if (!value(&options.output)) return Usage(BuildHelp, "-o needs a file");
    } else if (a == "--extract") {
      if (!value(&v)) return Usage(BuildHelp, "--extract needs a file");
      ExtractSource source;
      const std::string suffix = ":compress";
      if (v.size() > suffix.size() &&
          v.compare(v.size() - suffix.size(), suffix.size(), suffix) == 0) {
        source.compress = true;
        v.resize(v.size() - suffix.size());
      }
      source.path = v;
      options.extracts.push_back(source);
    } else if (a == "--leading") {
      if (!value(&v)) return Usage(BuildHelp, "--leading needs NAME.EXT");
      options.leading.push_back(v);
    } else if (a == "--option") {
      options.option = true;
    } else if (a == "--no-splash") {
      options.noSplash = true;
    } else if (a == "--big-endian-content") {
      options.bigEndianContent = true;
    } else if (a == "--signable") {
      // Every projector is signable now.
    } else if (a == "--no-integrity-record") {
      options.integrityRecord = false;
    } else if (a == "--code-page") {
      if (!value(&v) || v.empty() || v.size() > 5 ||
          v.find_first_not_of("0123456789") != std::string::npos) {
        return Usage(BuildHelp, "--code-page needs a number (932, 1251, ...)");
      }
      options.codePage = static_cast<uint32_t>(std::stoul(v));
    } else if (a == "--sign") {
      if (!value(&options.signCertificate) || !value(&options.signKey)) {
        return Usage(BuildHelp, "--sign needs a certificate and a key");
      }
    } else {
      return Usage(BuildHelp, "unknown argument '" + a + "'");
    }
  }
  options.signTool = SigningToolName();
  std::string problem = BuildProjector(options, std::cerr);
  if (!problem.empty()) {
    std::cerr << "cinepack: " << problem << "; nothing written\n";
    return 1;
  }
  return 0;
}

int Sign(int argc, char** argv) {
  std::vector<std::string> files;
  std::string output;
  for (int i = 2; i < argc; ++i) {
    if (strcmp(argv[i], "-o") == 0 || strcmp(argv[i], "--output") == 0) {
      if (i + 1 >= argc) return Usage(SignHelp, "-o needs a file");
      output = argv[++i];
    } else {
      files.push_back(argv[i]);
    }
  }
  if (files.size() != 3 || output.empty()) {
    return Usage(SignHelp, "sign takes a certificate, a key, a projector and -o OUT.exe");
  }
  std::string problem = SignProjector(SigningToolName(), files[2], output, files[0], files[1]);
  if (!problem.empty()) {
    std::cerr << "cinepack: " << problem << "; nothing written\n";
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string command = argc > 1 ? argv[1] : "";
  if (command.empty() || command == "--help" || command == "-h" || command == "help") {
    std::cout << MainHelp;
    return command.empty() ? 2 : 0;
  }
  if (command == "build") {
    if (WantsHelp(argc, argv)) return std::cout << BuildHelp, 0;
    return Build(argc, argv);
  }
  if (command == "list") {
    if (WantsHelp(argc, argv)) return std::cout << ListHelp, 0;
    if (argc != 3) return Usage(ListHelp, "list takes one executable");
    return ListProjector(argv[2], std::cout);
  }
  if (command == "verify") {
    if (WantsHelp(argc, argv)) return std::cout << VerifyHelp, 0;
    std::string trusted;
    if (argc == 5 && strcmp(argv[2], "--ca") == 0) {
      trusted = argv[3];
      return VerifyProjector(argv[4], std::cout, std::cerr, trusted);
    }
    if (argc != 3) return Usage(VerifyHelp, "verify takes one executable");
    return VerifyProjector(argv[2], std::cout, std::cerr);
  }
  if (command == "sign") {
    if (WantsHelp(argc, argv)) return std::cout << SignHelp, 0;
    return Sign(argc, argv);
  }
  if (command == "extract") {
    if (WantsHelp(argc, argv)) return std::cout << ExtractHelp, 0;
    if (argc != 4) return Usage(ExtractHelp, "extract takes an executable and a folder");
    return ExtractProjector(argv[2], argv[3], std::cout, std::cerr);
  }
  return Usage(MainHelp, "unknown command '" + command + "'");
}
