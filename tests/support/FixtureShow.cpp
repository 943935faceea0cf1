#include "tests/support/FixtureShow.h"

#include <string_view>

#include "tests/support/JpegMaker.h"
#include "tests/support/PngWriter.h"

namespace testsupport {

namespace {

constexpr std::string_view kProject = R"(; Project.qel - fixture show "three slides"
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
)";

std::string AsString(const Bytes& b) { return std::string(b.begin(), b.end()); }

// A solid-colour JPEG of 64 x 48.
std::string SolidJpeg(uint8_t r, uint8_t g, uint8_t b) {
  JpegSpec spec;
  Bytes pixels;
  for (int k = 0; k < spec.width * spec.height; ++k) pixels.insert(pixels.end(), {r, g, b});
  return AsString(MakeJpeg(spec, pixels));
}

std::string GreenPng() {
  PngImageSpec spec;
  spec.width = 32;
  spec.height = 24;
  Bytes rows;
  for (uint32_t y = 0; y < spec.height; ++y) {
    for (uint32_t x = 0; x < spec.width; ++x) rows.insert(rows.end(), {0x20, 0x80, 0x30});
  }
  return AsString(MakePng(spec, rows));
}

}  // namespace

std::string FixtureProjectText() {
  std::string out = "\xEF\xBB\xBF";
  for (char c : kProject) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

ContainerBuilder FixtureShowContainer() {
  ContainerBuilder b;
  b.AddDeflated("Project.qel", FixtureProjectText());
  b.AddStored("photos\\beach.jpg", SolidJpeg(0xE0, 0xC0, 0x80));
  b.AddDeflated("photos\\forest.png", GreenPng());
  b.AddEnciphered("photos\\city.jpg", SolidJpeg(0x50, 0x60, 0x70));
  b.AddDeflated("audio\\comment.wav", std::string("RIFF"));
  return b;
}

}  // namespace testsupport
