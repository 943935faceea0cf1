#include "player/PlayerDialogUtils.h"

#include <cstdio>
#include <mutex>
#include <utility>

#include "container/kvQelLoader2.h"
#include "foundation/kpLog.h"
#include "foundation/kpTypes.h"
#include "foundation/kvFileUtils.h"
#include "foundation/kvTempFolders.h"
#include "player/BmpWriter.h"

namespace player {

const char16_t* const kProhibitedCommandText = u"Command line contains prohibited command and will not be performed.";

namespace {

// The hooks: set at start-up (and by tests), read on the main thread.
TShellOpener gOpener;
TSystemMessageBox gMessageBox;
TInputBoxHook gInputBox;

std::string Narrow(const std::u16string& s) {
  std::string r;
  for (char16_t c : s) r.push_back(c < 128 ? char(c) : '?');
  return r;
}

int32_t CallOpener(const std::u16string& verb, const std::u16string& file, const std::u16string& parameters,
                   const std::u16string& folder, int32_t show) {
  if (gOpener) return gOpener(verb, file, parameters, folder, show);
  foundation::GetLog()->Add(u"Shell: no opener to open " + file);
  return seNoAssociation;
}

int32_t CallMessageBox(TDialogOwner* owner, const std::u16string& text, const std::u16string& caption,
                       uint32_t type) {
  if (gMessageBox) return gMessageBox(owner, text, caption, type);
  std::fprintf(stderr, "%s%s%s\n", Narrow(caption).c_str(), caption.empty() ? "" : ": ", Narrow(text).c_str());
  return idOk;
}

bool IsBlankOrTab(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string TrimBlanks(const std::u16string& s) {
  size_t a = 0, b = s.size();
  while (a < b && s[a] == u' ') ++a;
  while (b > a && s[b - 1] == u' ') --b;
  return s.substr(a, b - a);
}

bool NotFound(int32_t r) { return r == seFileNotFound || r == sePathNotFound; }

// One enclosing pair of double quotes removed, for texts longer than 5
// characters that begin or end with one.
std::u16string StripQuotes(std::u16string s) {
  if (s.size() <= 5 || (s.front() != u'"' && s.back() != u'"')) return s;
  if (s.back() == u'"') s.pop_back();
  if (!s.empty() && s.front() == u'"') s.erase(0, 1);
  return s;
}

const char16_t* const kDeniedWords[] = {
    u">",       u"at",      u"attrib", u"call",    u"cmd",     u"command", u"copy",     u"del",
    u"deltree", u"erase",   u"for",    u"format",  u"fdisk",   u"runonce", u"move",     u"net",
    u"runas",   u"net1",    u"ren",    u"rename",  u"replace", u"rmdir",   u"rd",       u"recover",
    u"regedit", u"rundll",  u"qstart", u"start",   u"sys",     u"type",    u"xcopy",    u"regsrv",
    u"regedt32", u"regsvr32", u"rcp",  u"ftp",     u"tftp"};

// The print folder, made on first use and kept for the process.
std::mutex gPrintFolderLock;  // guards gPrintFolder
std::u16string gPrintFolder;

}  // namespace

TShellOpener SetShellOpener(TShellOpener opener) { return std::exchange(gOpener, std::move(opener)); }
TSystemMessageBox SetSystemMessageBox(TSystemMessageBox box) { return std::exchange(gMessageBox, std::move(box)); }
TInputBoxHook SetInputBoxHook(TInputBoxHook hook) { return std::exchange(gInputBox, std::move(hook)); }

std::vector<std::u16string> SplitCommands(const std::u16string& text) {
  if (text.find(u',') == std::u16string::npos) return {text};
  std::vector<std::u16string> commands;
  const std::u16string all = text + u",";
  std::u16string piece;
  bool quoted = false;
  for (char16_t c : all) {
    if (c == u'"') quoted = !quoted;
    if (c == u',' && !quoted) {
      commands.push_back(TrimBlanks(piece));
      piece.clear();
    } else {
      piece.push_back(c);
    }
  }
  // A comma inside an unclosed quote leaves the rest as one last command.
  if (!piece.empty()) commands.push_back(TrimBlanks(piece.substr(0, piece.size() - 1)));
  return commands;
}

std::u16string NormaliseCommandWord(const std::u16string& command) {
  if (command.find(u'>') != std::u16string::npos) return u">";
  std::u16string s;
  bool quoted = false;
  for (char16_t c : command) {
    if (c == u'"') quoted = !quoted;
    if (quoted && IsBlankOrTab(c)) c = u'_';
    if (c == u'@' || c == u'"' || c == u'|') continue;
    s.push_back(c);
  }
  size_t a = 0;
  while (a < s.size() && IsBlankOrTab(s[a])) ++a;
  size_t b = a;
  while (b < s.size() && !IsBlankOrTab(s[b])) ++b;
  std::u16string word = s.substr(a, b - a);
  for (char16_t& c : word)
    if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
  if (word.empty()) return word;
  size_t p = word.rfind(u'\\');
  if (p != std::u16string::npos) word.erase(0, p + 1);
  p = word.rfind(u'/');
  if (p != std::u16string::npos) word.erase(0, p + 1);
  p = word.find(u'.');
  if (p != std::u16string::npos) word.erase(p);
  return word;
}

bool IsAllowedCommand(const std::u16string& command) {
  const std::u16string word = NormaliseCommandWord(command);
  for (const char16_t* denied : kDeniedWords)
    if (word == denied) return false;
  return true;
}

void SplitFileAndParams(const std::u16string& command, std::u16string& file, std::u16string& parameters) {
  file.clear();
  parameters.clear();
  const bool beginsQuoted = !command.empty() && command[0] == u'"';
  bool split = false, hadQuotes = false;
  for (size_t i = 0; i < command.size(); ++i) {
    const char16_t c = command[i];
    if (!split) {
      if (c == u'"') {
        if (i > 0) split = true;
      } else if (c == u' ' && !beginsQuoted) {
        split = true;
      } else {
        file.push_back(c);
      }
    } else if (c == u'"') {
      hadQuotes = true;
    } else {
      parameters.push_back(c);
    }
  }
  file = TrimBlanks(file);
  parameters = TrimBlanks(parameters);
  if (beginsQuoted) file = u"\"" + file + u"\"";
  if (hadQuotes) parameters = u"\"" + parameters + u"\"";
}

int32_t ShellRun(TDialogOwner* owner, const std::u16string& verb, const std::u16string& file,
                 const std::u16string& parameters, const std::u16string& folder, int32_t showCommand) {
  const bool topmost = owner && owner->HasWindow() && owner->IsTopmost();
  if (topmost) owner->SetTopmost(false);
  const int32_t r = CallOpener(verb, file, parameters, folder, showCommand);
  if (topmost && r <= 32) owner->SetTopmost(true);
  return r;
}

void RunCommandLine(TDialogOwner* owner, const std::u16string& text, const std::u16string& defaultFolder) {
  const std::vector<std::u16string> commands = SplitCommands(text);
  for (const std::u16string& command : commands)
    if (!IsAllowedCommand(command)) {
      CallMessageBox(owner, kProhibitedCommandText, u"", mbOk);
      return;
    }
  if (owner && owner->HasWindow()) owner->DrawCaptionInactive();
  for (const std::u16string& command : commands) {
    std::u16string file, parameters;
    SplitFileAndParams(command, file, parameters);
    if (file.empty()) continue;
    int32_t r = ShellRun(owner, u"", file, parameters, u"", swShow);
    if (!parameters.empty()) {
      if (NotFound(r)) ShellRun(owner, u"", StripQuotes(file), StripQuotes(parameters), u"", swShow);
      continue;
    }
    if (!NotFound(r)) continue;
    const std::u16string bare = StripQuotes(file);
    // A path that ends in a folder separator has no name to look for there.
    const std::u16string name = foundation::ExtractFileName(bare);
    if (!name.empty()) {
      r = ShellRun(owner, u"", name, u"", defaultFolder, swShow);
      if (!NotFound(r)) continue;
    }
    std::u16string folder = defaultFolder;
    if (folder.size() > 3 && folder.back() == u'\\') folder.pop_back();
    ShellRun(owner, u"", folder + u"\\" + bare, u"", u"", swShow);
  }
}

int32_t OpenAddress(TDialogOwner* owner, const std::u16string& address) {
  if (owner && owner->HasWindow()) owner->DrawCaptionInactive();
  return ShellRun(owner, u"", address, u"", u"", swShow);
}

int32_t PrintFile(const std::u16string& path) { return CallOpener(u"print", path, u"", u"", swShowNormal); }

bool PrintSlide(TDialogOwner* owner, imaging::TImage* image, int32_t slideIndex) {
  if (!image) return false;
  std::u16string folder;
  {
    std::lock_guard<std::mutex> guard(gPrintFolderLock);
    if (gPrintFolder.empty()) gPrintFolder = foundation::CreateTempFolder(true);
    folder = gPrintFolder;
  }
  if (folder.empty()) return false;
  foundation::TGUID guid;
  foundation::CreateGUID(guid);
  const std::u16string name = folder + foundation::GUIDToString(guid) + u".bmp";
  if (!SaveBitmapToBMPFile(image->GetBitmap(), name)) return false;
  return PrintFile(name) > 32;
}

bool PasswordPrompt(TDialogOwner* owner, const foundation::TIniFile* projectIni) {
  if (!projectIni) return true;
  if (!foundation::IniReadBool(projectIni, u"Main", u"opt_usepass", false)) return false;
  TInputBoxRequest request;
  request.Password = true;
  request.Caption = foundation::IniReadString(projectIni, u"Main", u"opt_lng_password_caption", u"Password required");
  request.Label = foundation::IniReadString(projectIni, u"Main", u"opt_lng_password_label", u"Enter password:");
  request.OkCaption = foundation::IniReadString(projectIni, u"Main", u"opt_lng_button_ok", u"OK");
  request.CancelCaption = foundation::IniReadString(projectIni, u"Main", u"opt_lng_button_cancel", u"Cancel");
  std::u16string typed;
  if (!gInputBox || !gInputBox(owner, request, typed)) return true;
  const foundation::TIniItem* pass =
      foundation::TIniList::FindKey(foundation::TIniFile::FindSection(projectIni, u"Main"), u"opt_pass");
  if (!pass) {
    // No password to compare with: nothing typed can open the show.
    foundation::GetLog()->Add(u"Password required but the show gives none: access refused");
    return true;
  }
  return typed != foundation::TIniItem::GetValue(pass);
}

bool AccessGateForProject(TDialogOwner* owner, const foundation::TIniFile* projectIni) {
  return projectIni && !PasswordPrompt(owner, projectIni);
}

bool AccessGate(TDialogOwner* owner, container::TQelShowLocator* locator) {
  return locator && AccessGateForProject(owner, locator->ProjectIni);
}

}  // namespace player
