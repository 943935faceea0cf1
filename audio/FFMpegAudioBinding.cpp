#include "audio/FFMpegAudioBinding.h"

#include "audio/DllDecoders.h"
#include "video/FFMpegDll2.h"

namespace audio {

namespace {

// The video library's FFmpeg audio decoder seen through the converters'
// interface. Its output format is fixed by its own constants, which equal
// MusicOutputFormat (a test ties them together).
class TVideoFFMpegAudio : public TFFMpegAudioBase {
 public:
  QEL_CLASSNAME(TVideoFFMpegAudio)
  TVideoFFMpegAudio() { FAudio = new video::TFFMpegAudio(); }
  void Dispose() override {
    foundation::FreeAndNil(FAudio);
    TFFMpegAudioBase::Dispose();
  }
  bool Open(foundation::TStream* stream, const std::u16string& name) override {
    bool ok = FAudio->Open(stream, name);
    DurationUs = FAudio->DurationUs;
    HasAudio = FAudio->AudioStreamCount;
    Channels = FAudio->OutChannels;
    Rate = FAudio->OutSampleRate;
    BytesPerSample = FAudio->OutBytesPerSample;
    return ok;
  }
  bool DecodeNext() override {
    bool ok = FAudio->DecodeNext();
    Data = FAudio->Output;
    Size = ok && FAudio->Output && FAudio->OutputLength > 0 ? uint32_t(FAudio->OutputLength) : 0;
    return ok;
  }
  bool Seek(int64_t microseconds) override { return FAudio->Seek(microseconds); }

 private:
  video::TFFMpegAudio* FAudio = nullptr;
};

bool LoadVideoFFMpeg() { return video::LoadFFMpeg(); }
TFFMpegAudioBase* CreateVideoFFMpegAudio() { return new TVideoFFMpegAudio(); }

}  // namespace

void RegisterVideoFFMpegAudio() { SetFFMpegAudioBinding({LoadVideoFFMpeg, CreateVideoFFMpegAudio}); }

}  // namespace audio
