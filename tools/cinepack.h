// The packer's operations: build a projector from a stub and files, and list, verify
// and extract the payload of one. Ordinary C++, for the host and Windows tool builds.
#pragma once
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "payload/payload_format.h"

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
};

// Entries at or above this size report their progress on `progress`.
const uint64_t ProgressThreshold = 4u << 20;

// Writes the projector to `options.output`, or nothing at all. Returns "" on success,
// otherwise a message saying what was refused and why.
std::string BuildProjector(const BuildOptions& options, std::ostream& progress);

// The slot fields an extracted file yields, or a message when the format cannot hold
// its name (over 32 characters, an extension over 3, or one the launcher refuses).
std::string MakeEntryNames(const std::string& fileName, bool compress, PayloadEntry* entry);

// What a file holds at its end, read the way the launcher reads it.
struct ProjectorInfo {
  uint64_t fileSize = 0;
  bool hasPayload = false;   // the launcher recognises a payload
  std::string noPayload;     // why not, when it does not
  uint32_t headerOffset = 0;
  PayloadHeader header = {};
  std::string tableProblem;  // why the launcher would refuse to extract, or ""
};

ProjectorInfo InspectProjector(const std::string& path);

// The subcommands; each returns the process exit status (0 when all is well).
int ListProjector(const std::string& path, std::ostream& out);
int VerifyProjector(const std::string& path, std::ostream& out, std::ostream& progress);
int ExtractProjector(const std::string& path, const std::string& folder, std::ostream& out,
                     std::ostream& progress);

// The name under which `ExtractProjector` writes the movie container.
const char MovieFileName[] = "movie.dat";
