// A frame device and handlers that record what the frame tree asks of them,
// and a draw surface that records its fills, for the frame and control tests.
#pragma once

#include <string>
#include <vector>

#include "controls/kvDrawFrames.h"
#include "render3d/kvDrawForm.h"

namespace controls_test {

using controls::TRect;
using controls::TPoint;

class TRecordingDevice : public controls::TFrameDevice {
 public:
  void SetUpdatePending(bool pending) override { PendingCalls.push_back(pending); }
  TPoint GetOrigin(controls::TDrawFrame*) override { return Origin; }
  void InvalidateRect(const TRect& rect, const TPoint&) override {
    if (controls::IsRectEmpty(rect))
      ++PassRequests;
    else
      Dirty.push_back(rect);
  }
  text::TTextElement* CreateTextElement(const std::u16string&, int32_t, int32_t, const text::TFontParams&,
                                        int32_t) override {
    return nullptr;
  }
  void MeasureText(text::TTextFontMetrics&, const text::TFontParams&) override {}

  bool Dirtied(const TRect& r) const {
    for (const auto& d : Dirty)
      if (d.Left == r.Left && d.Top == r.Top && d.Right == r.Right && d.Bottom == r.Bottom) return true;
    return false;
  }

  TPoint Origin{100, 50};
  std::vector<TRect> Dirty;
  int PassRequests = 0;
  std::vector<bool> PendingCalls;
};

struct TMouseSeen {
  int32_t Kind, Button, X, Y, Captured, CapturedButton;
};

class TRecordingHandler : public controls::TFrameHandler {
 public:
  TRecordingHandler(const std::string& name, TRect client, uint32_t color = 0)
      : Name(name), Client(client), Color(color) {}
  void GetClientRect(TRect& rect) override { rect = Client; }
  void ShowingChanged(bool showing) override { Showing.push_back(showing); }
  void Paint(render3d::TDrawSurfaceEx* surface) override {
    ++Paints;
    PaintOrigin = surface->Origin;
    if (Color) surface->FillRect(Client, Color);
    if (Log) Log->push_back(Name);
  }
  int32_t HitTest(controls::TMouseEx& m) override {
    return controls::RectContains(Client, m.X, m.Y) ? HitAnswer : 0;
  }
  void MouseEvent(controls::TMouseEx& m) override {
    Mouse.push_back({m.Kind, m.Button, m.X, m.Y, m.Captured, m.CapturedButton});
    m.Cursor = CursorAnswer;
  }
  void MouseLeave() override { ++Leaves; }
  void DeferredUpdate() override {
    ++Updates;
    if (AskAgain-- > 0) RequestDeferredUpdate();
  }

  std::string Name;
  TRect Client;
  uint32_t Color;
  int32_t HitAnswer = 1;
  int32_t CursorAnswer = 0;
  std::vector<bool> Showing;
  std::vector<TMouseSeen> Mouse;
  std::vector<std::string>* Log = nullptr;
  int Paints = 0, Leaves = 0, Updates = 0, AskAgain = 0;
  TPoint PaintOrigin{};
};

// Records fills in device coordinates, clipped to its clip rectangle.
class TRecordingSurface : public render3d::TDrawSurfaceEx {
 public:
  bool IsVisible(const TRect& r) override {
    return !controls::IsRectEmpty(controls::IntersectRects(controls::OffsetRectBy(r, Origin.X, Origin.Y), ClipRect));
  }
  void FillRect(const TRect& r, uint32_t) override {
    Fills.push_back(controls::IntersectRects(controls::OffsetRectBy(r, Origin.X, Origin.Y), ClipRect));
  }
  void DrawText(text::TTextElement*, const TPoint&, const TRect&) override {}
  void DrawImageAt(imaging::TImage*, const TRect&, int32_t, int32_t) override {}
  void DrawImageTransformed(imaging::TImage*, const TRect&, render3d::TSurfaceTransform&) override {}
  std::vector<TRect> Fills;
};

}  // namespace controls_test
