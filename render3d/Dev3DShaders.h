// The draw manager's sixteen pixel shaders, written in GLSL for the device's
// fragment stage (the layer declares vDiffuse, vTex[8], c[32], s0..s7 and
// v0..v7 in front of each). Programs are handed to the renderer as the
// length-prefixed text it takes.
#pragma once

#include <cstdint>
#include <string>

namespace render3d {

enum TPixelShaderId : int32_t {
  psUnsharp,
  psGaussBlurH7,
  psGaussBlurV7,
  psGaussMix,
  psPremul3,
  psPremul4,
  psColorGrading,
  psColorGradeLinear,
  psColorGradePrem,
  psColorGradeLinearPrem,
  psMotionBlur,
  psVideoMask,
  psColorGradeVideo,
  psColorGradeDeinter,
  psColorGradeChromaKey,
  psColorGradeChromaDeinter,
  psShaderCount
};

// "unsharp", "gauss_blur_h7", ...
const char* PixelShaderName(TPixelShaderId id);
// The shader's GLSL text.
const char* PixelShaderSource(TPixelShaderId id);
// The program as the renderer's CreateShader takes it: four bytes of length
// (little-endian), then the text.
std::string PixelShaderProgram(TPixelShaderId id);

// The order the draw manager makes them in.
extern const TPixelShaderId ShaderCreationOrder[psShaderCount];

}  // namespace render3d
