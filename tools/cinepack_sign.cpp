// Authenticode signing of projectors and the check of their signatures, both through
// osslsigncode, which cinepack runs as a separate program.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <istream>
#include <sstream>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "tools/cinepack.h"

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
const char PathSeparator = ';';
const char ProgramSuffix[] = ".exe";
std::string Quote(const std::string& text) { return "\"" + text + "\""; }
bool IsProgram(const std::string& path) {
  std::error_code error;
  return fs::is_regular_file(FilePath(path), error);
}
#else
const char PathSeparator = ':';
const char ProgramSuffix[] = "";
std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}
bool IsProgram(const std::string& path) {
  std::error_code error;
  return fs::is_regular_file(FilePath(path), error) && access(path.c_str(), X_OK) == 0;
}
#endif

struct ProgramRun {
  int status = -1;
  std::string output;  // standard output and error together
};

ProgramRun RunProgram(const std::vector<std::string>& args) {
  std::string command;
  for (const std::string& a : args) command += (command.empty() ? "" : " ") + Quote(a);
  command += " 2>&1";
#ifdef _WIN32
  // cmd.exe strips the outer quotes of a command line that starts with one.
  command = "\"" + command + "\"";
  FILE* pipe = _popen(command.c_str(), "r");
#else
  FILE* pipe = popen(command.c_str(), "r");
#endif
  ProgramRun run;
  if (pipe == nullptr) return run;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
#ifdef _WIN32
  run.status = _pclose(pipe);
#else
  int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
  return run;
}

// The text after "LABEL:" on the first line that starts with `label`, trimmed.
std::string Field(const std::string& output, const std::string& label) {
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(label, 0) != 0) continue;
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    size_t first = line.find_first_not_of(" \t", colon + 1);
    size_t last = line.find_last_not_of(" \t\r");
    return first == std::string::npos ? "" : line.substr(first, last - first + 1);
  }
  return "";
}

// The first line holding `text`, trimmed, or "".
std::string LineWith(const std::string& output, const std::string& text) {
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    if (line.find(text) == std::string::npos) continue;
    size_t first = line.find_first_not_of(" \t");
    size_t last = line.find_last_not_of(" \t\r");
    return line.substr(first, last - first + 1);
  }
  return "";
}

std::string LastLine(const std::string& output) {
  std::istringstream lines(output);
  std::string last;
  for (std::string line; std::getline(lines, line);) {
    if (line.find_first_not_of(" \t\r") != std::string::npos) last = line;
  }
  return last;
}

// `in` as it was before it was signed: its bytes up to the trailer's end, so the padding
// the signing tool added goes too, with the security directory emptied. Done here, not by
// osslsigncode's remove-signature, which refuses a table it cannot read in some versions.
std::string WriteUnsigned(const std::string& in, const ProjectorInfo& info,
                          const std::string& out) {
  std::ofstream target(out, std::ios::binary | std::ios::trunc);
  std::ostream quiet(nullptr);
  bool copied = CopyFileInto(target, in, info.payloadEnd, "", quiet, nullptr);
  const char empty[8] = {};
  target.seekp(static_cast<std::streamoff>(info.securityEntry));
  target.write(empty, sizeof empty).flush();
  if (copied && target) return "";
  return "cannot write '" + out + "' without the old signature";
}

}  // namespace

std::string SigningToolName() {
  const char* named = std::getenv("CINEPACK_OSSLSIGNCODE");
  return named != nullptr && *named != 0 ? named : "osslsigncode";
}

bool FindProgram(const std::string& name, std::string* path) {
  if (name.find_first_of("/\\") != std::string::npos) {
    if (!IsProgram(name)) return false;
    *path = name;
    return true;
  }
  const char* list = std::getenv("PATH");
  std::string folders = list != nullptr ? list : "";
  size_t at = 0;
  while (at <= folders.size()) {
    size_t end = folders.find(PathSeparator, at);
    if (end == std::string::npos) end = folders.size();
    std::string folder = folders.substr(at, end - at);
    at = end + 1;
    if (folder.empty()) continue;
    std::string candidate = PathText(FilePath(folder) / (name + ProgramSuffix));
    if (IsProgram(candidate)) {
      *path = candidate;
      return true;
    }
  }
  return false;
}

std::string SignFile(const std::string& tool, const std::string& in, const std::string& out,
                     const std::string& certificate, const std::string& key) {
  std::vector<std::string> args = {tool, "sign",   "-certs", certificate, "-key", key,
                                   "-h", "sha256", "-in",    in,          "-out", out};
  // The signing time is the one thing a signature adds that the inputs do not decide.
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  if (epoch != nullptr && *epoch != 0) {
    if (std::string(epoch).find_first_not_of("0123456789") != std::string::npos) {
      return "SOURCE_DATE_EPOCH is '" + std::string(epoch) + "', not a number of seconds";
    }
    args.insert(args.end() - 4, {"-time", epoch});
  }
  // osslsigncode refuses to overwrite a file: one left by a build that was killed goes.
  std::error_code error;
  fs::remove(FilePath(out), error);
  ProgramRun run = RunProgram(args);
  if (run.status == 0) return "";
  // osslsigncode names the file it could not use on a line of its own.
  std::string reason = LineWith(run.output, "Failed to ");
  reason = reason.empty() ? LastLine(run.output) : reason.substr(reason.find("Failed to "));
  return "osslsigncode could not sign '" + in + "' (exit " + std::to_string(run.status) + ")" +
         (reason.empty() ? "" : ": " + reason);
}

std::string SignProjector(const std::string& tool, const std::string& in, const std::string& out,
                          const std::string& certificate, const std::string& key) {
  ProjectorInfo info = InspectProjector(in);
  if (!info.damage.empty()) return "'" + in + "' is damaged: " + info.damage;
  if (!info.hasPayload) return "'" + in + "' is no projector: " + info.noPayload;
  std::string program;
  if (!FindProgram(tool, &program)) {
    return "cannot sign: " + tool +
           " is not installed (on Debian and Ubuntu: apt-get install osslsigncode)";
  }
  std::string unsigned_ = out + ".cinepack-unsigned";
  std::string signed_ = out + ".cinepack-signed";
  std::string failure;
  std::string source = in;
  if (info.certificateTable != 0) {
    failure = WriteUnsigned(in, info, unsigned_);
    source = unsigned_;
  }
  if (failure.empty()) failure = SignFile(program, source, signed_, certificate, key);
  if (failure.empty()) {
    ProjectorInfo after = InspectProjector(signed_);
    if (!after.hasPayload || after.certificateTable == 0 ||
        after.headerOffset != info.headerOffset) {
      failure = "after signing, the payload is no longer found before the certificate table";
    }
  }
  std::error_code error;
  if (failure.empty()) {
    fs::rename(FilePath(signed_), FilePath(out), error);
    if (error) failure = "cannot move the projector to '" + out + "': " + error.message();
  }
  fs::remove(FilePath(unsigned_), error);
  fs::remove(FilePath(signed_), error);
  return failure;
}

bool IsPeImage(std::istream& in) {
  char dos[0x40];
  in.seekg(0);
  if (!in.read(dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
  uint32_t pe = 0;
  for (int i = 3; i >= 0; --i) pe = pe << 8 | static_cast<uint8_t>(dos[0x3C + i]);
  char signature[4];
  in.seekg(static_cast<std::streamoff>(pe));
  return in.read(signature, sizeof signature) && memcmp(signature, "PE\0\0", 4) == 0;
}

SignatureCheck CheckSignature(const std::string& tool, const std::string& path,
                              const std::string& trustedCertificates) {
  SignatureCheck check;
  std::string program;
  if (!FindProgram(tool, &program)) {
    check.summary = "signed; signature not checked, since " + tool + " is not installed";
    check.matches = true;  // nothing says otherwise
    return check;
  }
  std::vector<std::string> args = {program, "verify", "-in", path};
  if (!trustedCertificates.empty()) {
    args.push_back("-CAfile");
    args.push_back(trustedCertificates);
  }
  ProgramRun run = RunProgram(args);
  std::string current = Field(run.output, "Current message digest");
  std::string calculated = Field(run.output, "Calculated message digest");
  check.matches = !current.empty() && current == calculated;
  if (run.status == 0 && check.matches) {
    check.summary = "signed; the signature matches and its certificate is trusted";
  } else if (!current.empty() && !check.matches) {
    check.summary = "signed, but changed after signing: the signature no longer matches";
  } else if (check.matches) {
    // The file is as signed; only the certificate's chain could not be followed to a
    // certificate authority this machine trusts.
    std::string error = LineWith(run.output, "Error:");
    check.summary = "signed; the signature matches, but its certificate is not trusted here" +
                    (error.empty() ? std::string() : " (" + error.substr(7) + ")") +
                    "; --ca FILE names the certificates to trust";
  } else {
    check.summary = "signed, but osslsigncode cannot read the signature: " + LastLine(run.output);
  }
  return check;
}
