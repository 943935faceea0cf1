// Carrying out player actions: the slide targets of "previous", "next" and
// "go to slide" over the show's time table, and the main form's part of
// every action code, against the narrow interface the main form offers.
#pragma once

#include <cstdint>
#include <string>

#include "imaging/kvImage.h"
#include "player/PlayerAction.h"
#include "player/PlayerDialogUtils.h"
#include "player/QelEngineEvents.h"
#include "showmodel/kvQelSource2.h"

namespace player {

// Milliseconds below which "previous" skips the slide that just came in.
constexpr double kPrevSlideGraceMs = 500;

// The seek target of "previous slide" from position p (0 at the start).
int64_t PrevSlideTarget(const showmodel::TQelSource* source, double p);
// The seek target of "next slide": the next slide's start, just past it
// when it comes in without a transition; paused, its fully-in point. The
// end of a show that does not repeat is its length.
int64_t NextSlideTarget(const showmodel::TQelSource* source, double p, bool paused);
// Where slide i (below 0: the first) starts playing.
int64_t SlideStartTime(const showmodel::TQelSource* source, int32_t i);
// The first slide whose name equals the text exactly, else -1.
int32_t FindSlideByName(const showmodel::TQelSource* source, const std::u16string& name);

// What the main form offers the actions: its viewer, its window and the
// engine's request queue. Main thread only.
class TActionHost {
 public:
  virtual ~TActionHost() = default;
  virtual bool ModalDialogRunning() = 0;
  virtual bool HasViewer() = 0;
  virtual bool HasEngine() = 0;
  // The current show's description; nil without a show.
  virtual showmodel::TQelSource* Source() = 0;
  // The last reported progress position, in milliseconds.
  virtual double Position() = 0;
  virtual bool Paused() = 0;
  virtual void SetPaused(bool paused) = 0;
  // The viewer's asynchronous seek request.
  virtual void Seek(double position) = 0;
  virtual bool AtPauseBarrier() = 0;
  virtual void ClearPauseBarrier() = 0;
  virtual void SetUserExit(bool userExit) = 0;
  virtual void SetExitCode(int32_t code) = 0;
  // Closes the main window with result 1 (the close query decides the rest).
  virtual void CloseMainWindow() = 0;
  virtual void PostEngineRequest(int32_t id) = 0;
  // Resumes playback once the engine has slides for the new position.
  virtual void ResumeWhenReady() = 0;
  // Codes 12 and 14: opening another show (the program's start-up rules).
  virtual bool OpenAnotherShow(const TPlayerAction& action) = 0;
  virtual TDialogOwner* DialogOwner() = 0;
  virtual std::u16string ProgramFolder() = 0;
};

// The main form's part of an action: true when it was carried out. Codes
// 4, 15, 17, 18 and 20 are not the main form's (false), nor is any action
// while a modal dialog runs or without a viewer.
bool ExecutePlayerAction(TActionHost* host, const TPlayerAction& action);
// A key or mouse action from the input mapping: help with an engine becomes
// the engine's help-dialog request; any other action is executed.
bool RouteMappedAction(TActionHost* host, const TPlayerAction& action);
// The text an address action opens: code 8 gets "http://" unless it has a
// web scheme, code 9 "mailto:" unless it has that one (case ignored).
std::u16string AddressForAction(int32_t code, const std::u16string& text);
// Engine event 14: prints the captured image for the current slide, paused
// while it prints.
void PrintSnapshot(TActionHost* host, imaging::TImage* image);

}  // namespace player
