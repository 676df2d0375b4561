// Makes the demo content of Dazzlebox: a seed file, colourful pictures (JPEG and BMP) and a short
// looping tune, laid out as an installed saver expects:
//   <dir>/Zirezarev.ini
//   <dir>/DEvOrevi/<saver name>/*.jpg, *.bmp, music.wav
// Usage: make_demo_content <dir> <saver name> [width height]
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern "C" {
#include <jpeglib.h>
}

namespace {

struct Rgb {
  double r, g, b;
};

using Painter = Rgb (*)(double u, double v);  // u, v in [0, 1)

Rgb Hsv(double h, double s, double v) {
  h = std::fmod(h, 1.0) * 6.0;
  const int i = static_cast<int>(h);
  const double f = h - i, p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
  switch (i % 6) {
    case 0:
      return {v, t, p};
    case 1:
      return {q, v, p};
    case 2:
      return {p, v, t};
    case 3:
      return {p, q, v};
    case 4:
      return {t, p, v};
    default:
      return {v, p, q};
  }
}

Rgb Sunset(double u, double v) {
  const double sun = std::hypot(u - 0.5, (v - 0.62) * 1.6);
  Rgb sky = Hsv(0.05 + 0.7 * v * v, 0.8, 1.0 - 0.4 * v);
  if (sun < 0.12) sky = {1.0, 0.85, 0.4};
  if (v > 0.7) sky = Hsv(0.6, 0.7, 0.25 + 0.2 * std::sin(u * 60 + v * 20) * (v - 0.7));
  return sky;
}
Rgb Rings(double u, double v) {
  const double d = std::hypot(u - 0.5, v - 0.5);
  return Hsv(d * 3.0 + 0.5, 0.75, 0.55 + 0.45 * std::cos(d * 60));
}
Rgb Plasma(double u, double v) {
  const double a = std::sin(u * 13) + std::sin(v * 9 + 1) + std::sin((u + v) * 7) +
                   std::sin(std::hypot(u - 0.3, v - 0.7) * 20);
  return Hsv(a / 8 + 0.5, 0.9, 0.95);
}
Rgb Checker(double u, double v) {
  const bool odd = (static_cast<int>(u * 16) + static_cast<int>(v * 9)) & 1;
  const Rgb c = Hsv(u * 0.3 + 0.45, 0.6, odd ? 0.9 : 0.35);
  return c;
}
Rgb Aurora(double u, double v) {
  const double band = std::exp(-std::pow((v - 0.35 - 0.1 * std::sin(u * 9)) * 7, 2));
  return {0.02 + 0.3 * band * u, 0.05 + 0.9 * band, 0.15 + 0.5 * band * (1 - u) + 0.2 * v};
}
Rgb Stripes(double u, double v) {
  return Hsv(std::floor((u * 0.7 + v * 0.3) * 12) / 12, 0.65, 0.9);
}

std::vector<std::uint8_t> Render(Painter paint, int w, int h) {
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(w) * h * 3);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const Rgb c = paint((x + 0.5) / w, (y + 0.5) / h);
      std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * w + x) * 3];
      p[0] = static_cast<std::uint8_t>(std::clamp(c.r, 0.0, 1.0) * 255);
      p[1] = static_cast<std::uint8_t>(std::clamp(c.g, 0.0, 1.0) * 255);
      p[2] = static_cast<std::uint8_t>(std::clamp(c.b, 0.0, 1.0) * 255);
    }
  }
  return rgb;
}

bool WriteJpeg(const std::string& path, const std::vector<std::uint8_t>& rgb, int w, int h) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  jpeg_stdio_dest(&c, f);
  c.image_width = static_cast<JDIMENSION>(w);
  c.image_height = static_cast<JDIMENSION>(h);
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 90, TRUE);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(&rgb[static_cast<std::size_t>(c.next_scanline) * w * 3]);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  return std::fclose(f) == 0;
}

void Put(std::FILE* f, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) std::fputc(static_cast<int>((v >> (8 * i)) & 0xFF), f);
}

bool WriteBmp(const std::string& path, const std::vector<std::uint8_t>& rgb, int w, int h) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const std::uint32_t stride = (static_cast<std::uint32_t>(w) * 3 + 3) & ~3u;
  const std::uint32_t size = 54 + stride * static_cast<std::uint32_t>(h);
  std::fputc('B', f), std::fputc('M', f);
  Put(f, size, 4), Put(f, 0, 4), Put(f, 54, 4);
  Put(f, 40, 4), Put(f, static_cast<std::uint32_t>(w), 4), Put(f, static_cast<std::uint32_t>(h), 4);
  Put(f, 1, 2), Put(f, 24, 2), Put(f, 0, 4), Put(f, stride * static_cast<std::uint32_t>(h), 4);
  Put(f, 2835, 4), Put(f, 2835, 4), Put(f, 0, 4), Put(f, 0, 4);
  std::vector<std::uint8_t> row(stride, 0);
  for (int y = h - 1; y >= 0; --y) {
    for (int x = 0; x < w; ++x) {
      const std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * w + x) * 3];
      row[x * 3] = p[2], row[x * 3 + 1] = p[1], row[x * 3 + 2] = p[0];
    }
    std::fwrite(row.data(), 1, row.size(), f);
  }
  return std::fclose(f) == 0;
}

// A calm arpeggio over a soft pad, 16-bit mono, made to loop without a click.
bool WriteWav(const std::string& path) {
  constexpr int kRate = 22050;
  constexpr double kSeconds = 8.0;
  const int n = static_cast<int>(kRate * kSeconds);
  const double notes[] = {261.63, 329.63, 392.00, 523.25, 392.00, 329.63,
                          293.66, 349.23, 440.00, 587.33, 440.00, 349.23};
  std::vector<std::int16_t> samples(static_cast<std::size_t>(n));
  const double noteLength = kSeconds / 16;
  for (int i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / kRate;
    const int k = static_cast<int>(t / noteLength);
    const double local = t - k * noteLength;
    const double f = notes[k % 12];
    const double env = std::exp(-local * 4.0) * std::min(1.0, local * 200);
    const double pad =
        0.12 * std::sin(2 * M_PI * (k < 8 ? 130.81 : 146.83) * t) * std::sin(M_PI * t / kSeconds);
    const double v = 0.35 * env * std::sin(2 * M_PI * f * t) + pad;
    samples[static_cast<std::size_t>(i)] =
        static_cast<std::int16_t>(std::clamp(v, -1.0, 1.0) * 30000);
  }
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return false;
  const std::uint32_t data = static_cast<std::uint32_t>(n) * 2;
  std::fputs("RIFF", out), Put(out, 36 + data, 4), std::fputs("WAVEfmt ", out);
  Put(out, 16, 4), Put(out, 1, 2), Put(out, 1, 2), Put(out, kRate, 4), Put(out, kRate * 2, 4);
  Put(out, 2, 2), Put(out, 16, 2), std::fputs("data", out), Put(out, data, 4);
  std::fwrite(samples.data(), 2, samples.size(), out);
  return std::fclose(out) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <dir> <saver name> [width height]\n", argv[0]);
    return 2;
  }
  namespace fs = std::filesystem;
  const fs::path dir = argv[1];
  const std::string saver = argv[2];
  const int w = argc > 4 ? std::atoi(argv[3]) : 1280;
  const int h = argc > 4 ? std::atoi(argv[4]) : 720;
  const fs::path content = dir / "DEvOrevi" / saver;
  fs::create_directories(content);

  struct Picture {
    const char* file;
    Painter paint;
    double scale;  // of the screen-sized picture: some are smaller, one larger than the screen
  };
  const Picture pictures[] = {{"sunset.jpg", Sunset, 0.9},  {"rings.bmp", Rings, 0.7},
                              {"plasma.jpg", Plasma, 1.0},  {"checker.bmp", Checker, 0.6},
                              {"aurora.jpg", Aurora, 1.15}, {"stripes.jpg", Stripes, 0.8}};
  std::string sort;
  for (const auto& p : pictures) {
    const int pw = static_cast<int>(w * p.scale), ph = static_cast<int>(h * p.scale);
    const auto rgb = Render(p.paint, pw, ph);
    const std::string path = (content / p.file).string();
    const bool jpeg = fs::path(p.file).extension() == ".jpg";
    if (!(jpeg ? WriteJpeg(path, rgb, pw, ph) : WriteBmp(path, rgb, pw, ph))) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
    sort += std::string(p.file) + "*";
  }
  if (!WriteWav((content / "music.wav").string())) return 1;

  std::FILE* ini = std::fopen((dir / "Zirezarev.ini").string().c_str(), "wb");
  if (!ini) return 1;
  std::fprintf(ini,
               "[DM-NOVAPOST]\r\n"
               "ImageOrSWF=True\r\n"
               "SaverDec=Dazzlebox demo: six generated pictures, nineteen transitions.\r\n"
               "SaverVer=1.0\r\n"
               "SaverCopy=Made by the Dazzlebox demo generator\r\n"
               "SaverLogo=logo.bmp\r\n"
               "SaverURL=https://example.invalid/dazzlebox\r\n"
               "LeftMouse=True\r\nRightMouse=True\r\nMoveMouse=False\r\nKeydown=True\r\n"
               "HideMouse=False\r\n"
               "TestSaver=False\r\n"
               "Saverpath=\r\n"
               "SaverEffects=0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18\r\n"
               "SaverTime=12\r\n"
               "SaverInterval=3\r\n"
               "SaverAudio=music.wav\r\n"
               "Restartmusic=Loop\r\n"
               "SaverBgSelect=2\r\n"
               "SaverGradientUP=6697728\r\n"
               "SaverGradientDown=1315860\r\n"
               "SaverGradientAngle=315\r\n"
               "SaverSort=%s\r\n",
               sort.c_str());
  std::fclose(ini);
  std::printf("%s\n", dir.string().c_str());
  return 0;
}
