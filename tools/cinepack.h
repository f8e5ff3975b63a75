// The packer's operations: build a projector from a stub and files, and list, verify
// and extract the payload of one. Ordinary C++, for the host and Windows tool builds.
#pragma once
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

#include "payload/payload_format.h"
#include "payload/payload_integrity.h"

struct ExtractSource {
  std::string path;
  bool compress = false;
};

struct BuildOptions {
  std::string stub;
  std::string movie;
  std::string output;
  std::vector<ExtractSource> extracts;  // in slot order, after the leading entries
  std::vector<std::string> leading;     // NAME.EXT, files deleted beside the projector
  bool option = false;                  // flags bit 0x100
  bool noSplash = false;                // flags2 bit 0x4
  bool bigEndianContent = false;        // flags2 bit 0x2
  // The integrity record after the stub's image; without it the layout is the one of
  // projectors made before the record (with the fill that makes them signable).
  bool integrityRecord = true;
  // Both given: sign every entry that is a PE image, then the projector, with
  // `signTool` (osslsigncode).
  std::string signCertificate;
  std::string signKey;
  std::string signTool = "osslsigncode";
  // The ANSI code page of the machines the projector is for, in which names outside ASCII
  // are written; 0: every name must be ASCII, which every code page reads alike.
  uint32_t codePage = 0;
};

// Entries at or above this size report their progress on `progress`.
const uint64_t ProgressThreshold = 4u << 20;

// Appends the first `size` bytes of the file at `path` to `out`, adding them to `*crc`
// when given, and reports progress as `what` for large files; false when they could not
// all be read, or written.
bool CopyFileInto(std::ostream& out, const std::string& path, uint64_t size,
                  const std::string& what, std::ostream& progress, uint32_t* crc);

// Writes the projector to `options.output`, or nothing at all. Its length is always a
// multiple of 8, so that signing it later adds no padding. Returns "" on success,
// otherwise a message saying what was refused and why.
std::string BuildProjector(const BuildOptions& options, std::ostream& progress);

// The slot fields an extracted file yields, its name written in `codePage` (0: ASCII
// only), or a message when the format cannot hold it (over 32 bytes, an extension over
// 3, or one the launcher refuses under that code page).
std::string MakeEntryNames(const std::string& fileName, bool compress, uint32_t codePage,
                           PayloadEntry* entry);

// Text outside ASCII: entry names in the code page of the launcher's machines, and the
// tool's own paths (tools/cinepack_code_page.cpp).
// Whether Windows uses `codePage` as a system's ANSI code page.
bool IsAnsiCodePage(uint32_t codePage);
const char AnsiCodePages[] = "874, 932, 936, 949, 950 and 1250 to 1258";
// The double-byte rule by which the launcher reads names under `codePage` (0: a single-byte
// one). Names outside ASCII read differently under other code pages, and may even make the
// payload read as damaged there: "表" (95 5C in 932) is a path under a single-byte code page.
LeadByteRule LeadByteRuleOf(uint32_t codePage);
// Whether the launcher accepts the slot's names under some code page.
bool HasNamesSomeCodePageAccepts(const PayloadEntry* entry);
// A path the tool holds as text, as the file system takes it: the Windows build's text is
// in the system's code page, which std::filesystem there does not read in narrow strings.
std::filesystem::path FilePath(const std::string& path);
// And back: on Windows "" where the system's code page cannot spell it.
std::string PathText(const std::filesystem::path& path);
// The last part of `path`, after its last separator ('/' or '\\').
std::string FileNameOf(const std::string& path);
// `name` as `codePage` spells it (an ASCII name as it is, whatever the code page): "" or
// why it cannot be.
std::string SpellName(const std::string& name, uint32_t codePage, std::string* spelled);

// What a file holds at its end, read the way the launcher reads it.
struct ProjectorInfo {
  uint64_t fileSize = 0;
  bool hasPayload = false;  // the launcher recognises a payload
  std::string noPayload;    // why not, when it does not
  uint32_t headerOffset = 0;
  PayloadHeader header = {};
  std::string tableProblem;       // why the launcher would refuse to extract, or ""
  uint64_t payloadEnd = 0;        // where the trailer ends: the file's end, or before a signature
  uint64_t certificateTable = 0;  // where a certificate table that ends the file starts; 0: none
  uint64_t securityEntry = 0;     // with one, where the security directory names it
  uint64_t recordOffset = 0;      // where the integrity record lies, after the image; 0: none
  IntegrityRecord record = {};    // the record, when there is one
  std::string damage;             // what the record shows to be damaged, or ""
};

ProjectorInfo InspectProjector(const std::string& path);

// The subcommands; each returns the process exit status (0 when all is well).
int ListProjector(const std::string& path, std::ostream& out);
// `trustedCertificates`, when given, is the CA file a signature's certificate is checked
// against instead of the system's.
int VerifyProjector(const std::string& path, std::ostream& out, std::ostream& progress,
                    const std::string& trustedCertificates = "");
int ExtractProjector(const std::string& path, const std::string& folder, std::ostream& out,
                     std::ostream& progress);

// Signing through osslsigncode (tools/cinepack_sign.cpp).
// The signing tool: $CINEPACK_OSSLSIGNCODE, or osslsigncode on the PATH.
std::string SigningToolName();
// The program's path when `name` is an executable file or is found on the PATH.
bool FindProgram(const std::string& name, std::string* path);
// Signs `in` into `out` with an Authenticode signature, replacing one it has; "" or what
// went wrong. $SOURCE_DATE_EPOCH, when set, is the signing time, so that the same inputs
// give the same signature.
std::string SignFile(const std::string& tool, const std::string& in, const std::string& out,
                     const std::string& certificate, const std::string& key);
// Signs the projector `in` into `out` (written whole or not at all), removing the
// signature it has first (and the padding before it): `tool` signs the projector as it was
// before it was signed. "" or what went wrong.
std::string SignProjector(const std::string& tool, const std::string& in, const std::string& out,
                          const std::string& certificate, const std::string& key);
// Whether `in`, from its start, holds a PE image: "MZ", and "PE\0\0" where e_lfanew says.
bool IsPeImage(std::istream& in);
struct SignatureCheck {
  bool matches = false;  // the signature still covers the file as it is
  std::string summary;   // one line for the user
};
SignatureCheck CheckSignature(const std::string& tool, const std::string& path,
                              const std::string& trustedCertificates);

// The name under which `ExtractProjector` writes the movie container.
const char MovieFileName[] = "movie.dat";
