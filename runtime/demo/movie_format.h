// The demo movie container: a short list of frames, each a background colour and a few
// shapes and titles that the demo runtime draws with GDI.
//
// Binary layout, little-endian throughout:
//   "QMV1"                                  magic
//   u16 width, u16 height                   picture size in pixels
//   u16 leadMs                              time the player prepares before its window opens
//   u16 frameCount
//   frameCount frames:
//     u16 durationMs, u32 background (0x00BBGGRR), u16 itemCount
//     itemCount items:
//       u8 kind (1 box, 2 disc, 3 title), i16 x, i16 y, i16 w, i16 h, u32 colour,
//       u8 textLength, textLength bytes (titles only; 0 for shapes)
// For a title, h is the font height and w is unused.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum MovieItemKind : uint8_t { MovieBox = 1, MovieDisc = 2, MovieTitle = 3 };

struct MovieItem {
  MovieItemKind kind;
  int16_t x, y, w, h;
  uint32_t colour;
  std::string text;
};

struct MovieFrame {
  uint16_t durationMs;
  uint32_t background;
  std::vector<MovieItem> items;
};

struct Movie {
  uint16_t width = 0;
  uint16_t height = 0;
  uint16_t leadMs = 0;
  std::vector<MovieFrame> frames;
};

// Reads a container; returns false, with `error` set, on anything malformed.
bool ParseMovie(const uint8_t* data, size_t size, Movie* movie, std::string* error);

// Writes a container.
std::vector<uint8_t> SerializeMovie(const Movie& movie);

// Reads the text form (see tools/cinemovie.cpp); returns false with `error` set
// ("line N: ...") on a mistake.
bool CompileMovieText(const std::string& text, Movie* movie, std::string* error);
