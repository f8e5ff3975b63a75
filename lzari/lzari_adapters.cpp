// The buffered file sink of the decoder and the expansion of one payload entry.
#include "lzari/lzari_adapters.h"

namespace {

// Writes `count` bytes of the sink's buffer to its file; nonzero when all of them went.
int WriteBlock(void* context, const uint8_t* block, uint32_t count) {
  FileSink* sink = static_cast<FileSink*>(context);
  long written = _hwrite(sink->file, reinterpret_cast<LPCCH>(block), static_cast<long>(count));
  return written == static_cast<long>(count);
}

}  // namespace

int32_t WriteFileSinkByte(void* context, int32_t byte) {
  FileSink* sink = static_cast<FileSink*>(context);
  sink->buffer[sink->fill++] = static_cast<uint8_t>(byte);
  if (sink->fill < sink->capacity) return byte;
  sink->fill = 0;
  return WriteBlock(sink, sink->buffer, sink->capacity) ? byte : -1;
}

int DecodeEntryToFile(LzariDecoder* decoder, uint8_t* outputBuffer, uint32_t outputSize,
                      const uint8_t* input, int32_t inputLength, HFILE file) {
  // A missing decoder or an empty buffer counts as a missing argument too: the sink
  // stores a byte before it checks for room.
  if (decoder == nullptr || outputBuffer == nullptr || outputSize == 0 || input == nullptr ||
      file == 0)
    return 0;
  FileSink sink = {outputBuffer, 0, outputSize, file};
  // The decoder fills the buffer itself, as WriteFileSinkByte would byte by byte, and
  // reads the entry straight from memory; a negative length holds no bytes.
  size_t length = inputLength > 0 ? static_cast<size_t>(inputLength) : 0;
  // A full buffer that does not reach the file fails the entry and stops decoding: a
  // runtime library with a hole in it is worse than a launch that fails.
  if (!LzariDecodeBuffered(decoder, input, length, outputBuffer, outputSize, WriteBlock, &sink,
                           &sink.fill))
    return 0;
  if (sink.fill == 0) return 1;
  return WriteBlock(&sink, outputBuffer, sink.fill);
}
