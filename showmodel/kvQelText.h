// The parts of slide texts that do not depend on rendering: the scale a
// text is rasterised at (the largest on-screen size it reaches) and what the
// text macros of an object's slide expand to.
#pragma once

#include <cstdint>

#include "showmodel/kvMTParser.h"
#include "showmodel/kvQelObject.h"

namespace showmodel {

// The largest absolute Scale X or Scale Y among the key frames that animate
// the Scale group; the group's default (100) when none does, so a text whose
// key frames never scale it is rasterised at the size it is shown at.
double MaxKeyFrameScale(TQelObjectProps* Props);

// The raster scale of a text of TextWidth x TextHeight pixels at scale 1
// whose largest scale is MaxScale percent of a parent at most
// ParentScreenHeight pixels high on screen. A scale that is not finite and
// positive counts as 1. Halved while the raster would exceed 30000 pixels a
// side or 10,000,000 pixels in all; the halving is bounded, so sizes that
// are not finite end too.
double TextRasterScale(double MaxScale, double ParentScreenHeight, double TextWidth, double TextHeight);
double LimitRasterScale(double Scale, double TextWidth, double TextHeight);

// The macro values of a text object's slide: its index and the show's slide
// count, and the slide's main picture (through the main-image hook).
TMacroContext MakeMacroContext(TQelObject* Object);

}  // namespace showmodel
