// The fixture show "three slides" (its project text) and helpers the music
// tests share: parsing INI text and reading a section's "Music" block.
#pragma once

#include <string_view>

#include <gtest/gtest.h>

#include "foundation/kvIni.h"
#include "foundation/kvIniParser.h"
#include "foundation/kvStream.h"
#include "audio/QelMusicSource.h"
#include <string>
#include <vector>

namespace musictest {

inline constexpr std::string_view kFixtureProject = R"QEL(; Project.qel - fixture show "three slides"
[Main]
MinorVersion=13
opt_scr_width=1280
opt_scr_height=720
opt_scr_caption=Fixture show
; window, not full screen; keep the show running under Xvfb without focus
opt_scr_full=0
opt_withoutborder=0
opt_pausewheninactive=0
opt_repeat=close
opt_manualshow=0
opt_usepass=0
opt_fcp=0
opt_logo=0
opt_hidecursor=0
opt_syncmode=0
opt_fullyplaysound=0
; main background for slides whose own bstyle is 0: solid colour (colour value R+256G+65536B)
opt_bstyle=1
opt_bcolor=0
PathToButtons=buttons\
; effect root: default transition time and one definition in use (a dissolve)
object TheEffect: AnEffect
  time=1000
  object Fade: dissolve
    checked=1
  end
end
; main music: one track with one item
object Music: Music
  object TMusicOptions: TMusicOptions
    IsRepeat=0
  end
  object TMusicTrack: TMusicTrack
    IsMute=0
    IsRandom=0
    object TMusicItem: TMusicItem
      FileName=audio\music.mp3
      StartTime=0
      Duration=12000
      FadeIn=500
      FadeOut=1500
      Volume=80
      GUID={6A1C2E10-0000-4000-8000-000000000001}
    end
  end
end

[Times]
opt_slidescount=3
opt_synchpos1=4000
opt_synchpos2=8000
opt_synchpos3=12000

[Slide1]
slideid=beach
Picture=photos\beach.jpg
bstyle=0
Pers_EndAction=timer
object TheEffect: AnEffect
  ref=default
end
object Container: Root
  object Photo: Image
    GUID={6A1C2E10-0000-4000-8000-000000000101}
    ImageName=photos\beach.jpg
    ImageIndex=0
    FitMode=Cover
    object K0: KeyPoint
      Origin=SlideBegin
      Time=0
      grps=7
      Opacity=100
      Position=0,0
      ScaleX=100
      ScaleY=100
    end
    object K1: KeyPoint
      Origin=SlideEnd
      Time=0
      grps=4
      ScaleX=112
      ScaleY=112
    end
  end
  object Caption: Text
    GUID={6A1C2E10-0000-4000-8000-000000000102}
    Text="Slide <%SlideIndex%> of <%SlidesCount%>"
    FontName=DejaVu Sans
    FontStyle=Bold
    TextColor=#FFFFFF
    TextAlign=Center
    ShadowEnable=1
    object K0: KeyPoint
      Time=0
      Position=0,80
      ScaleX=8
      ScaleY=8
    end
  end
end

[Slide2]
slideid=forest
Picture=photos\forest.png
bstyle=3
bcolorstyle=1
bcolor1=0
bcolor2=6697728
object TheEffect: AnEffect
  ref=default
end
object Container: Root
  object Band: Box
    GUID={6A1C2E10-0000-4000-8000-000000000201}
    Size=1280,720
    FillMode=VGradient
    Color1=#000000
    Color2=#203040
    Alpha1=255
    Alpha2=255
    object K0: KeyPoint
      Time=0
    end
  end
  object Photo: Image
    GUID={6A1C2E10-0000-4000-8000-000000000202}
    ImageName=photos\forest.png
    ImageIndex=0
    EnableBorder=1
    BorderWidth=2
    BorderColor=#FFFFFF,255
    object K0: KeyPoint
      Origin=SlideBegin
      Time=0
      Position=-20,0
      ScaleX=70
      ScaleY=70
      Angle=0
    end
    object K1: KeyPoint
      Origin=NextEffectBegin
      Time=0
      Position=20,0
      ScaleX=70
      ScaleY=70
      Angle=5
    end
  end
end

[Slide3]
slideid=city
Picture=photos\city.jpg
bstyle=0
Pers_EndAction=timer
object TheEffect: AnEffect
  ref=default
end
object Music: Music
  object TSoundComment: TSoundComment
    FileName=audio\comment.wav
    Pause=200
    Duration=2000
    Volume=100
  end
end
object Container: Root
  object Photo: Image
    GUID={6A1C2E10-0000-4000-8000-000000000301}
    ImageName=photos\city.jpg
    ImageIndex=0
    Action=nextslide
    object K0: KeyPoint
      Time=0
      Opacity=0
    end
    object K1: KeyPoint
      Origin=PrevEffectEnd
      Time=500
      Opacity=100
    end
  end
end
)QEL";

// The INI tree of a text (lines separated by LF).
inline foundation::TRef<foundation::TIniFile> ParseIni(std::string_view text) {
  auto ini = foundation::MakeRef<foundation::TIniFile>();
  auto s = foundation::MakeRef<foundation::TMemoryStream>();
  if (!text.empty()) s->WriteBuf(reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()));
  s->SetPosition(0);
  EXPECT_TRUE(foundation::LoadIniFromStream(ini.Get(), s.Get()));
  return ini;
}

// The first child object named "Music" of a section, or nullptr.
inline const foundation::TIniList* MusicBlock(foundation::TIniFile* ini, std::u16string_view section) {
  const foundation::TIniList* s = foundation::TIniFile::FindSection(ini, section);
  return s ? foundation::TIniList::FindObject(s, u"Music") : nullptr;
}

// A show given by its project and a slide time table (the fixture show's is
// 0-4000, 4000-8000, 8000-12000).
class TTableShow : public audio::TMusicShow {
 public:
  TTableShow(foundation::TIniFile* ini, std::vector<audio::TMusicSlideTimes> times, bool repeat)
      : Ini(ini), Times(std::move(times)), Repeat(repeat) {
    Ini->_AddRef();
  }
  void Dispose() override {
    Ini->Free();
    audio::TMusicShow::Dispose();
  }
  foundation::TIniFile* GetIni() override { return Ini; }
  int32_t GetSlideCount() override { return static_cast<int32_t>(Times.size()); }
  audio::TMusicSlideTimes GetSlideTimes(int32_t k) override {
    if (Times.empty() || k < 0) return {};
    const auto n = static_cast<int32_t>(Times.size());
    audio::TMusicSlideTimes t = Times[static_cast<size_t>(k % n)];
    t.Start += (k / n) * ShowLength();
    t.End += (k / n) * ShowLength();
    return t;
  }
  double ShowLength() override { return Times.empty() ? 0.0 : Times.back().End; }
  bool IsRepeat() override { return Repeat; }
  foundation::TIniList* GetSlideSection(int32_t n) override {
    std::string name = "Slide" + std::to_string(n);
    return foundation::TIniFile::FindSection(Ini, std::u16string(name.begin(), name.end()));
  }

  foundation::TIniFile* Ini;
  std::vector<audio::TMusicSlideTimes> Times;
  bool Repeat;
};

inline foundation::TRef<TTableShow> FixtureShow() {
  auto ini = ParseIni(kFixtureProject);
  return foundation::TRef<TTableShow>::Adopt(new TTableShow(ini.Get(), {{0, 4000}, {4000, 8000}, {8000, 12000}}, false));
}

}  // namespace musictest
