// A show of photo-like 6000 x 4000 JPEGs (about 8 MB each, made at run time
// by the test JPEG maker from noisy synthetic scenes) appended to a copy of
// this program, as a packed show is:
//  - BM_TimeToFirstPicture: 50 pictures with an embedded Adobe RGB profile;
//    from OpenShow to the first slide's picture decoded at the level that
//    serves 1920 x 1080 and converted to sRGB (up to the bitmap: what the
//    screen does with it is not timed). Each step's share is printed as a
//    counter. The reference does the same work directly: one read of the
//    picture's bytes at their known offset, the library's decode at the same
//    scale, LittleCMS over the same pixels. "ratio" is our time over the
//    reference's, the two run in alternating order; aim: total below 300 ms
//    on one core.
//  - BM_ShowMemory: the pictures of a 1,000-picture show decoded one after
//    another at the 1080p level, three kept at a time, as a player's window
//    of slides does; reports the peak resident memory of the decoding (the
//    fixture's making excluded); aim: below 300 MB. The show names 1,000
//    pictures through its file map over a few stored files, so every
//    picture is opened and decoded on its own as in a show of distinct files.
#include <benchmark/benchmark.h>
#include <lcms2.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "container/Startup.h"
#include "container/kvQelFileAccessor2.h"
#include "container/kvQelLoader2.h"
#include "decoders/Startup.h"
#include "foundation/kvFileAPI.h"
#include "foundation/kvFileStream.h"
#include "foundation/kvFileUtils.h"
#include "foundation/kvUTF8.h"
#include "imaging/DisplayLevel.h"
#include "imaging/Startup.h"
#include "imaging/kvColorProfile.h"
#include "imaging/kvColorProfileData.h"
#include "platform/os/paths.h"
#include "tests/support/ContainerBuilder.h"
#include "tests/support/JpegMaker.h"

namespace {

using Clock = std::chrono::steady_clock;
double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

constexpr int kWidth = 6000, kHeight = 4000;
constexpr int kTargetWidth = 1920, kTargetHeight = 1080;

void Start() {
  static bool started = false;
  if (started) return;
  decoders::StartDecoders();
  container::StartContainer();
  started = true;
}

std::string EntryName(int i) { return "C:\\Shows\\Pictures\\photo" + std::to_string(i) + ".jpg"; }
std::string ProjectName(int i) { return "C:\\Old\\slide" + std::to_string(i) + ".jpg"; }

// A packed show: Pictures names mapped onto Distinct stored JPEGs in turn.
struct PackedShow {
  std::string path;
  std::u16string internal;
  std::vector<std::u16string> names;
  std::vector<testsupport::Bytes> jpegs;  // the stored files
  std::vector<int64_t> offsets;           // where each stored file starts
  PackedShow(int pictures, int distinct, bool profile) {
    Start();
    path = (std::filesystem::temp_directory_path() / ("qel_show_bench_" + std::to_string(std::random_device{}())))
               .string();
    std::filesystem::copy_file("/proc/self/exe", path);
    testsupport::ContainerBuilder b;
    const testsupport::Bytes icc = imaging::BuildAdobeRGBProfileBytes();
    for (int i = 0; i < distinct; ++i) {
      testsupport::Bytes jpeg = testsupport::MakeJpeg(testsupport::JpegSpec{kWidth, kHeight, 3, 90, false, 0, true},
                                                      testsupport::NoisyScenePixels(kWidth, kHeight, i + 1));
      if (profile) jpeg = testsupport::SpliceSegment(jpeg, 0xE2, testsupport::IccApp2Payload(icc));
      b.AddStored(EntryName(i), std::string(jpeg.begin(), jpeg.end()));
      jpegs.push_back(std::move(jpeg));
    }
    std::string project = "\xEF\xBB\xBF[Main]\r\nQelVersion=10.00\r\n[FileMap]\r\n";
    for (int i = 0; i < pictures; ++i) {
      project += ";\"" + ProjectName(i) + "\"=\"" + EntryName(i % distinct) + "\"\r\n";
      names.push_back(foundation::MessageFromUtf8(ProjectName(i)));
    }
    b.AddDeflated("Project.qel", project);
    const testsupport::BuiltContainer c = b.AppendToFile(path);
    for (int i = 0; i < distinct; ++i) offsets.push_back(c.positions.at(EntryName(i)));
    internal = platform::os::fromPosixPath(path);
  }
  ~PackedShow() { std::remove(path.c_str()); }
};

struct Steps {
  double open = 0, image = 0, decode = 0, transform = 0;
  double Total() const { return open + image + decode + transform; }
};

// Ours: the player's path from the show file to the converted bitmap.
Steps FirstPicture(const PackedShow& show) {
  Steps s;
  auto t = Clock::now();
  std::u16string error;
  container::TQelShowLocator* locator = container::OpenShow(show.internal, error);
  if (!locator) std::abort();
  s.open = Since(t);
  t = Clock::now();
  imaging::TImage* image = container::TFileAccessor::LoadImage(locator->Accessor, show.names[0]);
  if (!image || !image->Store) std::abort();
  s.image = Since(t);
  t = Clock::now();
  const int32_t level = imaging::DisplayLevelFor(image->Params.Width, image->Params.Height, kTargetWidth, kTargetHeight);
  imaging::TBitmap* decoded = image->Store->GetBitmap(level, imaging::pfR8G8B8, imaging::TSysBitmap::StaticClass());
  benchmark::DoNotOptimize(decoded);
  s.decode = Since(t);
  t = Clock::now();
  // The decoded level is now the store's: this is the copy and the conversion.
  imaging::TSysBitmap* shown = imaging::DisplayBitmapOfLevel(image->Store, level, imaging::SRGBColorProfile);
  if (!shown || shown->Width < kTargetWidth) std::abort();
  s.transform = Since(t);
  shown->Free();
  image->Free();
  locator->Free();
  return s;
}

// The reference: one read, the library's decode at the same scale into
// blue-green-red rows, LittleCMS from the embedded profile to sRGB.
double ReferenceFirstPicture(const PackedShow& show) {
  const auto t = Clock::now();
  const testsupport::Bytes& stored = show.jpegs[0];
  std::vector<uint8_t> bytes(stored.size());
  std::FILE* f = std::fopen(show.path.c_str(), "rb");
  if (pread(fileno(f), bytes.data(), bytes.size(), show.offsets[0]) != ssize_t(bytes.size())) std::abort();
  std::fclose(f);
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
  jpeg_read_header(&cinfo, TRUE);
  const int32_t level = imaging::DisplayLevelFor(int32_t(cinfo.image_width), int32_t(cinfo.image_height), kTargetWidth,
                                                 kTargetHeight);
  std::vector<uint8_t> icc;
  for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next)
    if (m->marker == JPEG_APP0 + 2 && m->data_length > 14) icc.assign(m->data + 14, m->data + m->data_length);
  cinfo.scale_num = 1;
  cinfo.scale_denom = 1u << level;
  cinfo.do_block_smoothing = TRUE;
  cinfo.out_color_space = JCS_EXT_BGR;
  cinfo.dct_method = JDCT_IFAST;
  jpeg_start_decompress(&cinfo);
  const size_t stride = size_t(cinfo.output_width) * 3;
  std::unique_ptr<uint8_t[]> pixels(new uint8_t[stride * cinfo.output_height]);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = pixels.get() + stride * cinfo.output_scanline;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  const uint32_t w = cinfo.output_width, h = cinfo.output_height;
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  cmsHPROFILE in = cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size()));
  cmsHPROFILE out = cmsCreate_sRGBProfile();
  cmsHTRANSFORM x = cmsCreateTransform(in, TYPE_BGR_8, out, TYPE_BGR_8, INTENT_PERCEPTUAL, 0);
  for (uint32_t y = 0; y < h; ++y) cmsDoTransform(x, pixels.get() + stride * y, pixels.get() + stride * y, w);
  cmsDeleteTransform(x);
  cmsCloseProfile(in);
  cmsCloseProfile(out);
  benchmark::DoNotOptimize(pixels.get());
  return Since(t);
}

void BM_TimeToFirstPicture(benchmark::State& state) {
  static const PackedShow show(50, 5, true);
  Steps sum;
  double reference = 0;
  bool oursFirst = true;
  for (auto _ : state) {
    if (!oursFirst) reference += ReferenceFirstPicture(show);
    const Steps s = FirstPicture(show);
    if (oursFirst) reference += ReferenceFirstPicture(show);
    oursFirst = !oursFirst;
    sum.open += s.open;
    sum.image += s.image;
    sum.decode += s.decode;
    sum.transform += s.transform;
  }
  const double n = static_cast<double>(state.iterations());
  const double total = sum.Total();
  state.counters["total_ms"] = total * 1e3 / n;
  state.counters["reference_ms"] = reference * 1e3 / n;
  state.counters["ratio"] = reference > 0 ? total / reference : 0;
  state.counters["share_open"] = sum.open / total;
  state.counters["share_read_header_profile"] = sum.image / total;
  state.counters["share_decode"] = sum.decode / total;
  state.counters["share_copy_transform"] = sum.transform / total;
  state.counters["budget_ratio"] = total / n / 0.3;
}
BENCHMARK(BM_TimeToFirstPicture)->Unit(benchmark::kMillisecond)->Iterations(6);

// Peak resident memory since the last reset, in bytes.
int64_t PeakResident() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6)) * 1024;
  return -1;
}

void ResetPeakResident() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
}

void BM_ShowMemory(benchmark::State& state) {
  const int pictures = static_cast<int>(state.range(0));
  const PackedShow show(pictures, 3, false);
  double peak = 0, seconds = 0;
  for (auto _ : state) {
    ResetPeakResident();
    const auto t = Clock::now();
    std::u16string error;
    container::TQelShowLocator* locator = container::OpenShow(show.internal, error);
    if (!locator) std::abort();
    struct Slide {
      imaging::TImage* image;
      imaging::TSysBitmap* shown;
    };
    std::deque<Slide> window;
    for (const std::u16string& name : show.names) {
      imaging::TImage* image = container::TFileAccessor::LoadImage(locator->Accessor, name);
      if (!image || !image->Store) std::abort();
      const int32_t level =
          imaging::DisplayLevelFor(image->Params.Width, image->Params.Height, kTargetWidth, kTargetHeight);
      window.push_back({image, imaging::DisplayBitmapOfLevel(image->Store, level, imaging::SRGBColorProfile)});
      if (window.size() > 3) {
        window.front().shown->Free();
        window.front().image->Free();
        window.pop_front();
      }
    }
    for (Slide& s : window) {
      s.shown->Free();
      s.image->Free();
    }
    locator->Free();
    seconds += Since(t);
    peak = std::max(peak, static_cast<double>(PeakResident()));
  }
  state.counters["peak_rss_MB"] = peak / 1e6;
  state.counters["budget_ratio"] = peak / 300e6;
  state.counters["ms_per_picture"] = seconds * 1e3 / static_cast<double>(state.iterations()) / pictures;
}
BENCHMARK(BM_ShowMemory)->Arg(1000)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
