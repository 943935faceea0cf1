#include "showmodel/kvMTParser.h"

#include "container/kvQelFileAccessor2.h"
#include "container/kvQelVirtualFiles.h"
#include "decoders/MdxExif.h"
#include "decoders/MdxExifIPTC.h"
#include "foundation/kpExceptions.h"
#include "foundation/kpTypes.h"
#include "foundation/kpStringUtils.h"
#include "foundation/kvFileUtils.h"
#include "foundation/kvStringUtils.h"

namespace showmodel {

const char16_t* const MacroNames[MacroCount] = {
    u"<%SlideIndex%>",
    u"<%SlidesCount%>",
    u"<%MainImg.Width%>",
    u"<%MainImg.Height%>",
    u"<%MainImg.Exif.Comment%>",
    u"<%MainImg.Exif.Description%>",
    u"<%MainImg.PathNameExt%>",
    u"<%MainImg.IPTC.DocumentTitle%>",
    u"<%MainImg.IPTC.SpecialInstructions%>",
    u"<%MainImg.IPTC.AuthorByline%>",
    u"<%MainImg.IPTC.AuthorTitle%>",
    u"<%MainImg.IPTC.City%>",
    u"<%MainImg.IPTC.Sublocation%>",
    u"<%MainImg.IPTC.ProvinceState%>",
    u"<%MainImg.IPTC.Country%>",
    u"<%MainImg.IPTC.OTR%>",
    u"<%MainImg.IPTC.Headline%>",
    u"<%MainImg.IPTC.Credits%>",
    u"<%MainImg.IPTC.Source%>",
    u"<%MainImg.IPTC.Copyright%>",
    u"<%MainImg.IPTC.CaptionDescription%>",
    u"<%MainImg.IPTC.CaptionWriter%>",
    u"<%MainImg.FileName%>",
    u"<%MainImg.PathName%>",
    u"<%MainImg.FileNameExt%>",
    u"<%MainImg.FolderPath%>",
    u"<%MainImg.FolderName%>",
    u"<%MainImg.Exif.Date%>",
    u"<%MainImg.Exif.Time%>",
};

namespace {

constexpr int32_t kPathMacro = 6;  // "<%MainImg.PathNameExt%>"

std::u16string LastItemWithoutExtension(const std::u16string& path) {
  return foundation::ChangeFileExt(container::ExtractLastPathItem(path), u"");
}

std::u16string Derive(int32_t index, const std::u16string& base) {
  switch (index) {
    case 22:
      return LastItemWithoutExtension(base);
    case 23: {
      // The extension of the last item only: a "." in a folder name is no extension.
      const std::u16string last = container::ExtractLastPathItem(base);
      const std::u16string stem = LastItemWithoutExtension(base);
      return base.substr(0, base.size() - (last.size() - stem.size()));
    }
    case 24:
      return container::ExtractLastPathItem(base);
    case 25: {
      const size_t pos = base.rfind(u'\\');
      return pos == std::u16string::npos ? std::u16string() : base.substr(0, pos + 1);
    }
    case 26: {
      const size_t last = base.rfind(u'\\');
      if (last == std::u16string::npos || last == 0) return {};
      const size_t before = base.rfind(u'\\', last - 1);
      if (before == std::u16string::npos) return {};
      return base.substr(before + 1, last - before - 1);
    }
    case 27: {
      const size_t blank = base.find(u' ');
      return blank == std::u16string::npos ? base : base.substr(0, blank);
    }
    case 28: {
      const size_t blank = base.find(u' ');
      return blank == std::u16string::npos ? std::u16string() : base.substr(blank + 1);
    }
    default:
      return base;
  }
}

}  // namespace

std::u16string ExpandMacros(TMTParser* Parser, const std::u16string& Text) {
  QEL_ASSERT(Parser && Parser->Provider, "ExpandMacros: no value provider");
  std::u16string result = Text;
  for (int32_t i = 0; i < MacroCount; ++i) {
    const std::u16string macro = MacroNames[i];
    const std::u16string lowerMacro = foundation::LowerCaseStr(macro);
    // The text the provider is asked for: the macro itself, or the base of a
    // derived one.
    std::u16string asked = macro;
    if (i >= DirectMacroCount && i < 27) asked = MacroNames[kPathMacro];
    size_t from = 0;
    for (;;) {
      const std::u16string lower = foundation::LowerCaseStr(result);
      const size_t pos = lower.find(lowerMacro, from);
      if (pos == std::u16string::npos) break;
      result.erase(pos, macro.size());
      std::u16string value;
      Parser->Provider(Parser, asked, value);
      if (i >= DirectMacroCount) value = Derive(i, value);
      result.insert(pos, value);
      from = pos + value.size();
    }
  }
  if (result.empty()) result = u" ";
  return result;
}

namespace {

struct TIptcRow {
  const char16_t* Macro;
  uint8_t Dataset;
  bool Repeatable;
};
const TIptcRow kIptcRows[] = {
    {u"<%MainImg.IPTC.DocumentTitle%>", decoders::iptcObjectName, false},
    {u"<%MainImg.IPTC.SpecialInstructions%>", decoders::iptcSpecialInstructions, false},
    {u"<%MainImg.IPTC.AuthorByline%>", decoders::iptcBylines, true},
    {u"<%MainImg.IPTC.AuthorTitle%>", decoders::iptcBylineTitles, true},
    {u"<%MainImg.IPTC.City%>", decoders::iptcCity, false},
    {u"<%MainImg.IPTC.Sublocation%>", decoders::iptcSubLocation, false},
    {u"<%MainImg.IPTC.ProvinceState%>", decoders::iptcProvinceOrState, false},
    {u"<%MainImg.IPTC.Country%>", decoders::iptcCountryName, false},
    {u"<%MainImg.IPTC.OTR%>", decoders::iptcOriginalTransmissionRef, false},
    {u"<%MainImg.IPTC.Headline%>", decoders::iptcHeadline, false},
    {u"<%MainImg.IPTC.Credits%>", decoders::iptcCredit, false},
    {u"<%MainImg.IPTC.Source%>", decoders::iptcSource, false},
    {u"<%MainImg.IPTC.Copyright%>", decoders::iptcCopyrightNotice, false},
    {u"<%MainImg.IPTC.CaptionDescription%>", decoders::iptcCaptionOrAbstract, false},
    {u"<%MainImg.IPTC.CaptionWriter%>", decoders::iptcWritersOrEditors, true},
};

foundation::TRef<foundation::TStream> OpenMain(const TMacroContext& c) {
  if (!c.Accessor || c.MainName.empty()) return {};
  return foundation::TRef<foundation::TStream>::Adopt(c.Accessor->OpenStream(c.MainName));
}

}  // namespace

std::u16string MacroValue(const TMacroContext& Context, const std::u16string& Macro) {
  if (Macro == u"<%SlideIndex%>") return foundation::IntToStr(Context.SlideIndex + 1);
  if (Macro == u"<%SlidesCount%>") return foundation::IntToStr(Context.SlideCount);
  if (!Context.HasMainImage) return {};
  if (Macro == u"<%MainImg.PathNameExt%>") return Context.MainName;
  if (Macro == u"<%MainImg.Width%>") return foundation::IntToStr(Context.MainWidth);
  if (Macro == u"<%MainImg.Height%>") return foundation::IntToStr(Context.MainHeight);
  const bool exif = Macro == u"<%MainImg.Exif.Date%>" || Macro == u"<%MainImg.Exif.Time%>" ||
                    Macro == u"<%MainImg.Exif.Comment%>" || Macro == u"<%MainImg.Exif.Description%>";
  if (exif) {
    if (!Context.MainIsImage) return {};
    foundation::TRef<foundation::TStream> stream = OpenMain(Context);
    if (!stream) return {};
    decoders::TExif data;
    try {
      data.LoadFromJPEG(stream.Get());
    } catch (const foundation::Exception&) {
      // A file cut short inside its Exif data keeps what was read.
    }
    if (Macro == u"<%MainImg.Exif.Comment%>") return foundation::TrimSpaces(data.UserComment);
    if (Macro == u"<%MainImg.Exif.Description%>") return foundation::TrimSpaces(data.Description);
    for (const std::u16string* t : {&data.DateTimeTaken, &data.DateTimeDigitized, &data.DateTime})
      if (!t->empty()) return *t;
    return {};
  }
  for (const TIptcRow& row : kIptcRows) {
    if (Macro != row.Macro) continue;
    if (!Context.MainIsImage) return {};
    foundation::TRef<foundation::TStream> stream = OpenMain(Context);
    if (!stream) return {};
    auto data = foundation::MakeRef<decoders::TIPTCData>();
    data->LoadFromJPEG(stream.Get());
    if (row.Repeatable) return decoders::TrimFirstValue(data->GetAppStrings(row.Dataset));
    return foundation::TrimSpaces(data->GetAppString(row.Dataset));
  }
  return {};
}

}  // namespace showmodel
