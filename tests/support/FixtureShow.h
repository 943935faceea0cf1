#pragma once
// The fixture show "Project.qel": three slides of 4 s each (a cover-fitted
// photo with a caption, a gradient slide with a bordered photo, a photo that
// fades in), one dissolve in use as the default transition of 1000 ms,
// repeat mode close, main music and a sound comment. Its media are
// generated: solid-colour JPEGs, a PNG, and stand-ins for the audio (the
// timeline never reads them).
#include <string>

#include "tests/support/ContainerBuilder.h"

namespace testsupport {

// The project text as written by the authoring tool: UTF-8 with BOM, CR LF.
std::string FixtureProjectText();

// The fixture show packed: the project deflated, the photos stored,
// deflated and enciphered.
ContainerBuilder FixtureShowContainer();

}  // namespace testsupport
