// Services of the player that reach outside the show: running the programs,
// documents and addresses that show actions name (refusing dangerous
// commands), printing a slide, and the password gate before a show plays.
//
// The shell, the system message box and the input box are reached through
// three hooks (below). They are set at start-up, before any show plays, and
// read on the main thread only; until the program sets them they answer
// "not available".
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/SysObj.h"
#include "foundation/kvIni.h"
#include "imaging/kvImage.h"

namespace container {
class TQelShowLocator;
}

namespace player {

// What the utilities need of the form that runs them: its window, if any.
class TDialogOwner : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TDialogOwner)
  virtual bool HasWindow() = 0;
  // Draws the window's caption as inactive (a program is about to take the focus).
  virtual void DrawCaptionInactive() = 0;
  virtual bool IsTopmost() = 0;
  // Changes the topmost state without activating the window.
  virtual void SetTopmost(bool topmost) = 0;
};

// Show commands and shell results.
enum : int32_t { swShowNormal = 1, swShow = 5 };
enum : int32_t { seFileNotFound = 2, sePathNotFound = 3, seNoAssociation = 31 };
// Message-box types and answers.
enum : uint32_t { mbOk = 0 };
enum : int32_t { idOk = 1, idCancel = 2 };

// Opens a program, document or address with a verb (empty: the default);
// answers above 32 for success, 2 file not found, 3 path not found.
using TShellOpener = std::function<int32_t(const std::u16string& verb, const std::u16string& file,
                                           const std::u16string& parameters, const std::u16string& folder,
                                           int32_t showCommand)>;
// The system message box owned by the form's window; answers the button.
using TSystemMessageBox = std::function<int32_t(TDialogOwner* owner, const std::u16string& text,
                                                const std::u16string& caption, uint32_t type)>;

struct TInputBoxRequest {
  std::u16string Caption, Label, OkCaption, CancelCaption, Text;
  bool Password = false;
};
// The input box: true for OK with the typed text, false for Cancel.
using TInputBoxHook = std::function<bool(TDialogOwner* owner, const TInputBoxRequest& request, std::u16string& text)>;

// Each setter answers the previous hook; an empty function restores the
// default. Defaults: the opener opens nothing and answers 31 (no
// association); the message box writes caption and text to stderr and
// answers OK; the input box answers Cancel.
TShellOpener SetShellOpener(TShellOpener opener);
TSystemMessageBox SetSystemMessageBox(TSystemMessageBox box);
TInputBoxHook SetInputBoxHook(TInputBoxHook hook);

// The message shown for a refused command text.
extern const char16_t* const kProhibitedCommandText;

// An action text cut into commands at commas outside double quotes, each
// trimmed of blanks; a text without a comma is one command as it stands.
std::vector<std::u16string> SplitCommands(const std::u16string& text);
// The first word of a command, lower case, without path, extension and the
// characters "@", '"' and "|"; ">" for any command that contains ">".
std::u16string NormaliseCommandWord(const std::u16string& command);
bool IsAllowedCommand(const std::u16string& command);
// A command cut into its file and its parameters.
void SplitFileAndParams(const std::u16string& command, std::u16string& file, std::u16string& parameters);

// The shell's answer for opening file; a topmost window steps back while
// the opened program starts, and comes to the top again only on failure.
int32_t ShellRun(TDialogOwner* owner, const std::u16string& verb, const std::u16string& file,
                 const std::u16string& parameters, const std::u16string& folder, int32_t showCommand);
// Runs every command of an action text (programs and documents). When any
// command is refused, shows the prohibited-command message and runs nothing.
void RunCommandLine(TDialogOwner* owner, const std::u16string& text, const std::u16string& defaultFolder);
// Opens one web or mail address whole: an address is one document, so it is
// neither cut at commas nor tested as a command. Answers the shell's result.
int32_t OpenAddress(TDialogOwner* owner, const std::u16string& address);
int32_t PrintFile(const std::u16string& path);
// Writes the image's bitmap as a BMP file into the print folder (made on
// first use, kept for the process) and prints it. False when nothing was
// printed.
bool PrintSlide(TDialogOwner* owner, imaging::TImage* image, int32_t slideIndex);

// True when access is refused: without a project, on Cancel, or when the
// typed text differs from the show's password. A show that asks for a
// password without giving one refuses every text.
bool PasswordPrompt(TDialogOwner* owner, const foundation::TIniFile* projectIni);
// True when the show may play.
bool AccessGate(TDialogOwner* owner, container::TQelShowLocator* locator);
bool AccessGateForProject(TDialogOwner* owner, const foundation::TIniFile* projectIni);

}  // namespace player
