// What the GPU benchmarks' plain-GL references share: the offscreen device
// started as the tests start it, one textured-quad program, a full-target
// quad, a render target and picture textures. The reference does the same
// drawing work as our side with nothing of ours in between.
#pragma once

#include <epoxy/gl.h>

#include <cstdint>
#include <cstdlib>

#include "foundation/kpThreads2.h"
#include "imaging/Startup.h"
#include "platform/gpu/api.h"
#include "render3d/DXDev3D.h"
#include "render3d/Startup.h"

namespace glref {

// SDL's offscreen driver (EGL on llvmpipe where no GPU is present).
inline void StartOffscreen3D() {
  setenv("SDL_VIDEODRIVER", "offscreen", 0);
  platform::gpu::setGpuBackend(platform::gpu::offscreenGpuBackend());
  render3d::StartRender3D();
}

inline constexpr const char* kQuadVertex = R"(#version 330 core
layout(location = 0) in vec2 aPos;
layout(location = 1) in vec2 aTex;
out vec2 vTex;
void main() { gl_Position = vec4(aPos, 0.0, 1.0); vTex = aTex; }
)";

// The picture as it is, for references that only draw textures.
inline constexpr const char* kPlainFragment = R"(#version 330 core
in vec2 vTex;
uniform sampler2D s0;
out vec4 fragColor;
void main() { fragColor = texture(s0, vTex); }
)";

// The quad program with the given fragment shader (sampler s0, input vTex).
inline GLuint LinkProgram(const char* fragment) {
  auto compile = [](GLenum type, const char* src) {
    GLuint sh = glCreateShader(type);
    glShaderSource(sh, 1, &src, nullptr);
    glCompileShader(sh);
    return sh;
  };
  GLuint prog = glCreateProgram();
  GLuint vs = compile(GL_VERTEX_SHADER, kQuadVertex), fs = compile(GL_FRAGMENT_SHADER, fragment);
  glAttachShader(prog, vs);
  glAttachShader(prog, fs);
  glLinkProgram(prog);
  glDeleteShader(vs);
  glDeleteShader(fs);
  return prog;
}

// Position (x, y) and texture (u, v) per vertex, 16 bytes each, in the
// bound vertex buffer.
inline void QuadAttributes() {
  glEnableVertexAttribArray(0);
  glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 16, reinterpret_cast<void*>(0));
  glEnableVertexAttribArray(1);
  glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 16, reinterpret_cast<void*>(8));
}

// Two triangles over the whole target.
struct TFullQuad {
  GLuint Vao = 0, Vbo = 0;
  TFullQuad() {
    const float quad[6][4] = {{-1, 1, 0, 0}, {1, 1, 1, 0}, {-1, -1, 0, 1}, {-1, -1, 0, 1}, {1, 1, 1, 0}, {1, -1, 1, 1}};
    glGenVertexArrays(1, &Vao);
    glBindVertexArray(Vao);
    glGenBuffers(1, &Vbo);
    glBindBuffer(GL_ARRAY_BUFFER, Vbo);
    glBufferData(GL_ARRAY_BUFFER, sizeof(quad), quad, GL_STATIC_DRAW);
    QuadAttributes();
    glBindVertexArray(0);
  }
  ~TFullQuad() {
    glDeleteBuffers(1, &Vbo);
    glDeleteVertexArrays(1, &Vao);
  }
};

// A w x h colour target.
struct TTarget {
  GLuint Fbo = 0, Tex = 0;
  TTarget(int w, int h) {
    glGenTextures(1, &Tex);
    glBindTexture(GL_TEXTURE_2D, Tex);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, w, h, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    glGenFramebuffers(1, &Fbo);
    glBindFramebuffer(GL_FRAMEBUFFER, Fbo);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, Tex, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
  }
  ~TTarget() {
    glDeleteFramebuffers(1, &Fbo);
    glDeleteTextures(1, &Tex);
  }
};

// A picture of 0xAARRGGBB pixels, one level, linear, clamped.
inline GLuint PictureTexture(int w, int h, const void* pixels) {
  GLuint t = 0;
  glGenTextures(1, &t);
  glBindTexture(GL_TEXTURE_2D, t);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, w, h, 0, GL_BGRA, GL_UNSIGNED_BYTE, pixels);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  return t;
}

}  // namespace glref
