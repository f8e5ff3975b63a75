// Reading and writing the demo movie container, and compiling its text form.
#include "runtime/demo/movie_format.h"

#include <sstream>

namespace {

struct Reader {
  const uint8_t* data;
  size_t size;
  size_t at;
  bool ok;
  uint32_t Take(int bytes) {
    uint32_t value = 0;
    if (at + bytes > size) {
      ok = false;
      return 0;
    }
    for (int i = 0; i < bytes; ++i) value |= static_cast<uint32_t>(data[at + i]) << (8 * i);
    at += bytes;
    return value;
  }
};

void Put(std::vector<uint8_t>* out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

bool ParseColour(const std::string& word, uint32_t* colour) {
  if (word.size() != 7 || word[0] != '#') return false;
  uint32_t rgb = 0;
  for (size_t i = 1; i < 7; ++i) {
    char c = word[i];
    int digit = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
    if (digit < 0) return false;
    rgb = rgb * 16 + static_cast<uint32_t>(digit);
  }
  // Stored as GDI keeps colours: 0x00BBGGRR.
  *colour = ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16);
  return true;
}

}  // namespace

bool ParseMovie(const uint8_t* data, size_t size, Movie* movie, std::string* error) {
  Reader r{data, size, 0, true};
  if (size < 4 || data[0] != 'Q' || data[1] != 'M' || data[2] != 'V' || data[3] != '1') {
    *error = "not a movie container (magic QMV1 missing)";
    return false;
  }
  r.at = 4;
  movie->width = static_cast<uint16_t>(r.Take(2));
  movie->height = static_cast<uint16_t>(r.Take(2));
  movie->leadMs = static_cast<uint16_t>(r.Take(2));
  uint32_t frames = r.Take(2);
  movie->frames.clear();
  for (uint32_t f = 0; f < frames && r.ok; ++f) {
    MovieFrame frame;
    frame.durationMs = static_cast<uint16_t>(r.Take(2));
    frame.background = r.Take(4);
    uint32_t items = r.Take(2);
    for (uint32_t i = 0; i < items && r.ok; ++i) {
      MovieItem item;
      uint32_t kind = r.Take(1);
      if (kind < MovieBox || kind > MovieTitle) {
        *error = "unknown item kind";
        return false;
      }
      item.kind = static_cast<MovieItemKind>(kind);
      item.x = static_cast<int16_t>(r.Take(2));
      item.y = static_cast<int16_t>(r.Take(2));
      item.w = static_cast<int16_t>(r.Take(2));
      item.h = static_cast<int16_t>(r.Take(2));
      item.colour = r.Take(4);
      uint32_t length = r.Take(1);
      if (r.ok && r.at + length <= size) {
        item.text.assign(reinterpret_cast<const char*>(data + r.at), length);
        r.at += length;
      } else {
        r.ok = false;
      }
      frame.items.push_back(item);
    }
    movie->frames.push_back(frame);
  }
  if (!r.ok) {
    *error = "movie container ends early";
    return false;
  }
  if (movie->width == 0 || movie->height == 0 || movie->frames.empty()) {
    *error = "movie has no picture size or no frames";
    return false;
  }
  return true;
}

std::vector<uint8_t> SerializeMovie(const Movie& movie) {
  std::vector<uint8_t> out = {'Q', 'M', 'V', '1'};
  Put(&out, movie.width, 2);
  Put(&out, movie.height, 2);
  Put(&out, movie.leadMs, 2);
  Put(&out, static_cast<uint32_t>(movie.frames.size()), 2);
  for (const MovieFrame& frame : movie.frames) {
    Put(&out, frame.durationMs, 2);
    Put(&out, frame.background, 4);
    Put(&out, static_cast<uint32_t>(frame.items.size()), 2);
    for (const MovieItem& item : frame.items) {
      Put(&out, item.kind, 1);
      Put(&out, static_cast<uint16_t>(item.x), 2);
      Put(&out, static_cast<uint16_t>(item.y), 2);
      Put(&out, static_cast<uint16_t>(item.w), 2);
      Put(&out, static_cast<uint16_t>(item.h), 2);
      Put(&out, item.colour, 4);
      Put(&out, static_cast<uint32_t>(item.text.size()), 1);
      out.insert(out.end(), item.text.begin(), item.text.end());
    }
  }
  return out;
}

bool CompileMovieText(const std::string& text, Movie* movie, std::string* error) {
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  bool haveSize = false;
  auto fail = [&](const std::string& why) {
    *error = "line " + std::to_string(number) + ": " + why;
    return false;
  };
  while (std::getline(lines, line)) {
    ++number;
    // Lines starting with ';' are comments; '#' begins a colour.
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == ';') continue;
    std::string quoted;
    size_t quote = line.find('"');
    if (quote != std::string::npos) {
      size_t end = line.find('"', quote + 1);
      if (end == std::string::npos) return fail("unterminated title text");
      quoted = line.substr(quote + 1, end - quote - 1);
      line = line.substr(0, quote);
    }
    std::istringstream words(line);
    std::string keyword;
    if (!(words >> keyword)) continue;
    if (keyword == "movie") {
      int w = 0, h = 0, lead = 0;
      std::string leadWord;
      if (!(words >> w >> h >> leadWord >> lead) || leadWord != "lead" || w <= 0 || h <= 0 ||
          w > 2000 || h > 2000 || lead < 0 || lead > 60000)
        return fail("expected: movie WIDTH HEIGHT lead MS");
      movie->width = static_cast<uint16_t>(w);
      movie->height = static_cast<uint16_t>(h);
      movie->leadMs = static_cast<uint16_t>(lead);
      haveSize = true;
    } else if (keyword == "frame") {
      int ms = 0;
      std::string backgroundWord, colourWord;
      MovieFrame frame;
      if (!(words >> ms >> backgroundWord >> colourWord) || backgroundWord != "background" ||
          ms <= 0 || ms > 60000 || !ParseColour(colourWord, &frame.background))
        return fail("expected: frame MS background #RRGGBB");
      frame.durationMs = static_cast<uint16_t>(ms);
      movie->frames.push_back(frame);
    } else if (keyword == "box" || keyword == "disc" || keyword == "title") {
      if (movie->frames.empty()) return fail(keyword + " before the first frame");
      MovieItem item;
      item.kind = keyword == "box" ? MovieBox : keyword == "disc" ? MovieDisc : MovieTitle;
      int x = 0, y = 0, w = 0, h = 0;
      std::string colourWord;
      if (item.kind == MovieTitle) {
        if (!(words >> x >> y >> h >> colourWord) || !ParseColour(colourWord, &item.colour) ||
            quote == std::string::npos || quoted.size() > 255)
          return fail("expected: title X Y SIZE #RRGGBB \"text\"");
        item.text = quoted;
      } else if (!(words >> x >> y >> w >> h >> colourWord) ||
                 !ParseColour(colourWord, &item.colour)) {
        return fail("expected: " + keyword + " X Y W H #RRGGBB");
      }
      item.x = static_cast<int16_t>(x);
      item.y = static_cast<int16_t>(y);
      item.w = static_cast<int16_t>(w);
      item.h = static_cast<int16_t>(h);
      movie->frames.back().items.push_back(item);
    } else {
      return fail("unknown keyword '" + keyword + "'");
    }
  }
  if (!haveSize) return fail("no 'movie' line");
  if (movie->frames.empty()) return fail("no frames");
  return true;
}
