#pragma once
// The fixture show "Project.qel": three slides of 4 s each (a cover-fitted
// photo with a caption, a gradient slide with a bordered photo, a photo that
// fades in), one dissolve in use as the default transition of 1000 ms,
// repeat mode close, main music and a sound comment. Its media are
// generated: solid-colour JPEGs, a PNG, and stand-ins for the audio (the
// timeline never reads them).
#include <string>
#include <vector>

#include "tests/support/ContainerBuilder.h"

namespace testsupport {

// The project text as written by the authoring tool: UTF-8 with BOM, CR LF.
std::string FixtureProjectText();

// The fixture show packed: the project deflated, the photos stored,
// deflated and enciphered.
ContainerBuilder FixtureShowContainer();
// Its entries besides the project, with the methods it packs them with.
std::vector<ContainerEntry> FixtureShowMedia();

// The object-slide variant: two slides of 4 s over a navy main background.
// The first holds a box, an image, a text, a button with a caption (the
// "aqua" skin under "buttons\"), a viewport whose stencil covers the left
// half of its content, and a video object playing a clip of the "Tracks"
// list. The second, a cover-fitted photo, enters through a custom effect
// slide ("Split", kind 12) whose "effect_split" section shows the outgoing
// picture (effect buffer 1) on the left and the incoming (buffer 2) on the
// right, over its own blue background.
std::string FixtureObjectsProjectText();

// A button skin's btn.ini: a 12 x 6 picture cut into its nine parts, the same
// for every state, with the given line ends.
std::string ButtonSkinIni(const std::string& picture, const char* eol);

// The variant packed: the project, the photos, the button skin and the
// clip (its bytes given by the caller) under "video\clip.mp4".
ContainerBuilder FixtureObjectsShowContainer(const std::string& clip);
std::vector<ContainerEntry> FixtureObjectsShowMedia(const std::string& clip);

}  // namespace testsupport
