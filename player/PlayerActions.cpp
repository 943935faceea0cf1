#include "player/PlayerActions.h"

#include <algorithm>
#include <cmath>

namespace player {

namespace {

showmodel::TSlideTimes Times(const showmodel::TQelSource* source, int32_t i) {
  showmodel::TSlideTimes t;
  source->GetSlideTimes(i, t);
  return t;
}

int64_t Round(double v) { return int64_t(std::nearbyint(v)); }

// A show that can be stepped through: at least one slide and some length.
bool Playable(const showmodel::TQelSource* source) {
  return source && source->SlideCount > 0 && source->ShowLength > 0;
}

bool EndOfShow(const showmodel::TQelSource* source, int32_t i) {
  return source->RepeatMode != showmodel::rmRepeat && i == source->SlideCount;
}

bool StartsWithNoCase(const std::u16string& text, std::u16string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char16_t c = text[i];
    if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

void SeekTo(TActionHost* host, double p) {
  host->Seek(p);
  host->SetPaused(host->Paused());
}

}  // namespace

int64_t PrevSlideTarget(const showmodel::TQelSource* source, double p) {
  if (!Playable(source)) return 0;
  int32_t i = source->SlideIndexAt(p);
  // At or before the start there is nothing further back (the pseudo-slide
  // before the first one has no start to go to).
  if (i < 0) return 0;
  if (p < Times(source, i).End) {
    --i;
    if (i <= 0) return 0;
  }
  const showmodel::TSlideTimes t = Times(source, i);
  const int64_t r = Round(t.Start + t.EffectIn);
  if (p - double(r) >= kPrevSlideGraceMs) return r;
  --i;
  if (i <= 0) return 0;
  const showmodel::TSlideTimes u = Times(source, i);
  return Round(u.Start + u.EffectIn);
}

int64_t NextSlideTarget(const showmodel::TQelSource* source, double p, bool paused) {
  if (!Playable(source)) return 0;
  const int32_t last = source->RepeatMode != showmodel::rmRepeat ? source->SlideCount - 1 : 2147483646;
  int32_t i = std::min(source->SlideIndexAt(p), last);
  int64_t d = 0;
  do {
    ++i;
    d = Round(Times(source, i).Start);
  } while (double(d) <= p && i < last);
  if (EndOfShow(source, i)) return d;
  const showmodel::TSlideTimes t = Times(source, i);
  if (t.EffectIn != 0) return paused ? d + Round(t.EffectIn) : d;
  return d + 1;
}

int64_t SlideStartTime(const showmodel::TQelSource* source, int32_t i) {
  if (!source || source->SlideCount <= 0) return 0;
  if (i < 0) i = 0;
  const showmodel::TSlideTimes t = Times(source, i);
  const int64_t s = Round(t.Start);
  return t.EffectIn != 0 || EndOfShow(source, i) ? s : s + 1;
}

int32_t FindSlideByName(const showmodel::TQelSource* source, const std::u16string& name) {
  if (!source) return -1;
  for (size_t i = 0; i < source->Slides.size(); ++i)
    if (source->Slides[i].SlideId == name) return int32_t(i);
  return -1;
}

std::u16string AddressForAction(int32_t code, const std::u16string& text) {
  if (code == acOpenWebSite) {
    if (StartsWithNoCase(text, u"http://") || StartsWithNoCase(text, u"https://")) return text;
    return u"http://" + text;
  }
  if (code == acWriteEmail) return StartsWithNoCase(text, u"mailto:") ? text : u"mailto:" + text;
  return text;
}

bool ExecutePlayerAction(TActionHost* host, const TPlayerAction& action) {
  if (!host || host->ModalDialogRunning() || !host->HasViewer()) return false;
  showmodel::TQelSource* source = host->Source();
  switch (action.Code) {
    case acExit:
      host->SetUserExit(true);
      host->CloseMainWindow();
      return true;
    case acPrevSlide:
      if (!source) return false;
      SeekTo(host, double(PrevSlideTarget(source, host->Position())));
      return true;
    case acNextSlide:
      if (host->AtPauseBarrier()) {
        host->ClearPauseBarrier();
        return true;
      }
      if (!source) return false;
      SeekTo(host, double(NextSlideTarget(source, host->Position(), host->Paused())));
      return true;
    case acPause:
      if (host->AtPauseBarrier())
        host->ClearPauseBarrier();
      else
        host->SetPaused(!host->Paused());
      return true;
    case acPrint:
      host->PostEngineRequest(rqCaptureFrame);
      return true;
    case acGotoSlide: {
      if (!source) return false;
      const bool wasPlaying = !host->Paused();
      host->SetPaused(true);
      const int32_t index = action.Argument == -1 ? FindSlideByName(source, action.Text) : action.Argument - 1;
      SeekTo(host, double(SlideStartTime(source, index)));
      if (wasPlaying) host->ResumeWhenReady();
      return true;
    }
    case acOpenWebSite:
    case acWriteEmail:
      // An address is one document: commas belong to it and its words are
      // not commands.
      OpenAddress(host->DialogOwner(), AddressForAction(action.Code, action.Text));
      return true;
    case acRunAppAndExit:
      host->CloseMainWindow();
      [[fallthrough]];
    case acRunApp:
      RunCommandLine(host->DialogOwner(), action.Text, host->ProgramFolder());
      return true;
    case acRunPresentation:
    case acRunPresentationAndReturn:
      return host->OpenAnotherShow(action);
    case acStop:
      host->SetPaused(true);
      SeekTo(host, 0);
      return true;
    case acCloseDialog:
      host->SetUserExit(true);
      host->SetExitCode(1);
      host->CloseMainWindow();
      return true;
    case acSeek:
      SeekTo(host, action.Argument);
      return true;
    default:
      return false;
  }
}

bool RouteMappedAction(TActionHost* host, const TPlayerAction& action) {
  if (!host) return false;
  if (action.Code == acHelp && host->HasEngine()) {
    host->PostEngineRequest(rqHelpDialog);
    return true;
  }
  return ExecutePlayerAction(host, action);
}

void PrintSnapshot(TActionHost* host, imaging::TImage* image) {
  if (!host || !image) return;
  const bool wasPaused = host->Paused();
  host->SetPaused(true);
  int32_t index = 0;
  if (showmodel::TQelSource* source = host->Source(); source && source->SlideCount > 0) {
    index = source->SlideIndexAt(host->Position()) % source->SlideCount;
    if (index < 0) index += source->SlideCount;
  }
  PrintSlide(host->DialogOwner(), image, index);
  host->SetPaused(wasPaused);
}

}  // namespace player
