// The services every slide of one show shares: the show's file accessor, the
// button, shadow and mask generators, the display colour profile and the
// show's design size. Its resource generator is registered with the
// accessor's file source: a picture named "Button: ...", "Shadow: ...",
// "Mask: ...", "PresetedMask:...", "SlideEffectBuffer:..." or
// "EffectResource:...", "TextWithSize:..." (and "Text: ...") is built from its name instead of read from a file,
// and the accessor's cache shares it between every object asking for it.
// Pictures are generated on the thread that asks for them. The show's
// "ExeGUID" entry, when there is one, becomes the glyph cache's identity.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "container/kvQelFileAccessor2.h"
#include "foundation/SysObj.h"
#include "imaging/ButtonGenerator2.h"
#include "imaging/MaskGenerator.h"
#include "imaging/kvColorProfile.h"
#include "imaging/kvImage.h"

namespace showmodel {

class TQelSlideHost : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TQelSlideHost)
  using TRenderSizeQuery = std::function<void(int32_t& Width, int32_t& Height)>;
  using TSectionQuery = std::function<foundation::TRefObject*(const std::u16string& Name)>;
  using TEffectResourceQuery = std::function<imaging::TImage*(int32_t Number)>;

  // The render-size and section queries must be given (assertion). Takes a
  // reference to the accessor.
  TQelSlideHost(container::TFileAccessor* Accessor, bool OwnsAccessor, const std::u16string& ButtonPath,
                TRenderSizeQuery RenderSizeQuery, TSectionQuery SectionQuery,
                TEffectResourceQuery EffectResourceQuery = {});
  void Dispose() override;

  // The picture of a resource name (one reference), or nil for a name that
  // is not a resource of this host.
  imaging::TImage* GenerateResourceTexture(const std::u16string& Name);
  imaging::TButtonProducer* GetButtonProducer(const std::u16string& SkinName);
  void QueryRenderSize(int32_t& Width, int32_t& Height);

  imaging::TButtonProducerHost* ButtonProducers = nullptr;
  imaging::TMaskGenerator* MaskGenerator = nullptr;
  TRenderSizeQuery RenderSizeQuery;
  TEffectResourceQuery EffectResourceQuery;
  container::TCallbackHandle* ImageCallback = nullptr;
  int32_t SlideCount = 0;
  double TextureOversize = 1.3333;
  int32_t DesignSize[2] = {0, 0};
  bool VideoOpenFlags[2] = {false, false};
  container::TFileAccessor* Accessor = nullptr;  // one reference
  bool OwnsAccessor = false;
  std::u16string ButtonPath;
  TSectionQuery SectionQuery;
  imaging::TColorProfile* DisplayProfile = nullptr;  // one reference, or nil
};

}  // namespace showmodel
