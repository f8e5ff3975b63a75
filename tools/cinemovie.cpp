// cinemovie: compiles the demo movie's text form into its container, and shows one.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "runtime/demo/movie_format.h"

namespace {

const char Usage[] =
    "usage: cinemovie build TEXT -o CONTAINER   compile a movie text into a container\n"
    "       cinemovie show CONTAINER            list a container's frames and items\n"
    "The text form is described in runtime/demo/demo_movie.txt.\n";

bool ReadAll(const std::string& path, std::string* content) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  *content = s.str();
  return true;
}

int Build(const std::string& input, const std::string& output) {
  std::string text;
  if (!ReadAll(input, &text)) {
    std::cerr << "cinemovie: cannot read " << input << "\n";
    return 1;
  }
  Movie movie;
  std::string error;
  if (!CompileMovieText(text, &movie, &error)) {
    std::cerr << "cinemovie: " << input << ": " << error << "\n";
    return 1;
  }
  std::vector<uint8_t> bytes = SerializeMovie(movie);
  // Written under a temporary name and renamed, so a failed write leaves no half file.
  std::string temporary = output + ".part";
  {
    std::ofstream out(temporary, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
      std::cerr << "cinemovie: cannot write " << output << "\n";
      std::remove(temporary.c_str());
      return 1;
    }
  }
  if (std::rename(temporary.c_str(), output.c_str()) != 0) {
    std::cerr << "cinemovie: cannot write " << output << "\n";
    std::remove(temporary.c_str());
    return 1;
  }
  std::cout << output << ": " << movie.frames.size() << " frames, " << bytes.size() << " bytes\n";
  return 0;
}

int Show(const std::string& input) {
  std::string bytes;
  if (!ReadAll(input, &bytes)) {
    std::cerr << "cinemovie: cannot read " << input << "\n";
    return 1;
  }
  Movie movie;
  std::string error;
  if (!ParseMovie(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &movie, &error)) {
    std::cerr << "cinemovie: " << input << ": " << error << "\n";
    return 1;
  }
  std::cout << "picture " << movie.width << "x" << movie.height << ", lead " << movie.leadMs
            << " ms\n";
  for (size_t f = 0; f < movie.frames.size(); ++f) {
    const MovieFrame& frame = movie.frames[f];
    std::cout << "frame " << f << ": " << frame.durationMs << " ms, " << frame.items.size()
              << " items\n";
    for (const MovieItem& item : frame.items) {
      static const char* kinds[] = {"", "box", "disc", "title"};
      std::cout << "  " << kinds[item.kind] << " " << item.x << "," << item.y;
      if (item.kind == MovieTitle) std::cout << " \"" << item.text << "\"";
      std::cout << "\n";
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string command = argc > 1 ? argv[1] : "";
  if (command == "--help" || command == "-h" || command == "help") {
    std::cout << Usage;
    return 0;
  }
  if (command == "build" && argc == 5 && std::string(argv[3]) == "-o")
    return Build(argv[2], argv[4]);
  if (command == "show" && argc == 3) return Show(argv[2]);
  std::cerr << Usage;
  return 2;
}
