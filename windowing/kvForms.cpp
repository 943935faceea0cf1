#include "windowing/kvForms.h"

#include "foundation/kpExceptions.h"
#include "platform/os/clock.h"
#include "windowing/kvApplication.h"

namespace windowing {

using foundation::QelAssertFail;

namespace {

TKvForm* g_formHead = nullptr;
int32_t g_formCount = 0;
TFormControllerFactory g_factory = nullptr;
bool g_colorSet = false;
TFormColor g_defaultColor;

}  // namespace

// ---- unit-level ----

void SetFormControllerFactory(TFormControllerFactory factory) {
  if (g_factory) QelAssertFail(std::string_view("kvForms: the form controller factory is already set"));
  g_factory = factory;
}
void ClearFormControllerFactory() { g_factory = nullptr; }

void SetDefaultFormColor(uint8_t r, uint8_t g, uint8_t b) {
  g_defaultColor = TFormColor{b, g, r, 255};
  g_colorSet = true;
}
bool GetDefaultFormColor(TFormColor& color) {
  if (!g_colorSet) {
    color = TFormColor{255, 255, 255, color.A};
    return false;
  }
  color.B = g_defaultColor.B;
  color.G = g_defaultColor.G;
  color.R = g_defaultColor.R;
  return true;
}
void ClearDefaultFormColor() { g_colorSet = false; }

int32_t GetFormCount() { return g_formCount; }
TKvForm* GetFirstForm() { return g_formHead; }
TKvForm* GetNextForm(TKvForm* form) { return form ? form->NextForm() : nullptr; }

TKvForm* FindFormByHandle(uintptr_t handle) {
  for (TKvForm* f = g_formHead; f; f = f->NextForm())
    if (f->Controller()->GetHandle() == handle) return f;
  return nullptr;
}

void ApplyFormUpdates(TKvForm* form, const TFormUpdate* records, int32_t count) {
  if (count < 1) QelAssertFail(std::string_view("kvForms: no form updates"));
  const TFormUpdate& u = records[count - 1];
  bool changed = false;
  switch (u.Kind) {
    case fuActivated:
      if (!form->FActive) {
        TFormController* modal = form->FController->ModalChild();
        if (modal) {
          modal->Activate();
          modal->Flash();
        } else {
          form->FActive = true;
          changed = true;
        }
      }
      break;
    case fuDeactivated:
      if (form->FActive) {
        form->FActive = false;
        changed = true;
      }
      break;
    case fuCaption:
      if (form->FCaption != u.Caption) {
        form->FCaption = u.Caption;
        changed = true;
      }
      break;
    case fuCursor:
      if (form->FCursor != u.Cursor) {
        form->FCursor = u.Cursor;
        changed = true;
      }
      break;
    case fuVisible:
      if (form->FVisible != u.Visible) {
        form->FVisible = u.Visible;
        changed = true;
      }
      break;
    case fuMoved:
      if (form->FBounds.Left != u.X || form->FBounds.Top != u.Y) {
        const int32_t w = form->GetWidth(), h = form->GetHeight();
        form->FBounds = TRect{u.X, u.Y, u.X + w, u.Y + h};
        changed = true;
      }
      break;
    case fuResized:
      if (form->GetWidth() != u.Width || form->GetHeight() != u.Height) {
        form->FBounds.Right = form->FBounds.Left + u.Width;
        form->FBounds.Bottom = form->FBounds.Top + u.Height;
        changed = true;
      }
      break;
    case fuTaskbar:
      if (form->FShowInTaskbar != u.ShowInTaskbar) {
        form->FShowInTaskbar = u.ShowInTaskbar;
        changed = true;
      }
      break;
    case fuStayOnTop:
      if (form->FStayOnTop != u.StayOnTop) {
        form->FStayOnTop = u.StayOnTop;
        changed = true;
      }
      break;
    case fuWindowState:
      if (form->FWindowState != u.WindowState) {
        form->FWindowState = u.WindowState;
        changed = true;
      }
      break;
    case fuBorderStyle:
      if (form->FBorderStyle != u.BorderStyle) {
        form->FBorderStyle = u.BorderStyle;
        changed = true;
      }
      break;
    case fuBorderIcons:
      if (form->FBorderIcons != u.BorderIcons) {
        form->FBorderIcons = u.BorderIcons;
        changed = true;
      }
      break;
    default: QelAssertFail(std::string_view("kvForms: invalid form update kind"));
  }
  if (count > 1) ApplyFormUpdates(form, records, count - 1);
  if (changed) form->Changed(u.Kind);
}

// ---- TKvForm ----

TKvForm::TKvForm(TControllerFactory factory) {
  FChildren = new foundation::TList;
  FEvents = new TEvents(this, 16);
  TFormControllerFactory make = factory ? factory : g_factory;
  if (!make) QelAssertFail(std::string_view("kvForms: no form controller factory"));
  FController = make(this);
  if (!FController) QelAssertFail(std::string_view("kvForms: no form controller"));
  FColor = FController->GetColor();
  FWindowState = 0;
  FBorderStyle = 1;
  FStayOnTop = false;
  FCursor = 0;
  FBorderIcons = 7;
  FAdjustData = new TAdjustBoundsData;
  FNext = g_formHead;
  g_formHead = this;
  ++g_formCount;
}

void TKvForm::Dispose() {
  for (TKvForm** p = &g_formHead; *p; p = &(*p)->FNext) {
    if (*p == this) {
      *p = FNext;
      --g_formCount;
      break;
    }
  }
  FNext = nullptr;
  if (FEvents) FEvents->Fire(feDisposed, nullptr);
  if (FChildren) {
    FChildren->Clear();
    FChildren->Free();
    FChildren = nullptr;
  }
  if (FController) {
    TFormController* c = FController;
    FController = nullptr;
    c->FForm = nullptr;
    c->Free();
  }
  if (FEvents) {
    FEvents->Free();
    FEvents = nullptr;
  }
  for (foundation::TRefObject** d : {reinterpret_cast<foundation::TRefObject**>(&FKeyData),
                                     reinterpret_cast<foundation::TRefObject**>(&FMouseData),
                                     reinterpret_cast<foundation::TRefObject**>(&FWheelData),
                                     reinterpret_cast<foundation::TRefObject**>(&FAdjustData)}) {
    if (*d) {
      (*d)->Free();
      *d = nullptr;
    }
  }
  foundation::TRefObject::Dispose();
}

namespace {
void ApplyOne(TKvForm* form, const TFormUpdate& u) { ApplyFormUpdates(form, &u, 1); }
}  // namespace

void TKvForm::SetCaption(const std::u16string& caption) {
  if (FController->SetCaption(caption)) return;
  TFormUpdate u;
  u.Kind = fuCaption;
  u.Caption = caption;
  ApplyOne(this, u);
}

void TKvForm::SetCursor(int32_t cursor) {
  if (FController->SetCursor(cursor)) return;
  TFormUpdate u;
  u.Kind = fuCursor;
  u.Cursor = cursor;
  ApplyOne(this, u);
}

void TKvForm::SetVisible(bool visible) {
  FNoActivate = false;
  if (FController->SetVisible(visible)) return;
  TFormUpdate u;
  u.Kind = fuVisible;
  u.Visible = visible;
  ApplyOne(this, u);
}

void TKvForm::SetShowInTaskbar(bool show) {
  if (FController->SetShowInTaskbar(show)) return;
  TFormUpdate u;
  u.Kind = fuTaskbar;
  u.ShowInTaskbar = show;
  ApplyOne(this, u);
}

void TKvForm::SetWindowState(int32_t state) {
  if (FController->SetWindowState(state)) return;
  TFormUpdate u;
  u.Kind = fuWindowState;
  u.WindowState = state;
  ApplyOne(this, u);
}

void TKvForm::SetBorderStyle(int32_t style) {
  if (FController->SetBorderStyle(style)) return;
  TFormUpdate u;
  u.Kind = fuBorderStyle;
  u.BorderStyle = style;
  ApplyOne(this, u);
}

void TKvForm::SetBorderIcons(int32_t icons) {
  if (FController->SetBorderIcons(icons)) return;
  TFormUpdate u;
  u.Kind = fuBorderIcons;
  u.BorderIcons = icons;
  ApplyOne(this, u);
}

void TKvForm::SetBoundsRect(const TRect& rect) {
  if (FController->SetBounds(rect)) return;
  TRect r = rect;
  AdjustBounds(r);
  TFormUpdate u[2];
  u[0].Kind = fuResized;
  u[0].Width = r.Right - r.Left;
  u[0].Height = r.Bottom - r.Top;
  u[1].Kind = fuMoved;
  u[1].X = r.Left;
  u[1].Y = r.Top;
  ApplyFormUpdates(this, u, 2);
}

bool TKvForm::IsActive() { return FController->IsActive(); }
bool TKvForm::HasCapture() { return FController->HasCapture(); }
TRect TKvForm::GetClientRect() { return FController->GetClientRect(); }
TPoint TKvForm::ClientToScreen(TPoint pt) { return FController->ClientToScreen(pt); }
TPoint TKvForm::ScreenToClient(TPoint pt) { return FController->ScreenToClient(pt); }
bool TKvForm::ContainsScreenPoint(int32_t x, int32_t y) { return FController->ContainsScreenPoint(TPoint{x, y}); }
TPoint TKvForm::GetClientSize() {
  const TRect r = GetClientRect();
  return TPoint{r.Right - r.Left, r.Bottom - r.Top};
}
void TKvForm::Activate() { FController->Activate(); }
void TKvForm::Close() {
  if (FController->ModalChild()) return;
  FController->Close();
}

void TKvForm::ShowModal(TKvForm* owner) {
  if (FVisible) return;
  FNoActivate = false;
  FController->ShowModal(owner ? owner->FController : nullptr);
}

void TKvForm::ShowNoActivate(TKvForm* owner) {
  if (FVisible) return;
  FController->ShowNoActivate(owner ? owner->FController : nullptr);
  FNoActivate = true;
}

void TKvForm::Changed(int32_t kind) {
  static constexpr int32_t kEventOfKind[14] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
  if (kind >= 0 && kind < 14) FEvents->Fire(kEventOfKind[kind], nullptr);
  if (kind == fuResized) Resized();
}

void TKvForm::AdjustBounds(TRect& rect) {
  FAdjustData->Rect = rect;
  FEvents->Fire(feAdjustBounds, FAdjustData);
  rect = FAdjustData->Rect;
}

void TKvForm::KeyEvent(uint32_t shift, uint16_t& key, int32_t kind) {
  if (!FKeyData) FKeyData = new TKeybordData;
  FKeyData->Shift = shift;
  FKeyData->Key = key;
  FKeyData->Kind = kind;
  FEvents->Fire(feKey, FKeyData);
  key = FKeyData->Key;
}

void TKvForm::MouseEvent(int32_t shift, int32_t x, int32_t y, int32_t button, int32_t kind) {
  if (!FMouseData) FMouseData = new TMouseData;
  FMouseData->Shift = shift;
  FMouseData->X = x;
  FMouseData->Y = y;
  FMouseData->Button = button;
  FMouseData->Kind = kind;
  FEvents->Fire(feMouse, FMouseData);
}

void TKvForm::MouseWheel(int32_t shift, int32_t x, int32_t y, int32_t) {
  if (!FWheelData) FWheelData = new TMouseWheelData;
  FWheelData->Shift = shift;
  FWheelData->X = x;
  FWheelData->Y = y;
  FEvents->Fire(feWheel, FWheelData);
}

// ---- TFormController ----

void TFormController::Attach(TKvForm* form) {
  if (!form) QelAssertFail(std::string_view("kvForms: a controller needs a form"));
  FForm = form;
  form->FController = this;
  form->FBounds = GetDefaultBounds();
}

bool TFormController::ContainsScreenPoint(TPoint pt) {
  const TPoint c = ScreenToClient(pt);
  const TRect r = GetClientRect();
  return c.X >= 0 && c.Y >= 0 && c.X < r.Right - r.Left && c.Y < r.Bottom - r.Top;
}

bool TFormController::IsActive() { return FForm && FForm->FActive; }

TFormColor TFormController::GetColor() {
  TFormColor c;
  GetDefaultFormColor(c);
  c.A = 255;
  return c;
}

void TFormController::ShowNoActivate(TFormController*) {
  if (FForm) FForm->SetVisible(true);
}

void TFormController::ShowModal(TFormController* owner) {
  if (owner && owner->FModalChild) return;
  if (owner) owner->FModalChild = this;
  struct Restore {
    TFormController* owner;
    ~Restore() {
      if (!owner) return;
      owner->FModalChild = nullptr;
      if (owner->FForm) owner->FForm->Activate();
    }
  } restore{owner};
  FForm->SetVisible(true);
  while (FForm && FForm->Visible() && Application && !Application->IsQuitting()) {
    Application->ProcessMessages();
    platform::os::sleepMs(1);
  }
}

void TFormController::NotifyChanged(int32_t kind) {
  if (FForm) FForm->Changed(kind);
}
void TFormController::NotifyPaint(const TRect& rect) {
  if (FForm) FForm->Paint(rect);
}
void TFormController::ApplyUpdates(const TFormUpdate* records, int32_t count) {
  if (FForm) ApplyFormUpdates(FForm, records, count);
}
int32_t TFormController::QueryCloseAction() {
  if (FModalChild) return 0;
  int32_t action = 0;
  if (FForm) FForm->GetCloseAction(action);
  return action;
}

}  // namespace windowing
