#include "transitions/kvRandom.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>
#include <random>

namespace transitions {

uint32_t GlobalSeed = 0;
TRandomGeneratorFactory RandomGeneratorFactory = nullptr;

namespace {
constexpr uint32_t kMultiplier = 1664525u;
constexpr uint32_t kIncrement = 1013904223u;
}  // namespace

void SetGlobalSeed(int32_t seed) { GlobalSeed = uint32_t(seed); }

uint32_t NextGlobalRandom() {
  GlobalSeed = GlobalSeed * kMultiplier + kIncrement;
  return GlobalSeed;
}

float RawToUnitFloat(uint32_t raw) {
  const uint32_t bits = (raw & 0x007FFFFFu) | 0x3F800000u;  // sign and exponent of 1.0
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f - 1.0f;
}

float NextGlobalFloat() { return RawToUnitFloat(NextGlobalRandom()); }

uint32_t TRandomGenerator::RandomInt(int32_t range) {
  if (range <= 0) return 0;
  return NextRaw() % uint32_t(range);
}

uint32_t TRandomGenerator::NextRaw() {
  const float scaled = NextFloat() * 4294967296.0f;
  return uint32_t(std::nearbyint(double(scaled)));
}

float TRandomGenerator::NextFloat() { return RawToUnitFloat(NextRaw()); }

void TRandomGenerator::Randomize() {
  // The process's standard source, seeded once from the millisecond tick.
  static std::mutex lock;
  static bool seeded = false;
  static std::minstd_rand source;
  int32_t r1, r2;
  {
    std::lock_guard<std::mutex> guard(lock);
    if (!seeded) {
      const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count();
      source.seed(uint32_t(ms));
      seeded = true;
    }
    std::uniform_int_distribution<int32_t> below(0, 2147483646);
    r1 = below(source);
    r2 = below(source);
  }
  SetSeed(int32_t((uint32_t(r1) << 1) ^ uint32_t(r2)));
}

uint32_t TKhnutLewisRandom::NextRaw() {
  Seed = Seed * kMultiplier + kIncrement;
  return Seed;
}

TRandomGenerator* CreateRandomGenerator(bool randomize) {
  auto* g = new TKhnutLewisRandom();
  if (randomize) g->Randomize();
  return g;
}

void InitRandom() { RandomGeneratorFactory = CreateRandomGenerator; }

}  // namespace transitions
