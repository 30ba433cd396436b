// The imaging benchmark: rasterkit's thumbnails side by side with libjpeg-turbo's scaled decode
// (the floor) and libvips' vips_thumbnail, over the mate-backgrounds wallpapers.
#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vips/vips.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "codec.h"
#include "palette.h"
#include "src/imaging/rasterkit.h"

namespace fs = std::filesystem;

namespace {

constexpr int kBoxWidth = 120, kBoxHeight = 90, kQuality = 75;

struct Size {
  int width, height;
};

// The thumbnail service's fit: the width ratio held as a 32-bit float, quotients truncated.
Size Fit(int width, int height) {
  const float width_ratio = width > kBoxWidth ? static_cast<float>(double(width) / kBoxWidth) : 1;
  const double height_ratio = height > kBoxHeight ? double(height) / kBoxHeight : 1;
  const double scale = std::max<double>(width_ratio, height_ratio);
  return Size{static_cast<int>(width / scale), static_cast<int>(height / scale)};
}

std::string TempDir() {
  static std::string dir = [] {
    std::string t = (fs::temp_directory_path() / "parvix-bench-XXXXXX").string();
    return std::string(mkdtemp(t.data()));
  }();
  return dir;
}

// The thumbnail maker's calls for one image: JPEG (24 bits, quality) or GIF (8 bits).
bool Thumbnail(const std::string& path, const std::string& out, bool gif) {
  ImageHandle image = InitImageObject(path.c_str(), nullptr, -1, -1);
  if (image == nullptr) return false;
  if (!gif) {
    if (GetNumBits(image) != 24) ChangeImageFormat(image, 24);
    SetQuality(image, kQuality);
  } else if (GetNumBits(image) != 8) {
    ChangeImageFormat(image, 8);
  }
  const Size size = Fit(GetWidth(image), GetHeight(image));
  Stretch(image, size.width, size.height);
  const bool saved = Save(image, out.c_str(), -1) == 1;
  DeleteImageObject(image);
  return saved;
}

// The floor: libjpeg-turbo decoding the whole file at the DCT scale rasterkit picks.
void ScaledDecode(const std::string& path, int denominator, std::vector<uint8_t>* row) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) std::abort();
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_decompress(&cinfo);
  jpeg_stdio_src(&cinfo, file);
  jpeg_read_header(&cinfo, TRUE);
  cinfo.scale_num = 1;
  cinfo.scale_denom = denominator;
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  row->resize(static_cast<size_t>(cinfo.output_width) * cinfo.output_components);
  JSAMPROW rows[1] = {row->data()};
  while (cinfo.output_scanline < cinfo.output_height) jpeg_read_scanlines(&cinfo, rows, 1);
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  std::fclose(file);
}

size_t VipsThumbnail(const std::string& path, bool gif, const std::string* save_as) {
  VipsImage* thumb = nullptr;
  if (vips_thumbnail(path.c_str(), &thumb, kBoxWidth, "height", kBoxHeight, nullptr) != 0) {
    std::abort();
  }
  void* buf = nullptr;
  size_t len = 0;
  // Metadata stripped, as rasterkit writes none: the sizes compare the image data.
  const int rc =
      gif ? vips_gifsave_buffer(thumb, &buf, &len, "strip", TRUE, nullptr)
          : vips_jpegsave_buffer(thumb, &buf, &len, "Q", kQuality, "strip", TRUE, nullptr);
  if (rc != 0) std::abort();
  if (save_as != nullptr) {
    std::ofstream(*save_as, std::ios::binary).write(static_cast<const char*>(buf), len);
  }
  g_free(buf);
  g_object_unref(thumb);
  return len;
}

// Decoded 8-bit sRGB pixels, 3 channels.
struct Rgb8 {
  int width = 0, height = 0;
  std::vector<uint8_t> data;
};

Rgb8 ToRgb(VipsImage* in) {
  VipsImage *flat = nullptr, *srgb = nullptr, *cast = nullptr;
  if (vips_image_hasalpha(in)) {
    double white[3] = {255, 255, 255};
    VipsArrayDouble* bg = vips_array_double_new(white, 3);
    vips_flatten(in, &flat, "background", bg, nullptr);
    vips_area_unref(VIPS_AREA(bg));
  } else {
    flat = in;
    g_object_ref(flat);
  }
  vips_colourspace(flat, &srgb, VIPS_INTERPRETATION_sRGB, nullptr);
  vips_cast_uchar(srgb, &cast, nullptr);
  Rgb8 out;
  out.width = vips_image_get_width(cast);
  out.height = vips_image_get_height(cast);
  size_t len = 0;
  void* mem = vips_image_write_to_memory(cast, &len);
  const int bands = vips_image_get_bands(cast);
  out.data.resize(static_cast<size_t>(out.width) * out.height * 3);
  const uint8_t* src = static_cast<const uint8_t*>(mem);
  for (size_t i = 0; i < static_cast<size_t>(out.width) * out.height; ++i) {
    for (int c = 0; c < 3; ++c) out.data[i * 3 + c] = src[i * bands + std::min(c, bands - 1)];
  }
  g_free(mem);
  g_object_unref(cast);
  g_object_unref(srgb);
  g_object_unref(flat);
  return out;
}

Rgb8 Load(const std::string& path) {
  VipsImage* in = vips_image_new_from_file(path.c_str(), "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
  if (in == nullptr) std::abort();
  Rgb8 out = ToRgb(in);
  g_object_unref(in);
  return out;
}

// The reference: the full-resolution image in one Lanczos-3 step (vips_resize) to `size`.
Rgb8 Reference(const std::string& path, Size size) {
  VipsImage* in = vips_image_new_from_file(path.c_str(), nullptr);
  VipsImage* rotated = nullptr;
  vips_autorot(in, &rotated, nullptr);
  const double h = double(size.width) / vips_image_get_width(rotated);
  const double v = double(size.height) / vips_image_get_height(rotated);
  VipsImage* resized = nullptr;
  vips_resize(rotated, &resized, h, "vscale", v, "kernel", VIPS_KERNEL_LANCZOS3, nullptr);
  Rgb8 out = ToRgb(resized);
  g_object_unref(resized);
  g_object_unref(rotated);
  g_object_unref(in);
  return out;
}

double Psnr(const Rgb8& a, const Rgb8& b) {
  if (a.width != b.width || a.height != b.height) return -1;
  double sum = 0;
  for (size_t i = 0; i < a.data.size(); ++i) {
    const double d = double(a.data[i]) - b.data[i];
    sum += d * d;
  }
  if (sum == 0) return 99;
  return 10 * std::log10(255.0 * 255.0 * a.data.size() / sum);
}

// Peak resident memory of a fresh process making one JPEG thumbnail, above its base.
long PeakMemoryKiB(const char* self, const std::string& path) {
  const std::string result = TempDir() + "/memory.txt";
  const pid_t pid = fork();
  if (pid == 0) {
    execl(self, self, "--memory-child", path.c_str(), result.c_str(), nullptr);
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  long kib = -1;
  std::ifstream(result) >> kib;
  return kib;
}

long StatusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
  }
  return -1;
}

int MemoryChild(const std::string& path, const std::string& result) {
  const std::string out = TempDir() + "/memory.jpg";
  // Resets the peak to the current size (the base, rasterkit already loaded).
  std::ofstream("/proc/self/clear_refs") << "5";
  const long base = StatusKiB("VmHWM:");
  Thumbnail(path, out, false);
  const long peak = StatusKiB("VmHWM:");
  std::ofstream(result) << peak - base;
  return 0;
}

std::map<std::string, double> medians;  // Benchmark name -> median real time, ms.

class MedianCollector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.aggregate_name == "median") {
        medians[run.run_name.function_name] = run.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

void Register(const std::string& name, std::function<void()> body) {
  benchmark::RegisterBenchmark(name.c_str(),
                               [body](benchmark::State& state) {
                                 for (auto _ : state) body();
                               })
      ->Unit(benchmark::kMillisecond)
      ->MinTime(0.02)
      ->Repetitions(5)
      ->ReportAggregatesOnly(true);
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

const char* Verdict(bool met) { return met ? "met" : "MISSED"; }

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--memory-child") return MemoryChild(argv[2], argv[3]);
  if (VIPS_INIT(argv[0]) != 0) return 1;
  // vips' operation cache would answer repeated thumbnails from memory; one thread per
  // thumbnail, as the service runs each request on one thread.
  vips_cache_set_max(0);
  vips_concurrency_set(1);

  std::vector<std::string> jpegs, pngs;
  const char* root = std::getenv("PARVIX_BENCH_IMAGES");
  for (const auto& entry :
       fs::recursive_directory_iterator(root ? root : "/usr/share/backgrounds/mate")) {
    if (!entry.is_regular_file() || entry.is_symlink()) continue;
    std::string ext = entry.path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
    if (ext == ".jpg" || ext == ".jpeg") jpegs.push_back(entry.path().string());
    if (ext == ".png") pngs.push_back(entry.path().string());
  }
  std::sort(jpegs.begin(), jpegs.end());
  std::sort(pngs.begin(), pngs.end());
  const std::string dir = TempDir();

  // Progressive copies of the JPEG set.
  std::vector<std::string> progressive;
  for (const std::string& path : jpegs) {
    const std::string copy = dir + "/progressive-" + fs::path(path).filename().string();
    const std::string command =
        "jpegtran -progressive -copy all -outfile '" + copy + "' '" + path + "'";
    if (std::system(command.c_str()) == 0) progressive.push_back(copy);
  }

  struct Row {
    std::string path, name;
    bool jpeg;
    int width = 0, height = 0, denominator = 1;
  };
  std::vector<Row> rows;
  for (const auto* set : {&jpegs, &pngs, &progressive}) {
    for (const std::string& path : *set) {
      Row row{path, fs::path(path).filename().string(), set != &pngs};
      VipsImage* header = vips_image_new_from_file(path.c_str(), nullptr);
      if (header == nullptr) continue;
      row.width = vips_image_get_width(header);
      row.height = vips_image_get_height(header);
      g_object_unref(header);
      if (row.jpeg) {
        const Size s = Fit(row.width, row.height);
        row.denominator = rasterkit::JpegScaleDenominator(
            row.width, row.height, rasterkit::DecodeTarget{s.width, s.height});
      }
      rows.push_back(row);
    }
  }

  for (const Row& row : rows) {
    const std::string key = row.path;
    const bool is_progressive = row.path.find("/progressive-") != std::string::npos;
    if (row.jpeg) {
      Register("ours_jpeg:" + key, [=] { Thumbnail(row.path, dir + "/b.jpg", false); });
      Register("vips_jpeg:" + key, [=] { VipsThumbnail(row.path, false, nullptr); });
      if (!is_progressive) {
        Register("floor:" + key, [=] {
          static thread_local std::vector<uint8_t> scanline;
          ScaledDecode(row.path, row.denominator, &scanline);
        });
        Register("ours_gif:" + key, [=] { Thumbnail(row.path, dir + "/b.gif", true); });
      }
    } else {
      Register("ours_gif:" + key, [=] { Thumbnail(row.path, dir + "/b.gif", true); });
      Register("vips_gif:" + key, [=] { VipsThumbnail(row.path, true, nullptr); });
    }
  }

  // The palette alone on our own 24-bit thumbnails of the PNG set (and the JPEG set).
  std::map<std::string, Rgb8> own24;
  for (const Row& row : rows) {
    if (row.path.find("/progressive-") != std::string::npos) continue;
    const std::string png = dir + "/own24.png";
    ImageHandle image = InitImageObject(row.path.c_str(), nullptr, -1, -1);
    if (image == nullptr) continue;
    ChangeImageFormat(image, 24);
    const Size size = Fit(GetWidth(image), GetHeight(image));
    Stretch(image, size.width, size.height);
    Save(image, png.c_str(), -1);
    DeleteImageObject(image);
    own24[row.path] = Load(png);
    const Rgb8* pixels = &own24[row.path];
    Register("palette:" + row.path, [pixels] {
      static thread_local rasterkit::IndexedImage indexed;
      rasterkit::Quantize(pixels->data.data(), pixels->width, pixels->height, 3,
                          static_cast<size_t>(pixels->width) * 3, &indexed);
      benchmark::DoNotOptimize(indexed.indices.data());
    });
  }

  benchmark::Initialize(&argc, argv);
  MedianCollector reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  // Sizes and quality, outside the timing.
  std::printf(
      "\nPer image: JPEG sources as JPEG q%d, PNG sources as GIF (ours and vips); P = "
      "progressive copy; floor = libjpeg-turbo scaled decode at our DCT scale; PSNR "
      "against the Lanczos-3 reference; gif dB = our GIF against our 24-bit thumbnail.\n",
      kQuality);
  std::printf("\n%-44s %9s %3s | %8s %8s %8s %6s %6s | %6s %6s %6s %6s | %6s %6s | %5s %5s %5s\n",
              "image", "size", "dct", "ours ms", "floor", "vips", "x flr", "x vips", "ourKB",
              "vipKB", "ourdB", "vipdB", "pal ms", "gif dB", "gifms", "vgif", "xvgif");
  std::vector<double> jpeg_floor, jpeg_vips, prog_vips, gif_vips, palette_ms, gif_db;
  bool quality_ok = true, size_ok = true;
  double worst_quality_margin = 1e9, worst_size_ratio = 0;
  for (const Row& row : rows) {
    const std::string& k = row.path;
    const bool is_progressive = k.find("/progressive-") != std::string::npos;
    // JPEG sources compare JPEG thumbnails, PNG sources GIF thumbnails.
    const char* ext = row.jpeg ? "jpg" : "gif";
    const std::string ours_file = dir + "/q." + ext, vips_file = dir + "/v." + ext;
    Thumbnail(k, ours_file, !row.jpeg);
    VipsThumbnail(k, !row.jpeg, &vips_file);
    const Rgb8 ours = Load(ours_file), theirs = Load(vips_file);
    const double our_db = Psnr(ours, Reference(k, Size{ours.width, ours.height}));
    const double vips_db = Psnr(theirs, Reference(k, Size{theirs.width, theirs.height}));
    const double our_kb = fs::file_size(ours_file) / 1024.0;
    const double vips_kb = fs::file_size(vips_file) / 1024.0;
    double gif_psnr = -1;
    if (own24.count(k)) {
      Thumbnail(k, dir + "/q.gif", true);
      gif_psnr = Psnr(Load(dir + "/q.gif"), own24[k]);
    }
    const double ours_ms = medians[(row.jpeg ? "ours_jpeg:" : "ours_gif:") + k],
                 floor_ms = medians["floor:" + k];
    const double vips_ms = medians[(row.jpeg ? "vips_jpeg:" : "vips_gif:") + k];
    const double pal = medians["palette:" + k];
    const double our_gif = medians["ours_gif:" + k], vips_gif = medians["vips_gif:" + k];
    if (row.jpeg && !is_progressive) {
      jpeg_floor.push_back(ours_ms / floor_ms);
      jpeg_vips.push_back(ours_ms / vips_ms);
    }
    if (is_progressive) prog_vips.push_back(ours_ms / vips_ms);
    if (!row.jpeg) {
      gif_vips.push_back(our_gif / vips_gif);
    }
    if (!is_progressive) {
      palette_ms.push_back(pal);
      gif_db.push_back(gif_psnr);
    }
    if (!is_progressive) {
      worst_quality_margin = std::min(worst_quality_margin, our_db - vips_db);
      worst_size_ratio = std::max(worst_size_ratio, our_kb / vips_kb);
      quality_ok = quality_ok && our_db >= vips_db - 0.3;
      size_ok = size_ok && our_kb <= vips_kb * 1.05;
    }
    char size[32];
    std::snprintf(size, sizeof size, "%dx%d", row.width, row.height);
    std::printf(
        "%-44s %9s %3s | %8.2f %8.2f %8.2f %6.2f %6.2f | %6.1f %6.1f %6.2f %6.2f | %6.3f %6.2f | "
        "%5.1f %5.1f %5.2f\n",
        (is_progressive ? "P " + row.name.substr(12) : row.name).substr(0, 44).c_str(), size,
        row.jpeg ? ("1/" + std::to_string(row.denominator)).c_str() : "-", ours_ms, floor_ms,
        vips_ms, floor_ms > 0 ? ours_ms / floor_ms : 0, ours_ms / vips_ms, our_kb, vips_kb, our_db,
        vips_db, pal, gif_psnr, our_gif, vips_gif, vips_gif > 0 ? our_gif / vips_gif : 0);
  }

  // One 5640x3172 JPEG (the largest of the set) into 120 x 90, in a fresh process.
  std::string largest;
  int64_t largest_pixels = 0;
  for (const Row& row : rows) {
    if (row.jpeg && row.path.find("/progressive-") == std::string::npos &&
        int64_t{row.width} * row.height > largest_pixels) {
      largest_pixels = int64_t{row.width} * row.height;
      largest = row.path;
    }
  }
  const long memory_kib = largest.empty() ? -1 : PeakMemoryKiB(argv[0], largest);

  const double m_floor = Median(jpeg_floor), m_vips = Median(jpeg_vips);
  const double m_prog = Median(prog_vips), m_gif = Median(gif_vips);
  const double max_palette =
      palette_ms.empty() ? 0 : *std::max_element(palette_ms.begin(), palette_ms.end());
  const double min_gif_db = gif_db.empty() ? 0 : *std::min_element(gif_db.begin(), gif_db.end());
  std::printf(
      "\nTargets (medians over each set; PSNR reference: full decode, one vips_resize "
      "Lanczos-3 step to each thumbnail's own size; vips with one thread, no cache)\n");
  std::printf("  JPEG->JPEG vs floor      %.2fx  (<= 1.15x)  %s\n", m_floor,
              Verdict(m_floor <= 1.15));
  std::printf("  JPEG->JPEG vs vips       %.2fx  (<= 0.70x)  %s\n", m_vips, Verdict(m_vips <= 0.7));
  std::printf("  progressive vs vips      %.2fx  (<= 0.25x)  %s\n", m_prog,
              Verdict(m_prog <= 0.25));
  std::printf("  PNG->GIF vs vips GIF     %.2fx  (<= 0.70x)  %s\n", m_gif, Verdict(m_gif <= 0.7));
  std::printf("  palette, slowest image   %.3f ms (<= 1 ms; median %.3f)  %s\n", max_palette,
              Median(palette_ms), Verdict(max_palette <= 1.0));
  std::printf("  GIF vs own 24-bit, worst %.2f dB (>= 34 dB)  %s\n", min_gif_db,
              Verdict(min_gif_db >= 34));
  std::printf("  PSNR vs vips, worst      %+.2f dB (>= -0.3 dB)  %s\n", worst_quality_margin,
              Verdict(quality_ok));
  std::printf("  size vs vips, largest    %.2fx  (<= 1.05x)  %s\n", worst_size_ratio,
              Verdict(size_ok));
  std::printf("  peak memory, %s: %.1f MiB above base (< 24 MiB)  %s\n",
              fs::path(largest).filename().c_str(), memory_kib / 1024.0,
              Verdict(memory_kib >= 0 && memory_kib < 24 * 1024));
  fs::remove_all(dir);
  return 0;
}
