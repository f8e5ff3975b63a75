// LZARI decoder.
