// Feeds arbitrary bytes to the converted-image loader and decodes what it
// accepts: a refusal leaves the stream where it was, a field count cut short
// is the stream's read error, and level 0 always has the declared size
// (decoded, or the green substitute) whatever the payload holds.
//
// Two input modes, chosen by the first byte:
//  - raw (bit 0 clear): the rest is the whole file;
//  - assembled (bit 0 set): the target writes a field list that passes (the
//    next two bytes give the width and height, bits 1-3 drop or repeat a
//    field, add an unknown one or make a value no number) and deflates the
//    rest as the payload, so the fuzzer works on the BMP inside rather than
//    on the field list and the deflate bits.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "decoders/Startup.h"
#include "decoders/SysGfxLoader.h"
#include "foundation/kvStream.h"
#include "fuzz/FuzzSupport.h"

using fuzzing::Check;
using fuzzing::kMaxDecodedPixels;
using fuzzing::StreamOf;

namespace {

std::string RawDeflate(const uint8_t* data, size_t size) {
  z_stream z{};
  if (deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) std::abort();
  std::string out(deflateBound(&z, static_cast<uLong>(size)), '\0');
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = static_cast<uInt>(size);
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) std::abort();
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

void PutText(std::string& out, const std::string& text) {
  out += static_cast<char>(text.size() & 0xFF);
  out += static_cast<char>(text.size() >> 8);
  out += text;
}

std::string Assemble(const uint8_t* data, size_t size) {
  if (size < 3) return {};
  const uint8_t flags = data[0];
  const std::string width = std::to_string(1 + data[1]), height = std::to_string(1 + data[2]);
  std::vector<std::pair<std::string, std::string>> fields = {
      {"File", "picture.bmp"}, {"Width", width}, {"Height", height}, {"OriginalSize", "1"}};
  if (flags & 2) fields.erase(fields.begin() + (data[1] & 3));
  if (flags & 4) fields.push_back({"Comment", "made elsewhere"});
  if (flags & 8) fields.push_back({"Width", (flags & 16) ? "wide" : "-7"});
  std::string out = "KVGF";
  out += static_cast<char>(fields.size());
  out += '\0';
  for (const auto& [name, value] : fields) {
    PutText(out, name);
    PutText(out, value);
  }
  return out + RawDeflate(data + 3, size - 3);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  decoders::StartDecoders();
  return 0;
}

QEL_FUZZ_TARGET(data, size) {
  if (size == 0) return 0;
  std::string assembled;
  if (data[0] & 1) {
    assembled = Assemble(data + 1, size - 1);
    data = reinterpret_cast<const uint8_t*>(assembled.data());
    size = assembled.size();
  } else {
    ++data;
    --size;
  }
  foundation::TMemoryStream* s = StreamOf(data, size);
  imaging::TLevelProvider none;
  imaging::TBitmapStore* store = nullptr;
  try {
    store = decoders::LoadGfxBitmapStore(s, u"fuzz.kvgfx", false, none);
  } catch (const foundation::EStreamReadError&) {
    Check(s->GetPosition() == 0);
    s->Free();
    return 0;
  }
  if (!store) {
    Check(s->GetPosition() == 0);
    s->Free();
    return 0;
  }
  auto* gfx = static_cast<decoders::TGfxBitmapStore*>(store);
  if (int64_t(store->Params.Width) * store->Params.Height <= kMaxDecodedPixels) {
    imaging::TBitmap* b = gfx->Image->GetBitmap();
    Check(b != nullptr);
    if (!gfx->Image->Decoded) Check(b->Width == store->Params.Width && b->Height == store->Params.Height);
  }
  store->Free();
  s->Free();
  return 0;
}
