// Reproducible random numbers for the transitions: a linear congruential
// generator seeded from the effect's parameters, never from the clock, so a
// show looks the same every time it plays.
#pragma once

#include <cstdint>

#include "foundation/SysObj.h"

namespace transitions {

// The unit-level stream the filters use (rendering thread only).
extern uint32_t GlobalSeed;
void SetGlobalSeed(int32_t seed);
uint32_t NextGlobalRandom();
float NextGlobalFloat();

// The low 23 bits as the mantissa of a number in [1, 2), minus 1.
float RawToUnitFloat(uint32_t raw);

class TRandomGenerator : public foundation::TRefObject {
 public:
  virtual uint32_t RandomInt(int32_t range);
  // NextRaw and NextFloat are defined through each other; a subclass
  // overrides at least one of them.
  virtual uint32_t NextRaw();
  virtual float NextFloat();
  virtual void Randomize();
  virtual void SetSeed(int32_t seed) = 0;
};

class TKhnutLewisRandom : public TRandomGenerator {
 public:
  QEL_CLASSNAME(TKhnutLewisRandom)
  uint32_t NextRaw() override;
  void SetSeed(int32_t seed) override { Seed = uint32_t(seed); }
  uint32_t Seed = 0;
};

TRandomGenerator* CreateRandomGenerator(bool randomize);

using TRandomGeneratorFactory = TRandomGenerator* (*)(bool randomize);
// Start-up only: set before any thread runs, then read without a lock.
extern TRandomGeneratorFactory RandomGeneratorFactory;

// Start-up of the unit: sets the factory hook. Called by the program's
// initialisation sequence.
void InitRandom();

}  // namespace transitions
