// The classic LZARI decoder, kept as the baseline that the product's decoder is measured
// and fuzzed against.
#include "tests/bench/lzari_classic.h"

#define N 4096
#define F 60
#define THRESHOLD 2
#define N_CHAR (256 - THRESHOLD + F)
#define M 15
#define Q1 (1UL << M)
#define Q2 (2 * Q1)
#define Q3 (3 * Q1)
#define Q4 (4 * Q1)
#define MAX_CUM (Q1 - 1)

static ByteSource getByte;
static void* getContext;
static unsigned char text_buf[N + F - 1];
static unsigned long low, high, value;
static int char_to_sym[N_CHAR], sym_to_char[N_CHAR + 1];
static unsigned int sym_freq[N_CHAR + 1], sym_cum[N_CHAR + 1], position_cum[N + 1];
static int getbuf, getmask;

static int GetBit(void) {
  if ((getmask >>= 1) == 0) {
    getbuf = getByte(getContext);
    getmask = 128;
  }
  return (getbuf & getmask) != 0;
}

static void StartModel(void) {
  int ch, sym, i;
  sym_cum[N_CHAR] = 0;
  for (sym = N_CHAR; sym >= 1; sym--) {
    ch = sym - 1;
    char_to_sym[ch] = sym;
    sym_to_char[sym] = ch;
    sym_freq[sym] = 1;
    sym_cum[sym - 1] = sym_cum[sym] + sym_freq[sym];
  }
  sym_freq[0] = 0;
  position_cum[N] = 0;
  for (i = N; i >= 1; i--) position_cum[i - 1] = position_cum[i] + 10000 / (i + 200);
}

static void UpdateModel(int sym) {
  int i, c, ch_i, ch_sym;
  if (sym_cum[0] >= MAX_CUM) {
    c = 0;
    for (i = N_CHAR; i > 0; i--) {
      sym_cum[i] = c;
      c += (sym_freq[i] = (sym_freq[i] + 1) >> 1);
    }
    sym_cum[0] = c;
  }
  for (i = sym; sym_freq[i] == sym_freq[i - 1]; i--) {
  }
  if (i < sym) {
    ch_i = sym_to_char[i];
    ch_sym = sym_to_char[sym];
    sym_to_char[i] = ch_sym;
    sym_to_char[sym] = ch_i;
    char_to_sym[ch_i] = sym;
    char_to_sym[ch_sym] = i;
  }
  sym_freq[i]++;
  while (--i >= 0) sym_cum[i]++;
}

static int BinarySearchSym(unsigned int x) {
  int i = 1, j = N_CHAR, k;
  while (i < j) {
    k = (i + j) / 2;
    if (sym_cum[k] > x)
      i = k + 1;
    else
      j = k;
  }
  return i;
}

static int BinarySearchPos(unsigned int x) {
  int i = 1, j = N, k;
  while (i < j) {
    k = (i + j) / 2;
    if (position_cum[k] > x)
      i = k + 1;
    else
      j = k;
  }
  return i - 1;
}

static void Renormalise(void) {
  for (;;) {
    if (low >= Q2) {
      value -= Q2;
      low -= Q2;
      high -= Q2;
    } else if (low >= Q1 && high <= Q3) {
      value -= Q1;
      low -= Q1;
      high -= Q1;
    } else if (high > Q2) {
      break;
    }
    low += low;
    high += high;
    value = 2 * value + GetBit();
  }
}

static int DecodeChar(void) {
  int sym, ch;
  unsigned long range = high - low;
  sym = BinarySearchSym((unsigned int)(((value - low + 1) * sym_cum[0] - 1) / range));
  high = low + (range * sym_cum[sym - 1]) / sym_cum[0];
  low += (range * sym_cum[sym]) / sym_cum[0];
  Renormalise();
  ch = sym_to_char[sym];
  UpdateModel(sym);
  return ch;
}

static int DecodePosition(void) {
  int position;
  unsigned long range = high - low;
  position = BinarySearchPos((unsigned int)(((value - low + 1) * position_cum[0] - 1) / range));
  high = low + (range * position_cum[position]) / position_cum[0];
  low += (range * position_cum[position + 1]) / position_cum[0];
  Renormalise();
  return position;
}

int ClassicLzariDecode(ByteSource sourceRead, void* sourceContext, ByteSink sinkWrite,
                       void* sinkContext) {
  int i, j, k, r, c;
  unsigned long textsize = 0, count;
  getByte = sourceRead;
  getContext = sourceContext;
  getbuf = 0;
  getmask = 0;
  for (i = 0; i < 32; i += 8) {
    c = getByte(getContext);
    if (c == -1) return -1;
    textsize |= (unsigned long)(c & 0xFF) << i;
  }
  textsize &= 0xFFFFFFFFUL;
  if (textsize == 0) return 1;
  low = 0;
  high = Q4;
  value = 0;
  for (i = 0; i < M + 2; i++) value = 2 * value + GetBit();
  StartModel();
  for (i = 0; i < N - F; i++) text_buf[i] = ' ';
  for (; i < N; i++) text_buf[i] = 0;  // as at program start, for every stream
  r = N - F;
  for (count = 0; count < textsize;) {
    c = DecodeChar();
    if (c < 256) {
      if (sinkWrite(sinkContext, c) < 0) return 0;
      text_buf[r++] = (unsigned char)c;
      r &= (N - 1);
      count++;
    } else {
      i = (r - DecodePosition() - 1) & (N - 1);
      j = c - 255 + THRESHOLD;
      for (k = 0; k < j; k++) {
        c = text_buf[(i + k) & (N - 1)];
        if (sinkWrite(sinkContext, c) < 0) return 0;
        text_buf[r++] = (unsigned char)c;
        r &= (N - 1);
        count++;
      }
    }
  }
  return 1;
}
