// The embedded colour table of a packed show through the real converted-image
// loader: a payload that decodes becomes the transform; one that does not
// (the loader's green substitute of the same size) gives none once the
// start-up installed the check.
#include <gtest/gtest.h>

#include <filesystem>

#include "container/kvQelLoader2.h"
#include "decoders/Startup.h"
#include "player/PlayerStartup.h"
#include "tests/container/AccessTestEnv.h"
#include "tests/support/BmpWriter.h"
#include "tests/support/ContainerBuilder.h"
#include "tests/support/TempTree.h"

namespace {

using foundation::TRef;

void PutText(std::string& out, const std::string& text) {
  out.push_back(static_cast<char>(text.size() & 0xFF));
  out.push_back(static_cast<char>(text.size() >> 8));
  out += text;
}

// A converted image of 32 x 1024 with the given payload.
std::string Gfx(const std::string& payload) {
  std::string out = "KVGF";
  out.push_back(4);
  out.push_back(0);
  for (auto [n, v] : {std::pair<std::string, std::string>{"File", "table.bmp"}, {"Width", "32"}, {"Height", "1024"},
                      {"OriginalSize", "1"}}) {
    PutText(out, n);
    PutText(out, v);
  }
  return out + payload;
}

std::string ZeroTableBmp() {
  testsupport::BmpSpec spec;
  spec.width = 32;
  spec.height = 1024;
  spec.bits = 24;
  spec.pixels = testsupport::BmpPackRows(32, 1024, 24, std::vector<uint32_t>(32 * 1024, 0));
  const testsupport::Bytes bmp = testsupport::WriteBmp(spec);
  return testsupport::RawDeflate(std::string(bmp.begin(), bmp.end()));
}

TEST(EmbeddedTable, OnlyADecodedConvertedImageBecomesTheTransform) {
  decoders::StartDecoders();
  // The loader's start-up may have put the ICC transform back: wrap again.
  container::DoneQelLoader();
  container::InitQelLoader();
  qeltest::TempTree t;
  testsupport::ContainerBuilder b;
  b.AddStored("Project.qel", "\xEF\xBB\xBF[Main]\r\nColorManagement=sRGB\r\n");
  b.AddStored("ColorSpaceExe_AdobeRGB].KVGFX", Gfx(ZeroTableBmp()));
  // Inflates, but holds no picture: the loader's substitute of the right size.
  b.AddStored("ColorSpaceExe_RaderAZO].KVGFX", Gfx(testsupport::RawDeflate(std::string(200, 'x'))));
  // Does not even inflate.
  b.AddStored("ColorSpaceExe_YUVsRGB].KVGFX", Gfx(std::string(64, '\x5A')));
  std::filesystem::copy_file("/proc/self/exe", t.path("show"));
  b.AppendToFile(t.path("show"));
  std::u16string error;
  TRef<container::TQelShowLocator> show =
      TRef<container::TQelShowLocator>::Adopt(container::OpenShow(t.internal("show"), error));
  ASSERT_TRUE(show) << foundation::MessageToUtf8(error);
  container::SetCurrentShowLocator(show.Get());

  auto transformOf = [](imaging::TColorProfile* source) {
    return TRef<imaging::TColorTransform>::Adopt(
        imaging::CreateColorTransformHook(source, imaging::SRGBColorProfile));
  };
  // Without the check the undecodable table would colour every picture.
  container::EmbeddedTableDecodedHook = nullptr;
  EXPECT_NE(dynamic_cast<container::TEmbededColorTransform*>(transformOf(imaging::RaderAZOColorProfile).Get()),
            nullptr);
  EXPECT_NE(dynamic_cast<container::TEmbededColorTransform*>(transformOf(imaging::YUVsRGBColorProfile).Get()),
            nullptr);
  player::InstallEmbeddedTableCheck();
  EXPECT_EQ(transformOf(imaging::YUVsRGBColorProfile).Get(), nullptr);
  EXPECT_EQ(dynamic_cast<container::TEmbededColorTransform*>(transformOf(imaging::RaderAZOColorProfile).Get()),
            nullptr);
  TRef<imaging::TColorTransform> good = transformOf(imaging::AdobeRGBColorProfile);
  auto* embedded = dynamic_cast<container::TEmbededColorTransform*>(good.Get());
  ASSERT_NE(embedded, nullptr);
  // Zero differences: the absolute table is the identity.
  const imaging::TFColor* row = embedded->Table->Rows24(32 * 31 + 4);
  EXPECT_EQ(row[0].B, 255);
  EXPECT_EQ(row[0].G, 33);
  EXPECT_EQ(row[31].R, 255);

  container::EmbeddedTableDecodedHook = nullptr;
  container::SetCurrentShowLocator(nullptr);
  good.Reset();
  show.Reset();
  decoders::StopDecoders();
}

}  // namespace
