// Draws the program's icon (a film frame with sprocket holes and a play mark) and
// writes it as an .ico file with nine images: 48, 32 and 16 pixels at 4, 8 and 32 bpp.
// Runs on the build machine at build time: make_icon OUTPUT.ico
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

struct Color {
  double r, g, b, a;  // 0..1, straight alpha
};

struct Rgb {
  uint8_t r, g, b;
};

double Clamp01(double v) { return v < 0 ? 0 : v > 1 ? 1 : v; }

Color Mix(Color a, Color b, double t) {
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t,
          a.a + (b.a - a.a) * t};
}

Color FromBytes(int r, int g, int b) { return {r / 255.0, g / 255.0, b / 255.0, 1}; }

bool InRoundedRect(double x, double y, double left, double top, double right, double bottom,
                   double radius) {
  if (x < left || x > right || y < top || y > bottom) return false;
  double cx = std::clamp(x, left + radius, right - radius);
  double cy = std::clamp(y, top + radius, bottom - radius);
  return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius;
}

// Right-pointing triangle with its left edge at x0, from y0 to y1, tip at x1.
bool InPlayMark(double x, double y, double x0, double y0, double y1, double x1) {
  if (x < x0 || x > x1) return false;
  double half = (y1 - y0) / 2 * (1 - (x - x0) / (x1 - x0));
  double mid = (y0 + y1) / 2;
  return y >= mid - half && y <= mid + half;
}

const Color FilmTop = FromBytes(46, 38, 110);
const Color FilmBottom = FromBytes(28, 22, 76);
const Color FrameLeft = FromBytes(24, 150, 170);
const Color FrameRight = FromBytes(120, 56, 184);

// The design, sampled at a point of the unit square (y grows downwards). `shaded`
// tells whether the point lies in the frame's color shift, the one part that
// palette images dither.
Color SampleDesign(double x, double y, bool* shaded) {
  *shaded = false;
  Color pixel = {0, 0, 0, 0};
  if (!InRoundedRect(x, y, 0.02, 0.02, 0.98, 0.98, 0.16)) return pixel;
  // The film: deep indigo, darker at the bottom.
  pixel = Mix(FilmTop, FilmBottom, y);
  // Sprocket holes along the top and bottom edges.
  for (int i = 0; i < 4; ++i) {
    double cx = 0.2 + 0.2 * i;
    if (InRoundedRect(x, y, cx - 0.055, 0.07, cx + 0.055, 0.17, 0.025) ||
        InRoundedRect(x, y, cx - 0.055, 0.83, cx + 0.055, 0.93, 0.025)) {
      return FromBytes(226, 226, 236);
    }
  }
  // The frame: a picture that shifts from teal to violet across its width.
  if (InRoundedRect(x, y, 0.1, 0.24, 0.9, 0.76, 0.05)) {
    pixel = Mix(FrameLeft, FrameRight, (x - 0.1) / 0.8);
    *shaded = true;
    if (InPlayMark(x, y, 0.38, 0.32, 0.68, 0.7)) {
      pixel = FromBytes(255, 196, 56);
      *shaded = false;
    }
  }
  return pixel;
}

struct Image {
  int size;
  std::vector<Color> pixels;  // straight alpha, row 0 at the top
  std::vector<bool> shaded;   // pixel centre in the frame's color shift
};

Image Render(int size) {
  const int samples = 8;
  Image image = {size, std::vector<Color>(size * size), std::vector<bool>(size * size)};
  for (int py = 0; py < size; ++py) {
    for (int px = 0; px < size; ++px) {
      // Average premultiplied colors so that edges blend against transparency.
      double r = 0, g = 0, b = 0, a = 0;
      for (int sy = 0; sy < samples; ++sy) {
        for (int sx = 0; sx < samples; ++sx) {
          bool shaded = false;
          Color c = SampleDesign((px + (sx + 0.5) / samples) / size,
                                 (py + (sy + 0.5) / samples) / size, &shaded);
          r += c.r * c.a;
          g += c.g * c.a;
          b += c.b * c.a;
          a += c.a;
        }
      }
      bool centreShaded = false;
      SampleDesign((px + 0.5) / size, (py + 0.5) / size, &centreShaded);
      image.shaded[py * size + px] = centreShaded;
      double n = samples * samples;
      Color& out = image.pixels[py * size + px];
      out.a = a / n;
      if (a > 0) {
        out.r = r / a;
        out.g = g / a;
        out.b = b / a;
      } else {
        out.r = out.g = out.b = 0;
      }
    }
  }
  return image;
}

std::vector<Rgb> SixteenColors() {
  return {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
          {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
          {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
          {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
}

// A 6x6x6 color cube, the sixteen standard colors and twelve steps of each of the
// design's two color shifts.
std::vector<Rgb> TwoHundredFiftySixColors() {
  std::vector<Rgb> palette;
  for (int r = 0; r < 6; ++r) {
    for (int g = 0; g < 6; ++g) {
      for (int b = 0; b < 6; ++b) {
        palette.push_back({uint8_t(r * 51), uint8_t(g * 51), uint8_t(b * 51)});
      }
    }
  }
  for (Rgb c : SixteenColors()) palette.push_back(c);
  auto ramp = [&](Color from, Color to) {
    for (int i = 0; i < 12; ++i) {
      Color c = Mix(from, to, i / 11.0);
      palette.push_back({uint8_t(std::lround(c.r * 255)), uint8_t(std::lround(c.g * 255)),
                         uint8_t(std::lround(c.b * 255))});
    }
  };
  ramp(FilmTop, FilmBottom);
  ramp(FrameLeft, FrameRight);
  return palette;
}

int NearestIndex(const std::vector<Rgb>& palette, Color c) {
  int best = 0;
  double bestDistance = 1e9;
  for (size_t i = 0; i < palette.size(); ++i) {
    double dr = c.r * 255 - palette[i].r, dg = c.g * 255 - palette[i].g,
           db = c.b * 255 - palette[i].b;
    // Weighted towards green, as the eye is.
    double d = 2 * dr * dr + 4 * dg * dg + 3 * db * db;
    if (d < bestDistance) {
      bestDistance = d;
      best = int(i);
    }
  }
  return best;
}

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

uint32_t RowBytes(int width, int bpp) { return ((width * bpp + 31) / 32) * 4; }

// One icon image as stored in the file: header, palette, color rows, mask rows, all
// rows bottom-up. A pixel less than half covered is transparent in the mask.
std::vector<uint8_t> EncodeImage(const Image& image, int bpp) {
  int size = image.size;
  std::vector<Rgb> palette;
  if (bpp == 4) palette = SixteenColors();
  if (bpp == 8) palette = TwoHundredFiftySixColors();
  uint32_t colorRow = RowBytes(size, bpp), maskRow = RowBytes(size, 1);
  std::vector<uint8_t> out;
  Put32(out, 40);
  Put32(out, size);
  Put32(out, size * 2);  // color rows and mask rows together
  Put16(out, 1);
  Put16(out, bpp);
  Put32(out, 0);
  Put32(out, (colorRow + maskRow) * size);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, uint32_t(palette.size()));
  Put32(out, 0);
  for (Rgb c : palette) {
    out.push_back(c.b);
    out.push_back(c.g);
    out.push_back(c.r);
    out.push_back(0);
  }
  for (int y = size - 1; y >= 0; --y) {
    std::vector<uint8_t> row(colorRow, 0);
    for (int x = 0; x < size; ++x) {
      Color c = image.pixels[y * size + x];
      bool opaque = c.a >= 0.5;
      if (bpp == 32) {
        row[x * 4 + 0] = uint8_t(std::lround(Clamp01(c.b) * 255));
        row[x * 4 + 1] = uint8_t(std::lround(Clamp01(c.g) * 255));
        row[x * 4 + 2] = uint8_t(std::lround(Clamp01(c.r) * 255));
        row[x * 4 + 3] = uint8_t(std::lround(Clamp01(c.a) * 255));
      } else {
        // Sixteen colors cannot hold the frame's color shift: ordered dithering
        // spreads it instead of cutting it into two flat bands. The 256-color
        // palette carries the design's own shifts and needs none.
        static const int bayer[4][4] = {
            {0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
        bool dither = bpp == 4 && image.shaded[y * size + x];
        double offset = dither ? ((bayer[y % 4][x % 4] + 0.5) / 16 - 0.5) * 0.4 : 0;
        Color dithered = {c.r + offset, c.g + offset, c.b + offset, c.a};
        int index = opaque ? NearestIndex(palette, dithered) : 0;
        if (bpp == 8)
          row[x] = uint8_t(index);
        else
          row[x / 2] |= uint8_t(x % 2 ? index : index << 4);
      }
    }
    out.insert(out.end(), row.begin(), row.end());
  }
  for (int y = size - 1; y >= 0; --y) {
    std::vector<uint8_t> row(maskRow, 0);
    for (int x = 0; x < size; ++x) {
      // For 32 bpp the alpha channel rules; the mask marks only what is fully clear.
      double alpha = image.pixels[y * size + x].a;
      bool clear = bpp == 32 ? alpha <= 0 : alpha < 0.5;
      if (clear) row[x / 8] |= uint8_t(0x80 >> (x % 8));
    }
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: make_icon OUTPUT.ico\n");
    return 2;
  }
  const int sizes[] = {48, 32, 16};
  const int depths[] = {4, 8, 32};
  std::vector<std::vector<uint8_t>> images;
  std::vector<std::pair<int, int>> formats;
  for (int bpp : depths) {
    for (int size : sizes) {
      images.push_back(EncodeImage(Render(size), bpp));
      formats.push_back({size, bpp});
    }
  }
  std::vector<uint8_t> file;
  Put16(file, 0);
  Put16(file, 1);  // icon
  Put16(file, uint32_t(images.size()));
  uint32_t offset = 6 + 16 * uint32_t(images.size());
  for (size_t i = 0; i < images.size(); ++i) {
    int size = formats[i].first, bpp = formats[i].second;
    file.push_back(uint8_t(size));
    file.push_back(uint8_t(size));
    file.push_back(uint8_t(bpp == 4 ? 16 : 0));  // colors, 0 for 256 and more
    file.push_back(0);
    Put16(file, 1);
    Put16(file, bpp);
    Put32(file, uint32_t(images[i].size()));
    Put32(file, offset);
    offset += uint32_t(images[i].size());
  }
  for (const auto& image : images) file.insert(file.end(), image.begin(), image.end());
  FILE* out = fopen(argv[1], "wb");
  if (!out || fwrite(file.data(), 1, file.size(), out) != file.size() || fclose(out) != 0) {
    fprintf(stderr, "make_icon: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
