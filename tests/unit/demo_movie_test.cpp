// The demo movie's text form and container: what the compiler accepts and the player reads.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "runtime/demo/movie_format.h"

namespace {

TEST(DemoMovie, ShippedTextCompilesAndReadsBack) {
  std::ifstream in(std::string(CINE_SOURCE_DIR) + "/runtime/demo/demo_movie.txt");
  std::stringstream text;
  text << in.rdbuf();
  Movie movie;
  std::string error;
  ASSERT_TRUE(CompileMovieText(text.str(), &movie, &error)) << error;
  std::vector<uint8_t> bytes = SerializeMovie(movie);
  Movie back;
  ASSERT_TRUE(ParseMovie(bytes.data(), bytes.size(), &back, &error)) << error;
  EXPECT_EQ(back.width, 480);
  EXPECT_EQ(back.frames.size(), movie.frames.size());
  EXPECT_EQ(back.frames[0].items[0].text, "Cinemorph");
  // Colours are kept as GDI does, 0x00BBGGRR: #F2C14E.
  EXPECT_EQ(back.frames[0].items[0].colour, 0x4EC1F2u);
  // Every cut of the container is refused, never read past its end.
  for (size_t cut = 0; cut < bytes.size(); ++cut) {
    EXPECT_FALSE(ParseMovie(bytes.data(), cut, &back, &error)) << cut;
  }
}

TEST(DemoMovie, TextMistakesNameTheirLine) {
  struct Case { const char* text; const char* error; };
  const Case cases[] = {
      {"frame 100 background #000000\n", "line 1: no 'movie' line"},
      {"movie 10 10 lead 0\nbox 1 2 3 4 #FFFFFF\n", "line 2: box before the first frame"},
      {"movie 10 10 lead 0\nframe 100 background #GG0000\n", "line 2: expected: frame MS background #RRGGBB"},
      {"movie 10 10 lead 0\nframe 5 background #000000\ntitle 1 2 3 #FFFFFF \"open\n", "line 3: unterminated title text"},
      {"movie 10 10 lead 0\nzoom 3\n", "line 2: unknown keyword 'zoom'"},
      {"; only a comment\nmovie 10 10 lead 0\n", "line 2: no frames"},
  };
  for (const Case& c : cases) {
    Movie movie;
    std::string error;
    EXPECT_FALSE(CompileMovieText(c.text, &movie, &error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
}

}  // namespace
