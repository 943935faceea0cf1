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

// The object-slide variant. Places on the 1280 x 720 slide follow from the
// placement rules: an object is fitted into its parent, scaled by its scale
// percent and centred on its position (percent of half the parent from the
// parent's centre).
constexpr std::string_view kObjectsProject = R"(; Project.qel - fixture show "objects"
[Main]
MinorVersion=13
opt_scr_width=1280
opt_scr_height=720
opt_scr_caption=Fixture show objects
opt_scr_full=0
opt_repeat=close
opt_manualshow=0
opt_fcp=0
opt_logo=0
; navy main background (R+256G+65536B)
opt_bstyle=1
opt_bcolor=6291456
PathToButtons=buttons\
object TheEffect: AnEffect
  time=1000
  object Fade: dissolve
    checked=1
  end
  object Split: custom
    slide_1=split
    CustomEffBg=0
    TransparentBg=0
  end
end

[Times]
opt_slidescount=2
opt_synchpos1=4000
opt_synchpos2=8000

[Tracks]
object VideoClip: VideoClip
  ClipGUID={6A1C2E10-0000-4000-8000-00000000C101}
  FileName=video\clip.mp4
  Duration=400
  StartQELTime=1620
  StartSlideIdx=0
end

[Slide1]
slideid=objects
bstyle=0
object TheEffect: AnEffect
  ref=default
end
object Container: Root
  ; a red box of 256 x 144 centred at (192, 144)
  object Block: Box
    GUID={6A1C2E10-0000-4000-8000-000000001101}
    Size=1280,720
    FillMode=Solid
    Color1=#C03020
    object K0: KeyPoint
      Time=0
      Position=-70,-60
      ScaleX=20
      ScaleY=20
    end
  end
  ; the green 4:3 photo, 192 x 144 centred at (640, 144)
  object Photo: Image
    GUID={6A1C2E10-0000-4000-8000-000000001102}
    ImageName=photos\forest.png
    ImageIndex=0
    object K0: KeyPoint
      Time=0
      Position=0,-60
      ScaleX=20
      ScaleY=20
    end
  end
  ; a white title centred at (1088, 144)
  object Title: Text
    GUID={6A1C2E10-0000-4000-8000-000000001103}
    Text="Objects"
    FontName=DejaVu Sans
    FontStyle=Bold
    TextColor=#FFFFFF
    TextAlign=Center
    ShadowEnable=0
    object K0: KeyPoint
      Time=0
      Position=70,-60
      ScaleX=10
      ScaleY=10
    end
  end
  ; an "aqua" button 72 pixels high centred at (192, 540), with a caption
  object Go: Button
    GUID={6A1C2E10-0000-4000-8000-000000001104}
    Theme=aqua
    object K0: KeyPoint
      Time=0
      Position=-70,50
      ScaleX=10
      ScaleY=10
    end
    object Caption: Text
      GUID={6A1C2E10-0000-4000-8000-000000001105}
      Text="Go"
      FontName=DejaVu Sans
      TextColor=#FFFFFF
      object K0: KeyPoint
        Time=0
        ScaleX=80
        ScaleY=80
      end
    end
  end
  ; a viewport of 512 x 288 centred at (640, 540): its stencil covers the
  ; left half, its content is a yellow box over the whole viewport
  object Window: ViewPort
    GUID={6A1C2E10-0000-4000-8000-000000001106}
    Size=1280,720
    object K0: KeyPoint
      Time=0
      Position=0,50
      ScaleX=40
      ScaleY=40
    end
    object Stencil: MaskStencil
      GUID={6A1C2E10-0000-4000-8000-000000001107}
      object K0: KeyPoint
        Time=0
      end
      object Shape: Box
        GUID={6A1C2E10-0000-4000-8000-000000001108}
        Size=1280,720
        Color1=#FFFFFF
        object K0: KeyPoint
          Time=0
          Position=-50,0
          ScaleX=50
          ScaleY=100
        end
      end
    end
    object Content: MaskContent
      GUID={6A1C2E10-0000-4000-8000-000000001109}
      object K0: KeyPoint
        Time=0
      end
      object Fill: Box
        GUID={6A1C2E10-0000-4000-8000-00000000110A}
        Size=1280,720
        Color1=#F0D000
        object K0: KeyPoint
          Time=0
        end
      end
    end
  end
  ; the 16:9 clip, 384 x 216 centred at (1088, 540): at 2 s into the
  ; slide it is 380 ms into the clip, its last frame
  object Movie: Video
    GUID={6A1C2E10-0000-4000-8000-00000000110B}
    ClipGUID={6A1C2E10-0000-4000-8000-00000000C101}
    Duration=400
    object K0: KeyPoint
      Time=0
      Position=70,50
      ScaleX=30
      ScaleY=30
    end
  end
end

[Slide2]
slideid=beach
bstyle=0
object TheEffect: AnEffect
  ref=Split
  time=1000
end
object Container: Root
  object Photo: Image
    GUID={6A1C2E10-0000-4000-8000-000000001201}
    ImageName=photos\beach.jpg
    ImageIndex=0
    FitMode=Cover
    object K0: KeyPoint
      Time=0
    end
  end
end

[effect_split]
CustomEffTime=1000
CustomEffBg=0
TransparentBg=0
opt_scr_width=1280
opt_scr_height=720
; blue (R+256G+65536B)
bstyle=1
bcolor=16711680
object Container: Root
  ; the outgoing picture squeezed into the left half, 614 x 648 centred at (320, 360)
  object Outgoing: Image
    GUID={6A1C2E10-0000-4000-8000-000000001301}
    ReplaceWithEffectBuffer=1
    object K0: KeyPoint
      Time=0
      Position=-50,0
      ScaleX=48
      ScaleY=90
    end
  end
  ; the incoming one on the right, centred at (960, 360)
  object Incoming: Image
    GUID={6A1C2E10-0000-4000-8000-000000001302}
    ReplaceWithEffectBuffer=2
    object K0: KeyPoint
      Time=0
      Position=50,0
      ScaleX=48
      ScaleY=90
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

// The button skin: one 12 x 6 picture of (60, 120, 200) for every part of
// every state.
std::string SkinPng() {
  PngImageSpec spec;
  spec.width = 12;
  spec.height = 6;
  Bytes rows;
  for (uint32_t k = 0; k < spec.width * spec.height; ++k) rows.insert(rows.end(), {60, 120, 200});
  return AsString(MakePng(spec, rows));
}

ContainerEntry Entry(std::string name, std::string data, int method) {
  ContainerEntry e;
  e.name = std::move(name);
  e.data = std::move(data);
  e.method = method;
  return e;
}

// As the authoring tool writes it: UTF-8 with BOM, CR LF.
std::string AsProjectText(std::string_view text) {
  std::string out = "\xEF\xBB\xBF";
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

}  // namespace

std::string ButtonSkinIni(const std::string& picture, const char* eol) {
  const std::string p = picture, e = eol;
  std::string s;
  for (const char* state : {"NormalState", "HoverState", "ClickState"}) {
    s += std::string("[") + state + "]" + e;
    s += "LeftTop=" + p + ",0,0,3,2" + e + "Top=" + p + ",3,0,9,2" + e + "RightTop=" + p + ",9,0,12,2" + e;
    s += "Right=" + p + ",9,2,12,4" + e + "RightBottom=" + p + ",9,4,12,6" + e + "Bottom=" + p + ",3,4,9,6" + e;
    s += "LeftBottom=" + p + ",0,4,3,6" + e + "Left=" + p + ",0,2,3,4" + e + "Center=" + p + ",3,2,9,4" + e;
  }
  return s + "[TextParams]" + e + "BtnMinWidth=40" + e + "Filtering=Bilinear" + e;
}

std::string FixtureProjectText() { return AsProjectText(kProject); }

std::string FixtureObjectsProjectText() { return AsProjectText(kObjectsProject); }

std::vector<ContainerEntry> FixtureObjectsShowMedia(const std::string& clip) {
  return {Entry("photos\\beach.jpg", SolidJpeg(0xE0, 0xC0, 0x80), 0),
          Entry("photos\\forest.png", GreenPng(), 1),
          Entry("buttons\\aqua\\btn.ini", ButtonSkinIni("aqua\\skin.png", "\r\n"), 1),
          Entry("buttons\\aqua\\skin.png", SkinPng(), 0),
          Entry("video\\clip.mp4", clip, 0)};
}

std::vector<ContainerEntry> FixtureShowMedia() {
  return {Entry("photos\\beach.jpg", SolidJpeg(0xE0, 0xC0, 0x80), 0),
          Entry("photos\\forest.png", GreenPng(), 1),
          Entry("photos\\city.jpg", SolidJpeg(0x50, 0x60, 0x70), 2),
          Entry("audio\\comment.wav", std::string("RIFF"), 1)};
}

ContainerBuilder FixtureObjectsShowContainer(const std::string& clip) {
  ContainerBuilder b;
  b.AddDeflated("Project.qel", FixtureObjectsProjectText());
  for (ContainerEntry& e : FixtureObjectsShowMedia(clip)) b.Add(std::move(e));
  return b;
}

ContainerBuilder FixtureShowContainer() {
  ContainerBuilder b;
  b.AddDeflated("Project.qel", FixtureProjectText());
  for (ContainerEntry& e : FixtureShowMedia()) b.Add(std::move(e));
  return b;
}

}  // namespace testsupport
