// Registers the video library's FFmpeg audio decoder as the binding the
// detection fallback and the FFmpeg converter go through.
#pragma once

namespace audio {

void RegisterVideoFFMpegAudio();

}  // namespace audio
