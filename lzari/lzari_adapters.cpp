// The buffered file sink of the decoder and the expansion of one payload entry.
#include "lzari/lzari_adapters.h"

int32_t WriteFileSinkByte(void* context, int32_t byte) {
  FileSink* sink = static_cast<FileSink*>(context);
  sink->buffer[sink->fill++] = static_cast<uint8_t>(byte);
  if (sink->fill < sink->capacity) return byte;
  sink->fill = 0;
  long written = _hwrite(sink->file, reinterpret_cast<LPCCH>(sink->buffer),
                         static_cast<long>(sink->capacity));
  return written == static_cast<long>(sink->capacity) ? byte : -1;
}

int DecodeEntryToFile(LzariDecoder* decoder, uint8_t* outputBuffer, uint32_t outputSize,
                      const uint8_t* input, int32_t inputLength, HFILE file) {
  // A missing decoder or an empty buffer counts as a missing argument too: the sink
  // stores a byte before it checks for room.
  if (decoder == nullptr || outputBuffer == nullptr || outputSize == 0 || input == nullptr ||
      file == 0)
    return 0;
  MemorySource source = {input, 0, inputLength};
  FileSink sink = {outputBuffer, 0, outputSize, file};
  // A full buffer that does not reach the file fails the entry and stops decoding: a
  // runtime library with a hole in it is worse than a launch that fails.
  if (!LzariDecodeStream(decoder, ReadMemoryByte, &source, WriteFileSinkByte, &sink)) return 0;
  if (sink.fill == 0) return 1;
  long written = _hwrite(file, reinterpret_cast<LPCCH>(outputBuffer), static_cast<long>(sink.fill));
  return written == static_cast<long>(sink.fill) ? 1 : 0;
}
