// The plain interface between the player and an audio decoder plug-in
// library. A plug-in exports the five entries below by these names (and the
// WMA plug-in optionally "isFileProtected"); the stream is the player's
// stream object as an opaque pointer, read through the callback table.
#pragma once

#include <cstdint>

#include "audio/MusicTypes.h"

namespace audio {

// Appends count PCM bytes to the buffer given as user data; answers the
// buffer's new length.
using TDllWriteCallback = int32_t (*)(void* user, const void* data, uint32_t count);

extern "C" {
// Non-zero when the plug-in recognises the stream; it then writes the
// WAVEFORMATEX (and extra bytes up to the record's end) at format, which
// points at offset 40 of a zeroed TMediaInfo.
using TDllGetMediaInfo = uint8_t (*)(void* stream, const TStreamCallbacks* callbacks, int32_t* duration,
                                     int32_t* dataOffset, void* format);
using TDllCreateDecoder = void* (*)(void* stream, const TStreamCallbacks* callbacks, uint32_t flags, void* user,
                                    TDllWriteCallback write);
using TDllDestroyDecoder = void (*)(void* handle);
// Delivers the next portion through the write callback, during the call, as
// 16-bit PCM in the channel count and rate of the media info.
using TDllDecode = int32_t (*)(void* handle);
// Seeks; may change the value to the position reached.
using TDllSetPosition = int32_t (*)(void* handle, uint32_t* ms);
using TDllIsFileProtected = int32_t (*)(void* stream, const TStreamCallbacks* callbacks);
}

}  // namespace audio
