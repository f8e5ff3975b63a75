// LZARI encoder: finds LZSS matches over the decoder's 4096-byte ring, picks the
// cheapest parse of each block by the models' own costs, and codes literals, lengths
// and positions with the decoder's models, mirrored.
#include "lzari/lzari_encoder.h"
#include "lzari/lzari_constants.h"
#include "lzari/lzari_decoder.h"

#include <algorithm>
#include <cmath>

namespace {

const uint32_t ShortestMatch = 3;

// The arithmetic coder: the decoder's interval arithmetic, emitting the bits the
// decoder will read. Straddling bits wait in `pending` until their side is known.
struct BitCoder {
  std::vector<uint8_t>* out;
  uint32_t low;
  uint32_t high;
  uint32_t pending;
  uint32_t bits;
  int bitCount;
};

inline void PutBit(BitCoder* c, uint32_t bit) {
  c->bits = (c->bits << 1) | bit;
  if (++c->bitCount == 8) {
    c->out->push_back(static_cast<uint8_t>(c->bits));
    c->bits = 0;
    c->bitCount = 0;
  }
}

inline void EmitBit(BitCoder* c, uint32_t bit) {
  PutBit(c, bit);
  for (; c->pending > 0; --c->pending) PutBit(c, bit ^ 1);
}

// Narrows to [lowCum, highCum) of `total`, then renormalises in the decoder's order.
void Narrow(BitCoder* c, uint32_t lowCum, uint32_t highCum, uint32_t total) {
  uint32_t width = c->high - c->low;
  c->high = c->low + highCum * width / total;
  c->low = c->low + lowCum * width / total;
  for (;;) {
    if (c->low >= Half) {
      EmitBit(c, 1);
      c->low -= Half;
      c->high -= Half;
    } else if (c->low >= FirstQuarter && c->high <= ThirdQuarter) {
      ++c->pending;
      c->low -= FirstQuarter;
      c->high -= FirstQuarter;
    } else if (c->high > Half) {
      break;
    } else {
      EmitBit(c, 0);
    }
    c->low <<= 1;
    c->high <<= 1;
  }
}

// Two more bits pick a value inside the last interval whatever follows; ones pad the
// last byte. Trailing 0xFF bytes stay, although a decoder reads missing bits as 1: the
// launcher takes a stream read more than a few bytes past its end for a damaged one, and
// without them ours could be.
void FinishCoder(BitCoder* c) {
  ++c->pending;
  EmitBit(c, c->low < FirstQuarter ? 0 : 1);
  while (c->bitCount != 0) PutBit(c, 1);
}

void EncodeCode(BitCoder* c, LzariDecoder* m, int code) {
  int s = m->charToSymbol[code];
  Narrow(c, m->symbolCum[s], m->symbolCum[s - 1], m->symbolCum[0]);
  UpdateSymbolModel(m, s);
}

void EncodePosition(BitCoder* c, const LzariDecoder* m, uint32_t p) {
  Narrow(c, m->positionCum[p + 1], m->positionCum[p], m->positionCum[0]);
}

// Matches are searched in the data preceded by what the decoder's ring holds at the
// start, oldest first: 60 zero bytes (never written yet), then 4036 spaces.
const size_t HistoryLength = RingSize;
const size_t ZeroHistory = LongestMatch;
const int HashBits = 15;
const size_t ChainMask = 2 * RingSize - 1;
const int MaxChain = 256;
// Positions parsed together, priced with the code model as it stands at their start.
const size_t ParseBlock = 4096;

struct MatchFinder {
  std::vector<uint8_t> text;  // history, then the data
  std::vector<int32_t> head;  // newest position of each hash
  std::vector<int32_t> prev;  // next older position with the same hash
};

inline uint32_t HashAt(const uint8_t* p) {
  uint32_t key = (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
  return (key * 2654435761u) >> (32 - HashBits);
}

inline void InsertPosition(MatchFinder* f, size_t pos) {
  if (pos + ShortestMatch > f->text.size()) return;
  uint32_t h = HashAt(&f->text[pos]);
  f->prev[pos & ChainMask] = f->head[h];
  f->head[h] = static_cast<int32_t>(pos);
}

struct Match {
  uint32_t length;    // 3 to 60, or 1 for a literal in a parse
  uint32_t distance;  // 1 to 4096: the decoder's position plus one
};

// Every useful match at `pos`: each entry is longer than the one before and the nearest
// to reach its length, so a length L is best taken from the first entry reaching L.
size_t FindMatches(const MatchFinder* f, size_t pos, Match* found) {
  size_t count = 0;
  size_t size = f->text.size();
  if (pos + ShortestMatch > size) return 0;
  uint32_t limit = static_cast<uint32_t>(std::min<size_t>(LongestMatch, size - pos));
  const uint8_t* here = &f->text[pos];
  uint32_t best = ShortestMatch - 1;
  int32_t candidate = f->head[HashAt(here)];
  for (int chain = MaxChain; candidate >= 0 && chain > 0; --chain) {
    size_t distance = pos - static_cast<size_t>(candidate);
    if (distance > RingSize) break;
    const uint8_t* there = &f->text[candidate];
    if (there[best] == here[best]) {
      uint32_t n = 0;
      while (n < limit && there[n] == here[n]) ++n;
      if (n > best) {
        best = n;
        found[count++] = {n, static_cast<uint32_t>(distance)};
        if (n == limit) break;
      }
    }
    candidate = f->prev[static_cast<size_t>(candidate) & ChainMask];
  }
  return count;
}

// Bits that coding a code or position would take now, from the current models.
double CodeBits(const LzariDecoder* m, int code) {
  int s = m->charToSymbol[code];
  return std::log2(double(m->symbolCum[0]) / double(m->symbolFreq[s]));
}

double PositionBits(const LzariDecoder* m, uint32_t p) {
  return std::log2(double(m->positionCum[0]) / double(m->positionCum[p] - m->positionCum[p + 1]));
}

}  // namespace

std::vector<uint8_t> LzariEncode(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out;
  // The stream's length field has 32 bits: a larger text has no stream.
  if (size > 0xFFFFFFFFu) return out;
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(size >> shift));
  if (size == 0) return out;

  MatchFinder finder;
  finder.text.assign(HistoryLength, ' ');
  std::fill(finder.text.begin(), finder.text.begin() + ZeroHistory, 0);
  finder.text.insert(finder.text.end(), data, data + size);
  finder.head.assign(size_t(1) << HashBits, -1);
  finder.prev.assign(ChainMask + 1, -1);
  for (size_t pos = 0; pos < HistoryLength; ++pos) InsertPosition(&finder, pos);

  // The models live in a decoder record and change only through the decoder's own
  // operations, so that both sides narrow the interval alike.
  LzariDecoder model;
  InitModels(&model);
  BitCoder coder = {&out, 0, FullRange, 0, 0, 0};
  const uint8_t* text = finder.text.data();
  size_t end = finder.text.size();

  // Each block is parsed by the cheapest path through its positions, in bits: a literal
  // or any match length the finder offers, each priced by the current models.
  double positionBits[PositionCount];
  for (uint32_t p = 0; p < PositionCount; ++p) positionBits[p] = PositionBits(&model, p);
  std::vector<double> price(ParseBlock + 1);
  std::vector<Match> step(ParseBlock + 1);  // how each position is best reached
  Match found[LongestMatch];
  size_t pos = HistoryLength;
  while (pos < end) {
    size_t blockEnd = std::min(end, pos + ParseBlock);
    size_t span = blockEnd - pos;
    double codeBits[CodeCount];
    for (int c = 0; c < CodeCount; ++c) codeBits[c] = CodeBits(&model, c);
    const double Unreached = 1e300;
    std::fill(price.begin(), price.begin() + span + 1, Unreached);
    price[0] = 0;
    for (size_t i = 0; i < span; ++i) {
      size_t at = pos + i;
      size_t n = FindMatches(&finder, at, found);
      InsertPosition(&finder, at);
      double here = price[i];
      double literal = here + codeBits[text[at]];
      if (literal < price[i + 1]) {
        price[i + 1] = literal;
        step[i + 1] = {1, 0};
      }
      uint32_t length = ShortestMatch;
      for (size_t k = 0; k < n; ++k) {
        double base = here + positionBits[found[k].distance - 1];
        uint32_t longest = static_cast<uint32_t>(std::min<size_t>(found[k].length, span - i));
        for (; length <= longest; ++length) {
          double cost = base + codeBits[FirstMatchCode + int(length - ShortestMatch)];
          if (cost < price[i + length]) {
            price[i + length] = cost;
            step[i + length] = {length, found[k].distance};
          }
        }
      }
      // A match of the longest length is taken whole without searching inside it:
      // long runs stay fast, and cheaper parses of them are rare.
      if (n > 0 && found[n - 1].length == LongestMatch && i + LongestMatch <= span) {
        for (size_t k = 1; k < LongestMatch; ++k) InsertPosition(&finder, at + k);
        for (size_t k = 1; k < LongestMatch; ++k) price[i + k] = Unreached;
        i += LongestMatch - 1;
      }
    }
    // Walk back from the block's end, then code the steps in order.
    std::vector<Match> path;
    for (size_t i = span; i > 0; i -= step[i].length) path.push_back(step[i]);
    for (auto s = path.rbegin(); s != path.rend(); ++s) {
      if (s->length == 1) {
        EncodeCode(&coder, &model, text[pos]);
      } else {
        EncodeCode(&coder, &model, FirstMatchCode + int(s->length - ShortestMatch));
        EncodePosition(&coder, &model, s->distance - 1);
      }
      pos += s->length;
    }
  }
  FinishCoder(&coder);
  return out;
}
