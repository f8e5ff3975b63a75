// The decoder's exit on a stream too short for its length, for native programs.
#include <cstdlib>

#include "lzari/lzari_decoder.h"

void EndProcessOnShortStream() { std::exit(1); }
