#include "video/kvVideoSource.h"

#include "imaging/kvPixelFormat.h"

namespace video {

TVideoSourceFactory VideoSourceFactory = nullptr;
TVideoFileFilter VideoFileFilter = nullptr;

TFrameSource::TFrameSource() { Attached = new foundation::TList(); }

void TFrameSource::Dispose() {
  if (Attached) {
    Attached->Clear();
    foundation::FreeAndNil(Attached);
  }
  foundation::TRefObject::Dispose();
}

std::u16string TFrameSource::GetPixelFormatName() { return u"PF_BGRA8"; }

bool TFrameSource::IsHardwareDecoding() { return false; }

TYUVImage::TYUVImage(int32_t width, int32_t height) : Width(width), Height(height) {}

TMemoryYUVImage::TMemoryYUVImage(int32_t width, int32_t height, bool rgbaMode, bool grayMode)
    : TYUVImage(width, height) {
  RGBAMode = rgbaMode;
  GrayMode = grayMode;
  for (int32_t p = 0; p < 5; ++p)
    Planes[p].assign(static_cast<size_t>(PlaneWidth(p)) * BytesPerPixel(p) * PlaneHeight(p), 0);
}

int32_t TMemoryYUVImage::PlaneWidth(int32_t plane) const { return plane == kPlaneU || plane == kPlaneV ? Width / 2 : Width; }
int32_t TMemoryYUVImage::PlaneHeight(int32_t plane) const {
  return plane == kPlaneU || plane == kPlaneV ? Height / 2 : Height;
}
int32_t TMemoryYUVImage::BytesPerPixel(int32_t plane) const {
  return plane == kPlaneGray ? 2 : plane == kPlaneRGBA ? 4 : 1;
}
int32_t TMemoryYUVImage::Pitch(int32_t plane) const { return PlaneWidth(plane) * BytesPerPixel(plane); }

imaging::TSysBitmap* TMemoryYUVImage::LockPlane(int32_t plane) {
  if (plane < 0 || plane > 4 || (RefusedPlanes >> plane) & 1) return nullptr;
  // Only the planes of the image's mode exist.
  bool wanted = RGBAMode ? plane == kPlaneRGBA : GrayMode ? plane == kPlaneGray : plane <= kPlaneV;
  if (!wanted) return nullptr;
  imaging::TPixelFormat* pf = plane == kPlaneGray   ? imaging::pfR5G6B5
                              : plane == kPlaneRGBA ? imaging::pfA8R8G8B8
                                                    : imaging::pfY8;
  imaging::TScanLines rows(static_cast<size_t>(PlaneHeight(plane)));
  for (int32_t y = 0; y < PlaneHeight(plane); ++y) rows[static_cast<size_t>(y)] = Row(plane, y);
  ++LockedCount;
  return new imaging::TSysBitmap(imaging::TSize{PlaneWidth(plane), PlaneHeight(plane)}, pf, std::move(rows),
                                 ReportPitch ? Pitch(plane) : 0);
}

bool TMemoryYUVImage::UnlockPlane(int32_t plane, imaging::TSysBitmap* bitmap) {
  if (!bitmap) return false;
  --LockedCount;
  bitmap->Free();
  return true;
}

TFrameSource* CreateVideoSource(foundation::TStream* stream, bool ownsStream, const std::u16string& fileName,
                                bool allowHardware, bool allowThreads) {
  if (!VideoSourceFactory || (VideoFileFilter && !VideoFileFilter(fileName))) {
    if (ownsStream) foundation::FreeObj(stream);
    return nullptr;
  }
  return VideoSourceFactory(stream, ownsStream, fileName, allowHardware, allowThreads);
}

}  // namespace video
