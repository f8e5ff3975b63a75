// lzari: compresses files into LZARI streams and expands them, as the launcher would.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "lzari/lzari_decoder.h"
#include "lzari/lzari_encoder.h"

namespace {

const char Usage[] =
    "usage: lzari encode IN OUT\n"
    "       lzari decode IN OUT\n"
    "\n"
    "encode compresses IN into one LZARI stream: a 4-byte little-endian length, then the\n"
    "coded text. decode expands such a stream, and refuses it as the launcher does when it\n"
    "ends before its length (it is read more than 4 bytes past its end). IN and OUT are\n"
    "file names; - stands for standard input or standard output.\n";

bool ReadAll(const std::string& name, std::vector<uint8_t>* data, std::string* error) {
  FILE* file = name == "-" ? stdin : std::fopen(name.c_str(), "rb");
  if (file == nullptr) {
    *error = std::strerror(errno);
    return false;
  }
  uint8_t chunk[1 << 16];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
    data->insert(data->end(), chunk, chunk + n);
  bool ok = !std::ferror(file);
  if (!ok) *error = std::strerror(errno);
  if (file != stdin) std::fclose(file);
  return ok;
}

// Output: the named file, created only once the input has been read in full.
struct Output {
  std::string name;
  FILE* file = nullptr;
  std::vector<uint8_t> buffer;
  bool failed = false;
};

bool OpenOutput(Output* out, std::string* error) {
  out->file = out->name == "-" ? stdout : std::fopen(out->name.c_str(), "wb");
  if (out->file == nullptr) *error = std::strerror(errno);
  return out->file != nullptr;
}

void Flush(Output* out) {
  if (!out->buffer.empty() &&
      std::fwrite(out->buffer.data(), 1, out->buffer.size(), out->file) != out->buffer.size())
    out->failed = true;
  out->buffer.clear();
}

bool CloseOutput(Output* out) {
  Flush(out);
  if (std::fflush(out->file) != 0) out->failed = true;
  if (out->file != stdout && std::fclose(out->file) != 0) out->failed = true;
  // Half an output is worse than none: take it away.
  if (out->failed && out->name != "-") std::remove(out->name.c_str());
  return !out->failed;
}

// Takes each full block of the decoder's buffer; 0 once a write has failed.
int WriteOutputBlock(void* context, const uint8_t* block, uint32_t count) {
  Output* out = static_cast<Output*>(context);
  if (std::fwrite(block, 1, count, out->file) != count) out->failed = true;
  return out->failed ? 0 : 1;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "lzari: %s\n", message.c_str());
  return 1;
}

int Run(const std::string& command, const std::string& inName, const std::string& outName) {
  std::vector<uint8_t> input;
  std::string error;
  if (!ReadAll(inName, &input, &error)) return Fail("cannot read " + inName + ": " + error);
  Output out;
  out.name = outName;
  if (command == "encode") {
    std::vector<uint8_t> stream = LzariEncode(input.data(), input.size());
    if (stream.empty()) return Fail(inName + " is too large: a stream holds under 4 GiB");
    if (!OpenOutput(&out, &error)) return Fail("cannot create " + outName + ": " + error);
    out.buffer = std::move(stream);
  } else {
    if (input.size() < 4)
      return Fail(inName + " is not an LZARI stream: " + std::to_string(input.size()) +
                  " bytes, shorter than the 4-byte length");
    if (!OpenOutput(&out, &error)) return Fail("cannot create " + outName + ": " + error);
    auto decoder = std::make_unique<LzariDecoder>();
    out.buffer.resize(1 << 16);
    uint32_t fill = 0;
    int result = LzariDecodeBuffered(decoder.get(), input.data(), input.size(), out.buffer.data(),
                                     uint32_t(out.buffer.size()), WriteOutputBlock, &out, &fill);
    // Refused as the launcher refuses it: a stream read past its end was cut short.
    if (result == LzariStreamDamaged) {
      out.failed = true;
      CloseOutput(&out);
      uint32_t size = input[0] | input[1] << 8 | input[2] << 16 | uint32_t(input[3]) << 24;
      return Fail(inName + " is damaged: the stream ends before the " + std::to_string(size) +
                  " bytes it announces; nothing written");
    }
    out.buffer.resize(out.failed ? 0 : fill);
  }
  if (!CloseOutput(&out)) return Fail("cannot write " + outName);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(Usage, stdout);
    return 0;
  }
  if (args.size() != 3 || (args[0] != "encode" && args[0] != "decode")) {
    std::fputs(Usage, stderr);
    return 2;
  }
  return Run(args[0], args[1], args[2]);
}
