// Converts blocks of PCM between rates, channel layouts and sample sizes with
// three-point Lagrange interpolation on 16-bit values, carrying its state
// (the last two input frames, the output position and any bytes of a frame
// that a block cut in two) from block to block, so a stream cut into blocks
// sounds as if converted in one piece.
#pragma once

#include <cstdint>

#include "audio/MusicTypes.h"
#include "foundation/SysObj.h"

namespace audio {

class TPcmResampler : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TPcmResampler)

  // Input it reads: 1, 2 or 6 channels of 8-bit unsigned, 16-, 24- or
  // 32-bit signed PCM (tag 1) or 32-bit float (tag 3). A 32-bit integer
  // sample is read by its upper 16 bits like a 24-bit one.
  static bool CanRead(const TWaveFormatEx& format);
  // Output it writes: 1 or 2 channels of 8-bit unsigned or 16-bit PCM.
  static bool CanWrite(const TWaveFormatEx& format);

  // Stores both formats and inBytes; answers the bytes converting them will
  // produce (also OutBytes), stepping as Convert does without changing the
  // state. Bytes of a frame left over from the previous block count first.
  uint32_t OutputSize(const TWaveFormatEx& inFormat, const TWaveFormatEx& outFormat, uint32_t inBytes);
  // Converts InBytes bytes into OutBytes bytes; must follow OutputSize for
  // the same block.
  void Convert(const uint8_t* input, uint8_t* output);

  uint32_t InRate = 0, InChannels = 0, InBits = 0, InBytes = 0;
  uint16_t InTag = 0;
  uint32_t OutRate = 0, OutChannels = 0, OutBits = 0, OutBytes = 0;
  double LastL = 0, PrevL = 0, LastR = 0, PrevR = 0;
  // The position of the next output frame in input frames, relative to the
  // start of the next block. Kept exactly as a count of 1/OutRate steps, so
  // cutting the input into blocks never moves an output frame.
  double Position = 0;

  // Bytes of an input frame not completed by the last block.
  uint32_t PendingBytes() const { return FPending; }

 private:
  uint32_t FrameBytes() const { return InChannels * (InBits / 8); }
  void ReadFrame(const uint8_t* frame, double& l, double& r) const;
  void SyncStep();

  int64_t FPositionNum = 0;  // Position x OutRate
  uint32_t FStepRate = 0;    // the OutRate FPositionNum counts in
  uint8_t FPendingData[32] = {};
  uint32_t FPending = 0;
};

}  // namespace audio
