// Recording stand-ins for the shell, the system message box and the input
// box, installed for one test and removed at its end.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "player/PlayerDialogUtils.h"

namespace playertest {

struct OpenCall {
  std::u16string verb, file, parameters, folder;
  int32_t show = 0;
  bool operator==(const OpenCall&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const OpenCall& c) {
  auto n = [](const std::u16string& s) {
    std::string r;
    for (char16_t ch : s) r.push_back(ch < 128 ? char(ch) : '?');
    return r;
  };
  return os << "{" << n(c.verb) << " | " << n(c.file) << " | " << n(c.parameters) << " | " << n(c.folder) << " | "
            << c.show << "}";
}

struct BoxCall {
  player::TDialogOwner* owner;
  std::u16string text, caption;
  uint32_t type;
};

class ShellFakes {
 public:
  ShellFakes() {
    prevOpener_ = player::SetShellOpener([this](const std::u16string& verb, const std::u16string& file,
                                                const std::u16string& params, const std::u16string& folder,
                                                int32_t show) {
      opens.push_back({verb, file, params, folder, show});
      if (results.empty()) return 33;
      const int32_t r = results.front();
      results.pop_front();
      return r;
    });
    prevBox_ = player::SetSystemMessageBox(
        [this](player::TDialogOwner* owner, const std::u16string& text, const std::u16string& caption, uint32_t type) {
          boxes.push_back({owner, text, caption, type});
          return player::idOk;
        });
    prevInput_ = player::SetInputBoxHook(
        [this](player::TDialogOwner*, const player::TInputBoxRequest& request, std::u16string& text) {
          requests.push_back(request);
          text = typed;
          return inputAnswer;
        });
  }
  ~ShellFakes() {
    player::SetShellOpener(prevOpener_);
    player::SetSystemMessageBox(prevBox_);
    player::SetInputBoxHook(prevInput_);
  }

  std::vector<OpenCall> opens;
  std::deque<int32_t> results;  // scripted answers of the opener, then 33
  std::vector<BoxCall> boxes;
  std::vector<player::TInputBoxRequest> requests;
  bool inputAnswer = true;
  std::u16string typed;

 private:
  player::TShellOpener prevOpener_;
  player::TSystemMessageBox prevBox_;
  player::TInputBoxHook prevInput_;
};

// A window that records what the utilities do with it.
class FakeOwner : public player::TDialogOwner {
 public:
  bool HasWindow() override { return window; }
  void DrawCaptionInactive() override { log.push_back("inactive"); }
  bool IsTopmost() override { return topmost; }
  void SetTopmost(bool t) override {
    topmost = t;
    log.push_back(t ? "topmost" : "not topmost");
  }
  bool window = true;
  bool topmost = false;
  std::vector<std::string> log;
};

}  // namespace playertest
