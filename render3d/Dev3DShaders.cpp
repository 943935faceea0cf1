#include "render3d/Dev3DShaders.h"

#include <cstring>

namespace render3d {

namespace {

// Helpers shared by several programs. Division by alpha answers 0 where
// alpha is 0 (the result is multiplied by that alpha afterwards anyway).
#define QEL_SHADER_COMMON                                                     \
  "vec3 unprem(vec4 c) { return c.a > 0.0 ? c.rgb / c.a : vec3(0.0); }\n"   \
  "vec3 grade3(vec3 rgb) {\n"                                               \
  "  vec3 q = rgb * 0.96875 + 0.015625;\n"                                  \
  "  vec3 a = texture(v1, q).rgb; vec3 b = texture(v2, q).rgb;\n"           \
  "  return a + (b - a) * c[0].x;\n"                                        \
  "}\n"                                                                     \
  "vec3 gradeLinear(vec3 rgb) {\n"                                          \
  "  vec3 q = rgb * 0.99609375 + 0.001953125;\n"                            \
  "  vec3 a = vec3(texture(s1, q.rr).r, texture(s1, q.gg).g, texture(s1, q.bb).b);\n" \
  "  vec3 b = vec3(texture(s2, q.rr).r, texture(s2, q.gg).g, texture(s2, q.bb).b);\n" \
  "  return a + (b - a) * c[0].x;\n"                                        \
  "}\n"

#define QEL_SHADER_VIDEO                                                      \
  "vec3 gradeVideo(float Y, float U, float V) {\n"                          \
  "  vec3 q = vec3(V, U, Y) * 0.96875 + 0.015625;\n"                        \
  "  vec3 a = texture(v3, q).rgb; vec3 b = texture(v4, q).rgb;\n"           \
  "  return a + (b - a) * c[0].x;\n"                                        \
  "}\n"                                                                     \
  "float lumaDeinter() {\n"                                                 \
  "  float H = c[1].x, invH = c[1].y;\n"                                    \
  "  float p = vTex[0].y * H + c[2].y;\n"                                   \
  "  float k = floor(p / 2.0);\n"                                           \
  "  float r0 = 2.0 * k + c[2].x + 0.5;\n"                                  \
  "  float y0 = texture(s0, vec2(vTex[0].x, r0 * invH)).r;\n"               \
  "  float y1 = texture(s0, vec2(vTex[0].x, (r0 + 2.0) * invH)).r;\n"       \
  "  return y0 + (y1 - y0) * (p - 2.0 * k - 0.5) / 2.0;\n"                  \
  "}\n"                                                                     \
  "float keyAlpha(float U, float V) {\n"                                    \
  "  float d = (abs(U - c[4].x) + abs(V - c[4].y)) / 2.0;\n"                \
  "  if (d - c[3].x >= 0.0) return vDiffuse.a;\n"                           \
  "  float f = d * c[3].y;\n"                                               \
  "  return f * f * vDiffuse.a;\n"                                          \
  "}\n"

const char* const kNames[psShaderCount] = {
    "unsharp",         "gauss_blur_h7",      "gauss_blur_v7",           "gauss_mix",
    "premul3",         "premul4",            "color_grading",           "color_grade_linear",
    "color_grade_prem", "color_grade_linear_prem", "motion_blur",       "videomask",
    "color_grade_video", "color_grade_deinter", "color_grade_chromakey", "color_grade_chroma_deinter"};

const char* const kSources[psShaderCount] = {
    // unsharp: c0.xy texel size, c1.x threshold, c2.x amount.
    "void main() {\n"
    "  vec2 t = vTex[0].xy; vec2 d = c[0].xy;\n"
    "  vec4 C = texture(s0, t);\n"
    "  vec3 e = texture(s0, t + vec2(-d.x, 0.0)).rgb + texture(s0, t + vec2(d.x, 0.0)).rgb +\n"
    "           texture(s0, t + vec2(0.0, -d.y)).rgb + texture(s0, t + vec2(0.0, d.y)).rgb;\n"
    "  vec3 k = texture(s0, t + vec2(-d.x, -d.y)).rgb + texture(s0, t + vec2(d.x, -d.y)).rgb +\n"
    "           texture(s0, t + vec2(-d.x, d.y)).rgb + texture(s0, t + vec2(d.x, d.y)).rgb;\n"
    "  vec3 blur = (4.0 * C.rgb + 2.0 * e + k) / 16.0;\n"
    "  vec3 diff = C.rgb - blur;\n"
    "  vec3 sharp = C.rgb + diff * c[2].x;\n"
    "  fragColor = vec4(mix(C.rgb, sharp, step(0.0, abs(diff) - c[1].x)), C.a);\n"
    "}\n",
    // gauss_blur_h7: c0 = (w3, w2, w1, w0), c1.x = step.
    "vec4 tap(float k) { return texture(s0, vec2(clamp(vTex[0].x + k * c[1].x, 0.0, 1.0), vTex[0].y)); }\n"
    "void main() {\n"
    "  fragColor = c[0].x * (tap(-3.0) + tap(3.0)) + c[0].y * (tap(-2.0) + tap(2.0)) +\n"
    "              c[0].z * (tap(-1.0) + tap(1.0)) + c[0].w * tap(0.0);\n"
    "}\n",
    // gauss_blur_v7
    "vec4 tap(float k) { return texture(s0, vec2(vTex[0].x, clamp(vTex[0].y + k * c[1].x, 0.0, 1.0))); }\n"
    "void main() {\n"
    "  fragColor = c[0].x * (tap(-3.0) + tap(3.0)) + c[0].y * (tap(-2.0) + tap(2.0)) +\n"
    "              c[0].z * (tap(-1.0) + tap(1.0)) + c[0].w * tap(0.0);\n"
    "}\n",
    // gauss_mix: Big at t0, Small at t1, c0.x alpha.
    "void main() {\n"
    "  vec4 big = texture(s0, vTex[0].xy); vec4 small = texture(s1, vTex[1].xy);\n"
    "  fragColor = big + (small - big) * c[0].x;\n"
    "}\n",
    // premul3: the mask at t0, the content at t1.
    QEL_SHADER_COMMON
    "void main() {\n"
    "  vec4 m = texture(s0, vTex[0].xy); vec4 content = texture(s1, vTex[1].xy);\n"
    "  float g = (1.0 - abs(m.r - m.g)) * (1.0 - abs(m.g - m.b)) * (1.0 - abs(m.b - m.r));\n"
    "  vec3 mc = m.rgb + (1.0 - m.rgb) * g;\n"
    "  float ma = max(m.r, max(m.g, m.b));\n"
    "  vec4 r = content * vec4(mc, ma);\n"
    "  fragColor = vec4(content.a > 0.0 ? r.rgb / content.a : vec3(0.0), r.a * vDiffuse.a);\n"
    "}\n",
    // premul4
    QEL_SHADER_COMMON
    "void main() {\n"
    "  vec4 s = texture(s0, vTex[0].xy);\n"
    "  float a = s.a * vDiffuse.a;\n"
    "  fragColor = vec4(unprem(s) * vDiffuse.rgb * a, a);\n"
    "}\n",
    // color_grading: volume tables at stages 1 and 2, c0.x the mix.
    QEL_SHADER_COMMON
    "void main() {\n"
    "  vec4 s = texture(s0, vTex[0].xy);\n"
    "  fragColor = vec4(grade3(s.rgb * vDiffuse.rgb), s.a * vDiffuse.a);\n"
    "}\n",
    // color_grade_linear: per-channel tables at stages 1 and 2.
    QEL_SHADER_COMMON
    "void main() {\n"
    "  vec4 s = texture(s0, vTex[0].xy);\n"
    "  fragColor = vec4(gradeLinear(s.rgb * vDiffuse.rgb), s.a * vDiffuse.a);\n"
    "}\n",
    // color_grade_prem
    QEL_SHADER_COMMON
    "void main() {\n"
    "  vec4 s = texture(s0, vTex[0].xy);\n"
    "  float a = s.a * vDiffuse.a;\n"
    "  fragColor = vec4(grade3(unprem(s) * vDiffuse.rgb) * a, a);\n"
    "}\n",
    // color_grade_linear_prem
    QEL_SHADER_COMMON
    "void main() {\n"
    "  vec4 s = texture(s0, vTex[0].xy);\n"
    "  float a = s.a * vDiffuse.a;\n"
    "  fragColor = vec4(gradeLinear(unprem(s) * vDiffuse.rgb) * a, a);\n"
    "}\n",
    // motion_blur: accumulator at stage 0, frame at stage 1, c0.xy = (w1, w2).
    "void main() {\n"
    "  vec4 acc = texture(s0, vTex[0].xy); vec4 frame = texture(s1, vTex[0].xy);\n"
    "  fragColor = (frame * c[0].x + acc) * c[0].y;\n"
    "}\n",
    // videomask: luma at stage 0, c0.x invert.
    "void main() {\n"
    "  float y = (texture(s0, vTex[0].xy).r - 0.0625) * 1.164384;\n"
    "  vec3 rgb = vec3(y * (1.0 - 2.0 * c[0].x) + c[0].x);\n"
    "  fragColor = vec4(rgb, rgb.b * vDiffuse.a);\n"
    "}\n",
    // color_grade_video: Y, U, V at stages 0-2, volume tables at 3 and 4.
    // The chroma planes have their own coordinates (set 1): their textures
    // need not be exactly half the luma texture.
    QEL_SHADER_VIDEO
    "void main() {\n"
    "  vec2 t = vTex[0].xy;\n"
    "  float Y = texture(s0, t).r, U = texture(s1, vTex[1].xy).r, V = texture(s2, vTex[1].xy).r;\n"
    "  fragColor = vec4(gradeVideo(Y, U, V), vDiffuse.a);\n"
    "}\n",
    // color_grade_deinter: c1.xy = (H, 1/H), c2.xy = (o0, o1).
    QEL_SHADER_VIDEO
    "void main() {\n"
    "  vec2 t = vTex[0].xy;\n"
    "  float U = texture(s1, vTex[1].xy).r, V = texture(s2, vTex[1].xy).r;\n"
    "  fragColor = vec4(gradeVideo(lumaDeinter(), U, V), vDiffuse.a);\n"
    "}\n",
    // color_grade_chromakey: c3.xy = (tolerance, 1/tolerance), c4.xy = key (U, V).
    QEL_SHADER_VIDEO
    "void main() {\n"
    "  vec2 t = vTex[0].xy;\n"
    "  float Y = texture(s0, t).r, U = texture(s1, vTex[1].xy).r, V = texture(s2, vTex[1].xy).r;\n"
    "  fragColor = vec4(gradeVideo(Y, U, V), keyAlpha(U, V));\n"
    "}\n",
    // color_grade_chroma_deinter
    QEL_SHADER_VIDEO
    "void main() {\n"
    "  vec2 t = vTex[0].xy;\n"
    "  float U = texture(s1, vTex[1].xy).r, V = texture(s2, vTex[1].xy).r;\n"
    "  fragColor = vec4(gradeVideo(lumaDeinter(), U, V), keyAlpha(U, V));\n"
    "}\n",
};

}  // namespace

const TPixelShaderId ShaderCreationOrder[psShaderCount] = {
    psUnsharp,           psColorGrading,       psColorGradePrem,          psGaussBlurH7,
    psGaussBlurV7,       psGaussMix,           psColorGradeVideo,         psColorGradeDeinter,
    psColorGradeChromaKey, psColorGradeChromaDeinter, psVideoMask,      psColorGradeLinear,
    psColorGradeLinearPrem, psMotionBlur,      psPremul4,                 psPremul3};

const char* PixelShaderName(TPixelShaderId id) { return kNames[id]; }
const char* PixelShaderSource(TPixelShaderId id) { return kSources[id]; }

std::string PixelShaderProgram(TPixelShaderId id) {
  const char* src = kSources[id];
  uint32_t n = static_cast<uint32_t>(std::strlen(src));
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[size_t(i)] = static_cast<char>((n >> (8 * i)) & 0xFF);
  out.append(src, n);
  return out;
}

}  // namespace render3d
