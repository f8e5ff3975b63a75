// The buffered file sink of the decoder and the expansion of one payload entry.
#include "lzari/lzari_adapters.h"

namespace {

// Writes `count` bytes to the writer's file; nonzero when all of them went.
int WriteBlock(void* context, const uint8_t* block, uint32_t count) {
  const FileWriter* target = static_cast<const FileWriter*>(context);
  int32_t length = static_cast<int32_t>(count);
  return target->write(target->context, target->file, block, length) == length;
}

}  // namespace

int DecodeEntryToFile(LzariDecoder* decoder, uint8_t* outputBuffer, uint32_t outputSize,
                      const uint8_t* input, int32_t inputLength, FileWriter target) {
  // A missing decoder or an empty buffer counts as a missing argument too.
  if (decoder == nullptr || outputBuffer == nullptr || outputSize == 0 || input == nullptr ||
      target.write == nullptr || target.file == 0)
    return LzariSinkRefused;
  // The decoder fills the buffer itself and reads the entry straight from memory; a
  // negative length holds no bytes.
  size_t length = inputLength > 0 ? static_cast<size_t>(inputLength) : 0;
  uint32_t fill = 0;
  // A full buffer that does not reach the file fails the entry and stops decoding: a
  // runtime library with a hole in it is worse than a launch that fails.
  int result = LzariDecodeBuffered(decoder, input, length, outputBuffer, outputSize, WriteBlock,
                                   &target, &fill);
  if (result != LzariDecoded) return result;
  return fill == 0 || WriteBlock(&target, outputBuffer, fill) ? LzariDecoded : LzariSinkRefused;
}
