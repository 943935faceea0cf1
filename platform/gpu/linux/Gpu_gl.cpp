// The graphics device over OpenGL 3.3 core on an SDL2 context.
//
// One context serves every device of the process. It is made on a hidden
// SDL window by the first engine, on the thread that will draw (the main
// thread), and stays current there. Every render target and back buffer is a
// texture with a framebuffer object whose memory row 0 is the top row: the
// vertex stage turns clip-space y over, so viewports, scissors, copies,
// uploads and read-back all count rows from the top; Present is the one flip.
//
// Work asked for on other threads (creating GL objects, uploads, frees) is
// queued and run on the main thread before its next use of the context.
#include <SDL2/SDL.h>
#include <epoxy/gl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/gpu/api.h"
#include "platform/gpu/testing/GpuFaults.h"

namespace platform::gpu {

void requestWakeup();

namespace {

// ---------------------------------------------------------------- context

struct Program {
  GLuint id = 0;
  GLint wvp = -1, halfPixel = -1, stages = -1, colorOp = -1, alphaOp = -1, consts = -1;
};

struct GlContext {
  SDL_Window* window = nullptr;
  SDL_GLContext context = nullptr;
  std::thread::id thread;
  bool ok = false;
  std::string renderer, vendor;
  GLint maxTexture = 0;
  float maxAnisotropy = 1;
  bool anisotropic = false;
  // The renderer's anisotropic filter blurs even where a texel lands on a
  // pixel (see init): the ANISOTROPIC minification filter runs as trilinear.
  bool anisotropyBlurs = false;
  GLuint vao = 0;
  GLuint samplers[kMaxStages] = {};
  GLuint vertexShader = 0;
  Program fixed;
  std::map<uint64_t, Program> variants;  // fixed-function programs by stage set-up
  std::map<uint32_t, GLuint> variantVertex;  // their vertex stages by texture-set count
  std::mutex queueLock;
  std::deque<std::function<void()>> queue;
  std::atomic<int> queued{0};
};

std::mutex g_contextLock;
GlContext* g_gl = nullptr;  // made once, never destroyed (threads may still queue while the process ends)

bool onGlThread() { return g_gl && g_gl->ok && std::this_thread::get_id() == g_gl->thread; }

void drainQueue() {
  if (!onGlThread()) return;
  for (;;) {
    std::function<void()> work;
    {
      std::lock_guard<std::mutex> guard(g_gl->queueLock);
      if (g_gl->queue.empty()) return;
      work = std::move(g_gl->queue.front());
      g_gl->queue.pop_front();
      g_gl->queued.fetch_sub(1);
    }
    work();
  }
}

void enqueue(std::function<void()> work) {
  {
    std::lock_guard<std::mutex> guard(g_gl->queueLock);
    g_gl->queue.push_back(std::move(work));
    g_gl->queued.fetch_add(1);
  }
  requestWakeup();
}

// On the main thread: the queue first (order is kept), then the work now.
void runOnGl(std::function<void()> work) {
  if (onGlThread()) {
    drainQueue();
    work();
  } else {
    enqueue(std::move(work));
  }
}

const char* kVertexSource = R"(#version 330 core
layout(location = 0) in vec3 aPos;
layout(location = 1) in vec4 aDiffuse;
layout(location = 2) in vec2 aTex0;
layout(location = 3) in vec2 aTex1;
layout(location = 4) in vec2 aTex2;
layout(location = 5) in vec2 aTex3;
layout(location = 6) in vec2 aTex4;
layout(location = 7) in vec2 aTex5;
layout(location = 8) in vec2 aTex6;
layout(location = 9) in vec2 aTex7;
uniform mat4 uWVP;
uniform vec2 uHalfPixel;
out vec4 vDiffuse;
out vec4 vTex[8];
void main() {
  vec4 p = uWVP * vec4(aPos, 1.0);
  // Pixel centres at integer coordinates: half a pixel right and down.
  p.x += uHalfPixel.x * p.w;
  p.y -= uHalfPixel.y * p.w;
  // Depth [0, w] to [-w, w]; rows counted from the top of the target.
  p.z = 2.0 * p.z - p.w;
  p.y = -p.y;
  gl_Position = p;
  vDiffuse = aDiffuse;
  vTex[0] = vec4(aTex0, 0.0, 1.0); vTex[1] = vec4(aTex1, 0.0, 1.0);
  vTex[2] = vec4(aTex2, 0.0, 1.0); vTex[3] = vec4(aTex3, 0.0, 1.0);
  vTex[4] = vec4(aTex4, 0.0, 1.0); vTex[5] = vec4(aTex5, 0.0, 1.0);
  vTex[6] = vec4(aTex6, 0.0, 1.0); vTex[7] = vec4(aTex7, 0.0, 1.0);
}
)";

const char* kFragmentHeader = R"(#version 330 core
in vec4 vDiffuse;
in vec4 vTex[8];
out vec4 fragColor;
uniform vec4 c[32];
uniform sampler2D s0; uniform sampler2D s1; uniform sampler2D s2; uniform sampler2D s3;
uniform sampler2D s4; uniform sampler2D s5; uniform sampler2D s6; uniform sampler2D s7;
uniform sampler3D v0; uniform sampler3D v1; uniform sampler3D v2; uniform sampler3D v3;
uniform sampler3D v4; uniform sampler3D v5; uniform sampler3D v6; uniform sampler3D v7;
)";

// The fixed-function texture stages: each stage combines its texture with the
// result so far (the diffuse colour before the first stage).
const char* kFixedFragment = R"(
uniform int uStages;
uniform int uColorOp[8];
uniform int uAlphaOp[8];
vec4 stage(int i, vec4 t, vec4 cur) {
  vec3 rgb = uColorOp[i] == 4 ? t.rgb * cur.rgb : (uColorOp[i] == 3 ? cur.rgb : t.rgb);
  float a = uAlphaOp[i] == 4 ? t.a * cur.a : (uAlphaOp[i] == 3 ? cur.a : t.a);
  return vec4(rgb, a);
}
void main() {
  vec4 cur = vDiffuse;
  if (uStages > 0) cur = stage(0, texture(s0, vTex[0].xy), cur);
  if (uStages > 1) cur = stage(1, texture(s1, vTex[1].xy), cur);
  if (uStages > 2) cur = stage(2, texture(s2, vTex[2].xy), cur);
  if (uStages > 3) cur = stage(3, texture(s3, vTex[3].xy), cur);
  if (uStages > 4) cur = stage(4, texture(s4, vTex[4].xy), cur);
  if (uStages > 5) cur = stage(5, texture(s5, vTex[5].xy), cur);
  if (uStages > 6) cur = stage(6, texture(s6, vTex[6].xy), cur);
  if (uStages > 7) cur = stage(7, texture(s7, vTex[7].xy), cur);
  fragColor = cur;
}
)";

GLuint compile(GLenum type, const std::string& source, std::string* log) {
  GLuint shader = glCreateShader(type);
  const char* text = source.c_str();
  glShaderSource(shader, 1, &text, nullptr);
  glCompileShader(shader);
  GLint ok = 0;
  glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
  if (!ok) {
    if (log) {
      char buf[2048] = {};
      glGetShaderInfoLog(shader, sizeof buf, nullptr, buf);
      *log = buf;
    }
    glDeleteShader(shader);
    return 0;
  }
  return shader;
}

bool link(Program& p, GLuint fragment, GLuint vertex = 0) {
  if (!vertex) vertex = g_gl->vertexShader;
  GLuint id = glCreateProgram();
  glAttachShader(id, vertex);
  glAttachShader(id, fragment);
  glLinkProgram(id);
  GLint ok = 0;
  glGetProgramiv(id, GL_LINK_STATUS, &ok);
  glDetachShader(id, vertex);
  glDetachShader(id, fragment);
  if (!ok) {
    glDeleteProgram(id);
    return false;
  }
  p.id = id;
  p.wvp = glGetUniformLocation(id, "uWVP");
  p.halfPixel = glGetUniformLocation(id, "uHalfPixel");
  p.stages = glGetUniformLocation(id, "uStages");
  p.colorOp = glGetUniformLocation(id, "uColorOp");
  p.alphaOp = glGetUniformLocation(id, "uAlphaOp");
  p.consts = glGetUniformLocation(id, "c");
  glUseProgram(id);
  for (int i = 0; i < kMaxStages; ++i) {
    std::string s = "s" + std::to_string(i), v = "v" + std::to_string(i);
    GLint loc = glGetUniformLocation(id, s.c_str());
    if (loc >= 0) glUniform1i(loc, i);
    loc = glGetUniformLocation(id, v.c_str());
    if (loc >= 0) glUniform1i(loc, kMaxStages + i);
  }
  return true;
}

// The fixed-function stages specialised for one set-up: only the texture
// coordinates the stages read are passed on, and each stage's operations are
// written out, so the rasteriser interpolates and runs no more than a plain
// program doing the same would.
const Program* fixedVariant(int stages, const GLint* colorOps, const GLint* alphaOps, uint32_t texSets) {
  uint64_t key = uint64_t(stages) | uint64_t(texSets) << 4;
  for (int i = 0; i < stages; ++i) key |= uint64_t((colorOps[i] & 7) | (alphaOps[i] & 7) << 3) << (8 + 6 * i);
  auto it = g_gl->variants.find(key);
  if (it != g_gl->variants.end()) return it->second.id ? &it->second : nullptr;
  uint32_t passed = std::min<uint32_t>(static_cast<uint32_t>(stages), texSets);
  GLuint& vs = g_gl->variantVertex[passed];
  if (!vs) {
    std::string src = "#version 330 core\nlayout(location = 0) in vec3 aPos;\nlayout(location = 1) in vec4 aDiffuse;\n";
    for (uint32_t i = 0; i < passed; ++i)
      src += "layout(location = " + std::to_string(2 + i) + ") in vec2 aTex" + std::to_string(i) + ";\nout vec2 vT" +
             std::to_string(i) + ";\n";
    src += "uniform mat4 uWVP;\nuniform vec2 uHalfPixel;\nout vec4 vDiffuse;\nvoid main() {\n"
           "  vec4 p = uWVP * vec4(aPos, 1.0);\n  p.x += uHalfPixel.x * p.w;\n  p.y -= uHalfPixel.y * p.w;\n"
           "  p.z = 2.0 * p.z - p.w;\n  p.y = -p.y;\n  gl_Position = p;\n  vDiffuse = aDiffuse;\n";
    for (uint32_t i = 0; i < passed; ++i) src += "  vT" + std::to_string(i) + " = aTex" + std::to_string(i) + ";\n";
    src += "}\n";
    vs = compile(GL_VERTEX_SHADER, src, nullptr);
  }
  std::string fs = "#version 330 core\nin vec4 vDiffuse;\nout vec4 fragColor;\n";
  for (uint32_t i = 0; i < passed; ++i) fs += "in vec2 vT" + std::to_string(i) + ";\n";
  for (int i = 0; i < stages; ++i) fs += "uniform sampler2D s" + std::to_string(i) + ";\n";
  fs += "void main() {\n  vec4 cur = vDiffuse;\n  vec4 t;\n";
  for (int i = 0; i < stages; ++i) {
    std::string n = std::to_string(i);
    std::string coord = static_cast<uint32_t>(i) < passed ? "vT" + n : "vec2(0.0)";
    fs += "  t = texture(s" + n + ", " + coord + ");\n";
    std::string rgb = colorOps[i] == D3DTOP_MODULATE ? "t.rgb * cur.rgb" : colorOps[i] == D3DTOP_SELECTARG2 ? "cur.rgb" : "t.rgb";
    std::string a = alphaOps[i] == D3DTOP_MODULATE ? "t.a * cur.a" : alphaOps[i] == D3DTOP_SELECTARG2 ? "cur.a" : "t.a";
    fs += "  cur = vec4(" + rgb + ", " + a + ");\n";
  }
  fs += "  fragColor = cur;\n}\n";
  Program& p = g_gl->variants[key];
  GLuint f = compile(GL_FRAGMENT_SHADER, fs, nullptr);
  if (!vs || !f || !link(p, f, vs)) p = Program{};
  if (f) glDeleteShader(f);
  return p.id ? &p : nullptr;
}

// Makes the process's context on first use; false when no GL 3.3 core
// context can be had.
bool ensureContext() {
  std::lock_guard<std::mutex> guard(g_contextLock);
  if (g_gl) return g_gl->ok;
  g_gl = new GlContext();
  g_gl->thread = std::this_thread::get_id();
  if (!SDL_WasInit(SDL_INIT_VIDEO) && SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
  g_gl->window = SDL_CreateWindow("qel-gpu", 0, 0, 16, 16, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
  if (!g_gl->window) return false;
  g_gl->context = SDL_GL_CreateContext(g_gl->window);
  if (!g_gl->context) return false;
  SDL_GL_MakeCurrent(g_gl->window, g_gl->context);
  if (epoxy_gl_version() < 33) return false;
  const char* r = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
  const char* v = reinterpret_cast<const char*>(glGetString(GL_VENDOR));
  g_gl->renderer = r ? r : "";
  g_gl->vendor = v ? v : "";
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &g_gl->maxTexture);
  g_gl->anisotropic = epoxy_has_gl_extension("GL_EXT_texture_filter_anisotropic") ||
                      epoxy_has_gl_extension("GL_ARB_texture_filter_anisotropic");
  if (g_gl->anisotropic) glGetFloatv(GL_MAX_TEXTURE_MAX_ANISOTROPY_EXT, &g_gl->maxAnisotropy);
  // Mesa's software rasterizers filter anisotropically with a Gaussian
  // elliptical average at every scale, so a picture drawn 1:1 comes out
  // blurred (up to half of a texel's contrast). The device promises what
  // anisotropic filtering does elsewhere: exact texels at 1:1, trilinear for
  // an even shrink. Trilinear keeps that; only oblique views lose sharpness.
  g_gl->anisotropyBlurs = g_gl->renderer.find("llvmpipe") != std::string::npos ||
                          g_gl->renderer.find("softpipe") != std::string::npos;
  glGenVertexArrays(1, &g_gl->vao);
  glBindVertexArray(g_gl->vao);
  glGenSamplers(kMaxStages, g_gl->samplers);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  std::string log;
  g_gl->vertexShader = compile(GL_VERTEX_SHADER, kVertexSource, &log);
  GLuint fixed = compile(GL_FRAGMENT_SHADER, std::string(kFragmentHeader) + kFixedFragment, &log);
  if (!g_gl->vertexShader || !fixed || !link(g_gl->fixed, fixed)) return false;
  glDeleteShader(fixed);
  g_gl->ok = true;
  return true;
}

// ---------------------------------------------------------------- formats

struct GlFormat {
  GLenum internal = 0, format = 0, type = 0;
  GLint swizzle[4] = {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA};
};

bool glFormat(uint32_t format, GlFormat& f) {
  switch (format) {
    case D3DFMT_A8R8G8B8:
      f = {GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE, {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA}};
      return true;
    case D3DFMT_X8R8G8B8:
      f = {GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE, {GL_RED, GL_GREEN, GL_BLUE, GL_ONE}};
      return true;
    case D3DFMT_L8:
      f = {GL_R8, GL_RED, GL_UNSIGNED_BYTE, {GL_RED, GL_RED, GL_RED, GL_ONE}};
      return true;
    case D3DFMT_A8:
      f = {GL_R8, GL_RED, GL_UNSIGNED_BYTE, {GL_ZERO, GL_ZERO, GL_ZERO, GL_RED}};
      return true;
    case D3DFMT_R5G6B5:
      f = {GL_RGB565, GL_RGB, GL_UNSIGNED_SHORT_5_6_5, {GL_RED, GL_GREEN, GL_BLUE, GL_ONE}};
      return true;
    case D3DFMT_X1R5G5B5:
      f = {GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV, {GL_RED, GL_GREEN, GL_BLUE, GL_ONE}};
      return true;
    case D3DFMT_A1R5G5B5:
      f = {GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV, {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA}};
      return true;
    case D3DFMT_A16B16G16R16:
      f = {GL_RGBA16, GL_RGBA, GL_UNSIGNED_SHORT, {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA}};
      return true;
    default:
      return false;
  }
}

uint32_t fullChain(uint32_t w, uint32_t h, uint32_t d) {
  uint32_t m = std::max({w, h, d}), n = 1;
  while (m > 1) {
    m >>= 1;
    ++n;
  }
  return n;
}

uint32_t levelDim(uint32_t v, uint32_t level) { return std::max<uint32_t>(1, v >> level); }

// ---------------------------------------------------------------- objects

template <class Base>
class Counted : public Base {
 public:
  uint32_t addRef() override { return refs_.fetch_add(1) + 1; }
  uint32_t release() override {
    uint32_t n = refs_.fetch_sub(1) - 1;
    if (n == 0) delete this;
    return n;
  }

 private:
  std::atomic<uint32_t> refs_{1};
};

// The storage behind a texture, volume texture, back buffer or plain
// surface: CPU memory in the system pool, a GL texture (with a framebuffer
// object for render targets) in the default pool.
struct Image {
  uint32_t width = 1, height = 1, depth = 1, levels = 1, format = 0, pool = 0, usage = 0;
  bool volume = false;
  GlFormat gl;
  std::vector<std::vector<uint8_t>> cpu;  // per level, system pool only
  GLuint tex = 0;
  GLuint fbo = 0;
  HRESULT glResult = S_OK;  // what the GL creation answered

  bool renderTarget() const { return (usage & D3DUSAGE_RENDERTARGET) != 0; }
  bool gpu() const { return pool != D3DPOOL_SYSTEMMEM; }
  uint32_t w(uint32_t l) const { return levelDim(width, l); }
  uint32_t h(uint32_t l) const { return levelDim(height, l); }
  uint32_t d(uint32_t l) const { return volume ? levelDim(depth, l) : 1; }
  uint32_t pitch(uint32_t l) const { return w(l) * formatBytes(format); }
  size_t levelBytes(uint32_t l) const { return size_t(pitch(l)) * h(l) * d(l); }

  void allocateCpu() {
    cpu.resize(levels);
    for (uint32_t l = 0; l < levels; ++l) cpu[l].assign(levelBytes(l), 0);
  }

  // GL thread only.
  void realize() {
    if (tex) return;
    while (glGetError() != GL_NO_ERROR) {
    }
    GLenum target = volume ? GL_TEXTURE_3D : GL_TEXTURE_2D;
    glGenTextures(1, &tex);
    glBindTexture(target, tex);
    glTexParameteri(target, GL_TEXTURE_BASE_LEVEL, 0);
    glTexParameteri(target, GL_TEXTURE_MAX_LEVEL, static_cast<GLint>(levels) - 1);
    glTexParameteriv(target, GL_TEXTURE_SWIZZLE_RGBA, gl.swizzle);
    for (uint32_t l = 0; l < levels; ++l) {
      if (volume)
        glTexImage3D(target, static_cast<GLint>(l), static_cast<GLint>(gl.internal), static_cast<GLsizei>(w(l)),
                     static_cast<GLsizei>(h(l)), static_cast<GLsizei>(d(l)), 0, gl.format, gl.type, nullptr);
      else
        glTexImage2D(target, static_cast<GLint>(l), static_cast<GLint>(gl.internal), static_cast<GLsizei>(w(l)),
                     static_cast<GLsizei>(h(l)), 0, gl.format, gl.type, nullptr);
    }
    if (renderTarget()) {
      glGenFramebuffers(1, &fbo);
      glBindFramebuffer(GL_FRAMEBUFFER, fbo);
      glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, tex, 0);
      if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) glResult = D3DERR_NOTAVAILABLE;
      glBindFramebuffer(GL_FRAMEBUFFER, 0);
    }
    if (glGetError() == GL_OUT_OF_MEMORY) glResult = D3DERR_OUTOFVIDEOMEMORY;
  }

  // GL thread only: writes one level from top-down rows.
  void upload(uint32_t l, const uint8_t* data) {
    realize();
    GLenum target = volume ? GL_TEXTURE_3D : GL_TEXTURE_2D;
    glBindTexture(target, tex);
    if (volume)
      glTexSubImage3D(target, static_cast<GLint>(l), 0, 0, 0, static_cast<GLsizei>(w(l)), static_cast<GLsizei>(h(l)),
                      static_cast<GLsizei>(d(l)), gl.format, gl.type, data);
    else
      glTexSubImage2D(target, static_cast<GLint>(l), 0, 0, static_cast<GLsizei>(w(l)), static_cast<GLsizei>(h(l)),
                      gl.format, gl.type, data);
  }

  ~Image() {
    if (!tex && !fbo) return;
    GLuint t = tex, f = fbo;
    auto free = [t, f] {
      if (f) glDeleteFramebuffers(1, &f);
      if (t) glDeleteTextures(1, &t);
    };
    if (onGlThread())
      free();
    else if (g_gl)
      enqueue(free);
  }
};

using ImageRef = std::shared_ptr<Image>;

// Makes an image; on the main thread its GL object now (with the answer of
// the allocation), elsewhere queued.
HRESULT makeImage(uint32_t w, uint32_t h, uint32_t d, uint32_t levels, uint32_t usage, uint32_t format, uint32_t pool,
                  bool volume, ImageRef& out) {
  auto img = std::make_shared<Image>();
  if (w == 0 || h == 0 || d == 0 || !glFormat(format, img->gl)) return D3DERR_INVALIDCALL;
  if (static_cast<GLint>(std::max({w, h, d})) > g_gl->maxTexture) return D3DERR_INVALIDCALL;
  img->width = w;
  img->height = h;
  img->depth = d;
  img->volume = volume;
  img->format = format;
  img->usage = usage;
  img->pool = pool;
  img->levels = levels == 0 ? fullChain(w, h, volume ? d : 1) : levels;
  if (img->renderTarget()) img->levels = 1;
  if (!img->gpu()) {
    try {
      img->allocateCpu();
    } catch (const std::bad_alloc&) {
      return D3DERR_OUTOFVIDEOMEMORY;
    }
  } else if (onGlThread()) {
    drainQueue();
    img->realize();
    if (img->glResult != S_OK) return img->glResult;
  } else {
    enqueue([img] { img->realize(); });
  }
  out = std::move(img);
  return S_OK;
}

class SurfaceImpl;
class TextureImpl;
class VolumeImpl;
class DeviceImpl;

class SurfaceImpl : public Surface {
 public:
  // A level of a texture: the texture counts the references.
  SurfaceImpl(GpuObject* container, ImageRef image, uint32_t level)
      : container_(container), image_(std::move(image)), level_(level) {}
  // A surface of its own (back buffer, plain surface).
  explicit SurfaceImpl(ImageRef image) : image_(std::move(image)) {}
  ~SurfaceImpl() override = default;

  uint32_t addRef() override { return container_ ? container_->addRef() : refs_.fetch_add(1) + 1; }
  uint32_t release() override {
    if (container_) return container_->release();
    uint32_t n = refs_.fetch_sub(1) - 1;
    if (n == 0) delete this;
    return n;
  }

  HRESULT getDesc(SurfaceDesc& desc) override {
    desc.format = image_->format;
    desc.type = D3DRTYPE_SURFACE;
    desc.usage = image_->usage;
    desc.pool = image_->pool;
    desc.width = image_->w(level_);
    desc.height = image_->h(level_);
    return S_OK;
  }

  HRESULT lockRect(LockedRect& locked, const Rect* rect, uint32_t flags) override {
    if (HRESULT f = takeGpuFault(GpuCall::LockRect)) return f;
    if (image_->gpu()) return D3DERR_INVALIDCALL;  // video memory is never locked
    uint32_t w = image_->w(level_), h = image_->h(level_);
    Rect r{0, 0, static_cast<int32_t>(w), static_cast<int32_t>(h)};
    if (rect) r = *rect;
    if (r.left < 0 || r.top < 0 || r.right > static_cast<int32_t>(w) || r.bottom > static_cast<int32_t>(h) ||
        r.left > r.right || r.top > r.bottom)
      return D3DERR_INVALIDCALL;
    locked.pitch = static_cast<int32_t>(image_->pitch(level_));
    locked.bits = image_->cpu[level_].data() + size_t(r.top) * image_->pitch(level_) +
                  size_t(r.left) * formatBytes(image_->format);
    return S_OK;
  }

  HRESULT unlockRect() override {
    if (HRESULT f = takeGpuFault(GpuCall::UnlockRect)) return f;
    return image_->gpu() ? D3DERR_INVALIDCALL : S_OK;
  }

  const ImageRef& image() const { return image_; }
  uint32_t level() const { return level_; }

 private:
  GpuObject* container_ = nullptr;
  std::atomic<uint32_t> refs_{1};
  ImageRef image_;
  uint32_t level_ = 0;
};

class TextureImpl : public Counted<Texture> {
 public:
  explicit TextureImpl(ImageRef image) : image_(std::move(image)) {
    for (uint32_t l = 0; l < image_->levels; ++l) levels_.push_back(new SurfaceImpl(this, image_, l));
  }
  ~TextureImpl() override {
    for (SurfaceImpl* s : levels_) delete s;
  }
  uint32_t getLevelCount() override { return image_->levels; }
  HRESULT getSurfaceLevel(uint32_t level, Surface** surface) override {
    if (HRESULT f = takeGpuFault(GpuCall::GetSurfaceLevel)) return f;
    if (!surface || level >= levels_.size()) return D3DERR_INVALIDCALL;
    addRef();
    *surface = levels_[level];
    return S_OK;
  }
  void preLoad() override {}
  const ImageRef& image() const { return image_; }

 private:
  ImageRef image_;
  std::vector<SurfaceImpl*> levels_;
};

class VolumeImpl : public Counted<VolumeTexture> {
 public:
  explicit VolumeImpl(ImageRef image) : image_(std::move(image)) {}
  uint32_t getLevelCount() override { return image_->levels; }
  HRESULT lockBox(uint32_t level, LockedBox& locked, const Box* box, uint32_t flags) override {
    if (HRESULT f = takeGpuFault(GpuCall::LockBox)) return f;
    if (image_->gpu() || level >= image_->levels) return D3DERR_INVALIDCALL;
    Box b{0, 0, image_->w(level), image_->h(level), 0, image_->d(level)};
    if (box) b = *box;
    if (b.right > image_->w(level) || b.bottom > image_->h(level) || b.back > image_->d(level) || b.left > b.right ||
        b.top > b.bottom || b.front > b.back)
      return D3DERR_INVALIDCALL;
    locked.rowPitch = static_cast<int32_t>(image_->pitch(level));
    locked.slicePitch = static_cast<int32_t>(image_->pitch(level) * image_->h(level));
    locked.bits = image_->cpu[level].data() + size_t(b.front) * locked.slicePitch + size_t(b.top) * locked.rowPitch +
                  size_t(b.left) * formatBytes(image_->format);
    return S_OK;
  }
  HRESULT unlockBox(uint32_t level) override {
    if (HRESULT f = takeGpuFault(GpuCall::UnlockBox)) return f;
    return image_->gpu() ? D3DERR_INVALIDCALL : S_OK;
  }
  const ImageRef& image() const { return image_; }

 private:
  ImageRef image_;
};

struct Buffer {
  std::vector<uint8_t> shadow;
  GLuint id = 0;
  void realize() {
    if (id) return;
    glGenBuffers(1, &id);
    glBindBuffer(GL_ARRAY_BUFFER, id);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(shadow.size()), shadow.data(), GL_DYNAMIC_DRAW);
  }
  ~Buffer() {
    if (!id) return;
    GLuint b = id;
    if (onGlThread())
      glDeleteBuffers(1, &b);
    else if (g_gl)
      enqueue([b] { glDeleteBuffers(1, &b); });
  }
};

class VertexBufferImpl : public Counted<VertexBuffer> {
 public:
  explicit VertexBufferImpl(std::shared_ptr<Buffer> buffer) : buffer_(std::move(buffer)) {}
  HRESULT lock(uint32_t offset, uint32_t size, void** data, uint32_t flags) override {
    if (HRESULT f = takeGpuFault(GpuCall::LockVertexBuffer)) return f;
    uint32_t total = static_cast<uint32_t>(buffer_->shadow.size());
    if (!data || offset > total) return D3DERR_INVALIDCALL;
    if (size == 0) size = total - offset;
    if (size > total - offset) return D3DERR_INVALIDCALL;
    lockOffset_ = offset;
    lockSize_ = size;
    *data = buffer_->shadow.data() + offset;
    return S_OK;
  }
  HRESULT unlock() override {
    if (HRESULT f = takeGpuFault(GpuCall::UnlockVertexBuffer)) return f;
    uint32_t offset = lockOffset_, size = lockSize_;
    if (size == 0) return S_OK;
    auto buffer = buffer_;
    if (onGlThread()) {
      runOnGl([buffer, offset, size] {
        buffer->realize();
        glBindBuffer(GL_ARRAY_BUFFER, buffer->id);
        glBufferSubData(GL_ARRAY_BUFFER, offset, size, buffer->shadow.data() + offset);
      });
    } else {
      std::vector<uint8_t> copy(buffer->shadow.begin() + offset, buffer->shadow.begin() + offset + size);
      enqueue([buffer, offset, copy = std::move(copy)] {
        buffer->realize();
        glBindBuffer(GL_ARRAY_BUFFER, buffer->id);
        glBufferSubData(GL_ARRAY_BUFFER, offset, static_cast<GLsizeiptr>(copy.size()), copy.data());
      });
    }
    lockSize_ = 0;
    return S_OK;
  }
  const std::shared_ptr<Buffer>& buffer() const { return buffer_; }

 private:
  std::shared_ptr<Buffer> buffer_;
  uint32_t lockOffset_ = 0, lockSize_ = 0;
};

struct ProgramHolder {
  Program program;
  HRESULT result = S_OK;
  ~ProgramHolder() {
    if (!program.id) return;
    GLuint p = program.id;
    if (onGlThread())
      glDeleteProgram(p);
    else if (g_gl)
      enqueue([p] { glDeleteProgram(p); });
  }
};

class ShaderImpl : public Counted<Shader> {
 public:
  explicit ShaderImpl(std::shared_ptr<ProgramHolder> p) : program_(std::move(p)) {}
  const std::shared_ptr<ProgramHolder>& program() const { return program_; }

 private:
  std::shared_ptr<ProgramHolder> program_;
};

// A window and its back buffer.
class SwapChainImpl : public Counted<SwapChain> {
 public:
  // An additional chain holds its device; the implicit one is held by it.
  SwapChainImpl(DeviceImpl* device, const PresentParameters& params, SurfaceImpl* back, bool windows, bool holdsDevice);
  ~SwapChainImpl() override;
  HRESULT present(const Rect* source, const Rect* dest, uintptr_t window, const void* dirty, uint32_t flags) override;
  HRESULT getBackBuffer(uint32_t index, uint32_t type, Surface** surface) override {
    if (HRESULT f = takeGpuFault(GpuCall::GetBackBuffer)) return f;
    if (index != 0 || !surface) return D3DERR_INVALIDCALL;
    back_->addRef();
    *surface = back_;
    return S_OK;
  }
  SurfaceImpl* back() const { return back_; }
  const PresentParameters& params() const { return params_; }
  int presents() const { return presents_; }

 private:
  DeviceImpl* device_;
  PresentParameters params_;
  SurfaceImpl* back_;
  bool windows_;
  bool holdsDevice_;
  int presents_ = 0;
};

HRESULT makeBackBuffer(const PresentParameters& params, SurfaceImpl*& out) {
  uint32_t w = params.backBufferWidth ? params.backBufferWidth : 1;
  uint32_t h = params.backBufferHeight ? params.backBufferHeight : 1;
  ImageRef img;
  HRESULT hr = makeImage(w, h, 1, 1, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, false, img);
  if (hr != S_OK) return hr;
  out = new SurfaceImpl(img);
  return S_OK;
}

GLenum blendFactor(uint32_t v) {
  switch (v) {
    case D3DBLEND_ZERO: return GL_ZERO;
    case D3DBLEND_ONE: return GL_ONE;
    case D3DBLEND_SRCCOLOR: return GL_SRC_COLOR;
    case D3DBLEND_INVSRCCOLOR: return GL_ONE_MINUS_SRC_COLOR;
    case D3DBLEND_SRCALPHA: return GL_SRC_ALPHA;
    case D3DBLEND_INVSRCALPHA: return GL_ONE_MINUS_SRC_ALPHA;
    case D3DBLEND_DESTALPHA: return GL_DST_ALPHA;
    case D3DBLEND_INVDESTALPHA: return GL_ONE_MINUS_DST_ALPHA;
    default: return GL_ONE;
  }
}

GLenum blendOp(uint32_t v) {
  switch (v) {
    case D3DBLENDOP_SUBTRACT: return GL_FUNC_SUBTRACT;
    case D3DBLENDOP_REVSUBTRACT: return GL_FUNC_REVERSE_SUBTRACT;
    case D3DBLENDOP_MIN: return GL_MIN;
    case D3DBLENDOP_MAX: return GL_MAX;
    default: return GL_FUNC_ADD;
  }
}

GLint addressMode(uint32_t v) {
  switch (v) {
    case D3DTADDRESS_MIRROR: return GL_MIRRORED_REPEAT;
    case D3DTADDRESS_CLAMP: return GL_CLAMP_TO_EDGE;
    default: return GL_REPEAT;
  }
}

void multiply(const float* a, const float* b, float* out) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) {
      float s = 0;
      for (int k = 0; k < 4; ++k) s += a[r * 4 + k] * b[k * 4 + c];
      out[r * 4 + c] = s;
    }
}

class DeviceImpl : public Counted<Device> {
 public:
  DeviceImpl(const PresentParameters& params, bool windows) : windows_(windows) {
    for (int s = 0; s < kMaxStages; ++s) {
      sampler_[s][D3DSAMP_ADDRESSU] = sampler_[s][D3DSAMP_ADDRESSV] = sampler_[s][D3DSAMP_ADDRESSW] = D3DTADDRESS_WRAP;
      sampler_[s][D3DSAMP_MAGFILTER] = sampler_[s][D3DSAMP_MINFILTER] = D3DTEXF_POINT;
      sampler_[s][D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
      sampler_[s][D3DSAMP_MAXANISOTROPY] = 1;
      stage_[s][D3DTSS_COLOROP] = s == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
      stage_[s][D3DTSS_ALPHAOP] = s == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
      stage_[s][D3DTSS_COLORARG1] = stage_[s][D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
      stage_[s][D3DTSS_COLORARG2] = stage_[s][D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
    }
    render_[D3DRS_ZENABLE] = 0;
    render_[D3DRS_FILLMODE] = D3DFILL_SOLID;
    render_[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
    render_[D3DRS_SRCBLEND] = D3DBLEND_ONE;
    render_[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
    render_[D3DRS_CULLMODE] = D3DCULL_CCW;
    render_[D3DRS_LIGHTING] = 1;
    render_[D3DRS_BLENDOP] = D3DBLENDOP_ADD;
    render_[D3DRS_SRCBLENDALPHA] = D3DBLEND_ONE;
    render_[D3DRS_DESTBLENDALPHA] = D3DBLEND_ZERO;
    render_[D3DRS_BLENDOPALPHA] = D3DBLENDOP_ADD;
    params_ = params;
  }

  HRESULT init() {
    SurfaceImpl* back = nullptr;
    HRESULT hr = makeBackBuffer(params_, back);
    if (hr != S_OK) return hr;
    implicit_ = new SwapChainImpl(this, params_, back, windows_, false);
    setTarget(back);
    resetViewport();
    return S_OK;
  }

  ~DeviceImpl() override {
    for (int s = 0; s < kMaxStages; ++s)
      if (textures_[s]) textures_[s]->release();
    if (target_) target_->release();
    if (stream_) stream_->release();
    if (pixelShader_) pixelShader_->release();
    if (implicit_) implicit_->release();
  }

  HRESULT checkDeviceState(uintptr_t window) override {
    if (HRESULT f = takeGpuFault(GpuCall::CheckDeviceState)) return f;
    if (windows_) {
      auto* w = static_cast<SDL_Window*>(nativeWindowFor(window));
      if (w && (SDL_GetWindowFlags(w) & SDL_WINDOW_MINIMIZED)) return S_PRESENT_OCCLUDED;
    }
    return S_OK;
  }

  HRESULT reset(PresentParameters& params) override { return resetEx(params, nullptr); }
  HRESULT resetEx(PresentParameters& params, const DisplayMode*) override {
    lost_ = false;
    if (HRESULT f = fault(GpuCall::Reset)) return f;
    SurfaceImpl* back = nullptr;
    HRESULT hr = makeBackBuffer(params, back);
    if (hr != S_OK) return hr;
    params_ = params;
    if (implicit_) implicit_->release();
    implicit_ = new SwapChainImpl(this, params_, back, windows_, false);
    setTarget(back);
    resetViewport();
    return S_OK;
  }

  HRESULT createAdditionalSwapChain(PresentParameters& params, SwapChain** chain) override {
    if (HRESULT f = fault(GpuCall::CreateSwapChain)) return f;
    if (!chain) return D3DERR_INVALIDCALL;
    SurfaceImpl* back = nullptr;
    HRESULT hr = makeBackBuffer(params, back);
    if (hr != S_OK) return hr;
    *chain = new SwapChainImpl(this, params, back, windows_, true);
    return S_OK;
  }

  HRESULT getSwapChain(uint32_t index, SwapChain** chain) override {
    if (HRESULT f = fault(GpuCall::CreateSwapChain)) return f;
    if (index != 0 || !chain) return D3DERR_INVALIDCALL;
    implicit_->addRef();
    *chain = implicit_;
    return S_OK;
  }

  HRESULT getBackBuffer(uint32_t chain, uint32_t index, uint32_t type, Surface** surface) override {
    if (chain != 0) return D3DERR_INVALIDCALL;
    return implicit_->getBackBuffer(index, type, surface);
  }

  HRESULT presentEx(const Rect* source, const Rect* dest, uintptr_t window, const void* dirty, uint32_t flags) override {
    return implicit_->present(source, dest, window, dirty, flags);
  }

  HRESULT beginScene() override {
    if (HRESULT f = fault(GpuCall::BeginScene)) return f;
    if (inScene_) return D3DERR_INVALIDCALL;
    drainQueue();
    inScene_ = true;
    return S_OK;
  }
  HRESULT endScene() override {
    if (HRESULT f = fault(GpuCall::EndScene)) return f;
    if (!inScene_) return D3DERR_INVALIDCALL;
    inScene_ = false;
    return S_OK;
  }

  HRESULT clear(uint32_t count, const Rect* rects, uint32_t flags, uint32_t color, float z, uint32_t) override {
    if (HRESULT f = fault(GpuCall::Clear)) return f;
    if (!onGlThread()) return D3DERR_INVALIDCALL;
    drainQueue();
    if (!(flags & D3DCLEAR_TARGET)) return S_OK;
    if (!bindTarget()) return D3DERR_INVALIDCALL;
    glClearColor(((color >> 16) & 255) / 255.0f, ((color >> 8) & 255) / 255.0f, (color & 255) / 255.0f,
                 (color >> 24) / 255.0f);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glEnable(GL_SCISSOR_TEST);
    Rect vp{static_cast<int32_t>(viewport_.x), static_cast<int32_t>(viewport_.y),
            static_cast<int32_t>(viewport_.x + viewport_.width), static_cast<int32_t>(viewport_.y + viewport_.height)};
    SurfaceDesc td;
    target_->getDesc(td);
    auto clearRect = [&td](const Rect& r) {
      if (r.right <= r.left || r.bottom <= r.top) return;
      // A clear of the whole target takes the driver's fast path.
      bool whole = r.left <= 0 && r.top <= 0 && r.right >= static_cast<int32_t>(td.width) &&
                   r.bottom >= static_cast<int32_t>(td.height);
      if (whole) glDisable(GL_SCISSOR_TEST);
      glScissor(r.left, r.top, r.right - r.left, r.bottom - r.top);
      glClear(GL_COLOR_BUFFER_BIT);
      glEnable(GL_SCISSOR_TEST);
    };
    if (count == 0 || !rects) {
      clearRect(vp);
    } else {
      for (uint32_t i = 0; i < count; ++i) {
        Rect r{std::max(rects[i].left, vp.left), std::max(rects[i].top, vp.top), std::min(rects[i].right, vp.right),
               std::min(rects[i].bottom, vp.bottom)};
        clearRect(r);
      }
    }
    glDisable(GL_SCISSOR_TEST);
    return S_OK;
  }

  HRESULT setRenderTarget(uint32_t index, Surface* surface) override {
    if (HRESULT f = fault(GpuCall::SetRenderTarget)) return f;
    auto* s = static_cast<SurfaceImpl*>(surface);
    if (index != 0 || !s || !s->image()->renderTarget()) return D3DERR_INVALIDCALL;
    setTarget(s);
    resetViewport();
    return S_OK;
  }

  HRESULT setViewport(const Viewport& viewport) override {
    if (HRESULT f = fault(GpuCall::SetViewport)) return f;
    viewport_ = viewport;
    return S_OK;
  }

  HRESULT setFVF(uint32_t fvf) override {
    if (HRESULT f = fault(GpuCall::SetState)) return f;
    fvf_ = fvf;
    return S_OK;
  }

  HRESULT setStreamSource(uint32_t stream, VertexBuffer* buffer, uint32_t offset, uint32_t stride) override {
    if (HRESULT f = fault(GpuCall::SetState)) return f;
    if (stream != 0) return D3DERR_INVALIDCALL;
    auto* b = static_cast<VertexBufferImpl*>(buffer);
    if (b) b->addRef();
    if (stream_) stream_->release();
    stream_ = b;
    streamOffset_ = offset;
    stride_ = stride;
    return S_OK;
  }

  HRESULT setRenderState(uint32_t state, uint32_t value) override {
    if (HRESULT f = fault(GpuCall::SetState)) return f;
    if (state >= D3DRS_COUNT) return D3DERR_INVALIDCALL;
    render_[state] = value;
    return S_OK;
  }

  HRESULT setSamplerState(uint32_t stage, uint32_t state, uint32_t value) override {
    if (HRESULT f = fault(GpuCall::SetState)) return f;
    if (stage >= kMaxStages || state >= D3DSAMP_COUNT) return D3DERR_INVALIDCALL;
    sampler_[stage][state] = value;
    return S_OK;
  }

  HRESULT setTextureStageState(uint32_t stage, uint32_t state, uint32_t value) override {
    if (HRESULT f = fault(GpuCall::SetState)) return f;
    if (stage >= kMaxStages || state >= D3DTSS_COUNT) return D3DERR_INVALIDCALL;
    stage_[stage][state] = value;
    return S_OK;
  }

  HRESULT setTexture(uint32_t stage, GpuObject* texture) override {
    if (HRESULT f = fault(GpuCall::SetTexture)) return f;
    if (stage >= kMaxStages) return D3DERR_INVALIDCALL;
    if (texture) texture->addRef();
    if (textures_[stage]) textures_[stage]->release();
    textures_[stage] = texture;
    return S_OK;
  }

  HRESULT setTransform(uint32_t which, const Matrix& matrix) override {
    if (HRESULT f = fault(GpuCall::SetTransform)) return f;
    switch (which) {
      case D3DTS_WORLD: world_ = matrix; break;
      case D3DTS_VIEW: view_ = matrix; break;
      case D3DTS_PROJECTION: projection_ = matrix; break;
      default: return D3DERR_INVALIDCALL;
    }
    return S_OK;
  }

  HRESULT drawPrimitive(uint32_t type, uint32_t start, uint32_t count) override;

  HRESULT updateTexture(GpuObject* source, GpuObject* dest) override {
    if (HRESULT f = fault(GpuCall::UpdateTexture)) return f;
    ImageRef src = imageOf(source), dst = imageOf(dest);
    if (!src || !dst || src->gpu() || !dst->gpu() || src->volume != dst->volume || src->format != dst->format ||
        src->width != dst->width || src->height != dst->height || src->depth != dst->depth ||
        src->levels < dst->levels)
      return D3DERR_INVALIDCALL;
    if (onGlThread()) {
      drainQueue();
      for (uint32_t l = 0; l < dst->levels; ++l) dst->upload(l, src->cpu[l].data());
      return dst->glResult;
    }
    // The system copy goes back to its pool at once: the upload takes a copy.
    std::vector<std::vector<uint8_t>> copy(src->cpu.begin(), src->cpu.begin() + dst->levels);
    enqueue([dst, copy = std::move(copy)] {
      for (uint32_t l = 0; l < copy.size(); ++l) dst->upload(l, copy[l].data());
    });
    return S_OK;
  }

  HRESULT stretchRect(Surface* source, const Rect* sourceRect, Surface* dest, const Rect* destRect,
                      uint32_t filter) override {
    if (HRESULT f = fault(GpuCall::StretchRect)) return f;
    auto* s = static_cast<SurfaceImpl*>(source);
    auto* d = static_cast<SurfaceImpl*>(dest);
    if (!s || !d || s == d || !s->image()->renderTarget() || !d->image()->renderTarget() || !onGlThread())
      return D3DERR_INVALIDCALL;
    drainQueue();
    SurfaceDesc sd, dd;
    s->getDesc(sd);
    d->getDesc(dd);
    Rect sr{0, 0, static_cast<int32_t>(sd.width), static_cast<int32_t>(sd.height)};
    Rect dr{0, 0, static_cast<int32_t>(dd.width), static_cast<int32_t>(dd.height)};
    if (sourceRect) sr = *sourceRect;
    if (destRect) dr = *destRect;
    glBindFramebuffer(GL_READ_FRAMEBUFFER, s->image()->fbo);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, d->image()->fbo);
    glBlitFramebuffer(sr.left, sr.top, sr.right, sr.bottom, dr.left, dr.top, dr.right, dr.bottom,
                      GL_COLOR_BUFFER_BIT, filter == D3DTEXF_LINEAR ? GL_LINEAR : GL_NEAREST);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    return S_OK;
  }

  HRESULT getRenderTargetData(Surface* renderTarget, Surface* dest) override {
    if (HRESULT f = fault(GpuCall::GetRenderTargetData)) return f;
    auto* s = static_cast<SurfaceImpl*>(renderTarget);
    auto* d = static_cast<SurfaceImpl*>(dest);
    if (!s || !d || !s->image()->renderTarget() || d->image()->gpu() || !onGlThread()) return D3DERR_INVALIDCALL;
    SurfaceDesc sd, dd;
    s->getDesc(sd);
    d->getDesc(dd);
    if (sd.width != dd.width || sd.height != dd.height || formatBytes(sd.format) != formatBytes(dd.format))
      return D3DERR_INVALIDCALL;
    drainQueue();
    const Image& img = *s->image();
    glBindFramebuffer(GL_READ_FRAMEBUFFER, img.fbo);
    glReadPixels(0, 0, static_cast<GLsizei>(sd.width), static_cast<GLsizei>(sd.height), img.gl.format, img.gl.type,
                 d->image()->cpu[d->level()].data());
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    return S_OK;
  }

  HRESULT createOffscreenPlainSurface(uint32_t width, uint32_t height, uint32_t format, uint32_t pool,
                                      Surface** surface) override {
    if (HRESULT f = fault(GpuCall::CreateSurface)) return f;
    if (!surface || pool != D3DPOOL_SYSTEMMEM) return D3DERR_INVALIDCALL;
    ImageRef img;
    HRESULT hr = makeImage(width, height, 1, 1, 0, format, pool, false, img);
    if (hr != S_OK) return hr;
    *surface = new SurfaceImpl(img);
    return S_OK;
  }

  HRESULT createTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage, uint32_t format,
                        uint32_t pool, Texture** texture) override {
    if (HRESULT f = fault(GpuCall::CreateTexture)) return f;
    if (!texture || ((usage & D3DUSAGE_RENDERTARGET) && pool != D3DPOOL_DEFAULT)) return D3DERR_INVALIDCALL;
    ImageRef img;
    HRESULT hr = makeImage(width, height, 1, levels, usage, format, pool, false, img);
    if (hr != S_OK) return hr;
    *texture = new TextureImpl(img);
    return S_OK;
  }

  HRESULT createVolumeTexture(uint32_t width, uint32_t height, uint32_t depth, uint32_t levels, uint32_t usage,
                              uint32_t format, uint32_t pool, VolumeTexture** texture) override {
    if (HRESULT f = fault(GpuCall::CreateVolumeTexture)) return f;
    if (!texture || usage != 0) return D3DERR_INVALIDCALL;
    ImageRef img;
    HRESULT hr = makeImage(width, height, depth, levels, 0, format, pool, true, img);
    if (hr != S_OK) return hr;
    *texture = new VolumeImpl(img);
    return S_OK;
  }

  HRESULT createVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool,
                             VertexBuffer** buffer) override {
    if (HRESULT f = fault(GpuCall::CreateVertexBuffer)) return f;
    if (!buffer || length == 0) return D3DERR_INVALIDCALL;
    auto b = std::make_shared<Buffer>();
    try {
      b->shadow.assign(length, 0);
    } catch (const std::bad_alloc&) {
      return D3DERR_OUTOFVIDEOMEMORY;
    }
    runOnGl([b] { b->realize(); });
    *buffer = new VertexBufferImpl(b);
    return S_OK;
  }

  HRESULT createPixelShader(const void* code, uint32_t length, Shader** shader) override {
    if (HRESULT f = fault(GpuCall::CreateShader)) return f;
    if (!code || !shader) return D3DERR_INVALIDCALL;
    auto holder = std::make_shared<ProgramHolder>();
    std::string source = std::string(kFragmentHeader) + std::string(static_cast<const char*>(code), length);
    auto build = [holder, source] {
      GLuint fs = compile(GL_FRAGMENT_SHADER, source, nullptr);
      if (!fs || !link(holder->program, fs)) holder->result = D3DERR_INVALIDCALL;
      if (fs) glDeleteShader(fs);
    };
    if (onGlThread()) {
      drainQueue();
      build();
      if (holder->result != S_OK) return holder->result;
    } else {
      enqueue(build);
    }
    *shader = new ShaderImpl(holder);
    return S_OK;
  }

  // The Parts never make vertex shaders; the fixed vertex stage serves all.
  HRESULT createVertexShader(const void*, uint32_t, Shader**) override {
    if (HRESULT f = fault(GpuCall::CreateShader)) return f;
    return E_NOTIMPL;
  }

  HRESULT setPixelShader(Shader* shader) override {
    if (HRESULT f = fault(GpuCall::SetShader)) return f;
    auto* s = static_cast<ShaderImpl*>(shader);
    if (s) s->addRef();
    if (pixelShader_) pixelShader_->release();
    pixelShader_ = s;
    return S_OK;
  }

  HRESULT setVertexShader(Shader* shader) override {
    if (HRESULT f = fault(GpuCall::SetShader)) return f;
    return shader ? D3DERR_INVALIDCALL : S_OK;
  }

  HRESULT setPixelShaderConstantF(uint32_t reg, const float* data, uint32_t count) override {
    if (HRESULT f = fault(GpuCall::SetShaderConstants)) return f;
    if (!data || reg + count > kMaxShaderConstants) return D3DERR_INVALIDCALL;
    std::memcpy(&pixelConsts_[reg * 4], data, count * 4 * sizeof(float));
    return S_OK;
  }

  HRESULT setVertexShaderConstantF(uint32_t reg, const float* data, uint32_t count) override {
    if (HRESULT f = fault(GpuCall::SetShaderConstants)) return f;
    if (!data || reg + count > kMaxShaderConstants) return D3DERR_INVALIDCALL;
    return S_OK;  // kept by nobody: no vertex shader runs
  }

  bool windows() const { return windows_; }

  // An injected answer for the call. A device that answered DEVICELOST stays
  // lost, as a real one does, until it is reset.
  HRESULT fault(GpuCall call) {
    if (lost_) return D3DERR_DEVICELOST;
    HRESULT f = takeGpuFault(call);
    if (f == D3DERR_DEVICELOST) lost_ = true;
    return f;
  }

 private:
  static ImageRef imageOf(GpuObject* o) {
    if (auto* t = dynamic_cast<TextureImpl*>(o)) return t->image();
    if (auto* v = dynamic_cast<VolumeImpl*>(o)) return v->image();
    return nullptr;
  }

  void setTarget(SurfaceImpl* s) {
    s->addRef();
    if (target_) target_->release();
    target_ = s;
  }

  void resetViewport() {
    SurfaceDesc d;
    target_->getDesc(d);
    viewport_ = {0, 0, d.width, d.height, 0, 1};
  }

  bool bindTarget() {
    Image& img = *target_->image();
    img.realize();
    if (!img.fbo) return false;
    glBindFramebuffer(GL_FRAMEBUFFER, img.fbo);
    glViewport(static_cast<GLint>(viewport_.x), static_cast<GLint>(viewport_.y),
               static_cast<GLsizei>(viewport_.width), static_cast<GLsizei>(viewport_.height));
    glDepthRange(viewport_.minZ, viewport_.maxZ);
    return true;
  }

  void applySampler(int s, bool hasMips) {
    const uint32_t* st = sampler_[s];
    GLuint id = g_gl->samplers[s];
    glSamplerParameteri(id, GL_TEXTURE_WRAP_S, addressMode(st[D3DSAMP_ADDRESSU]));
    glSamplerParameteri(id, GL_TEXTURE_WRAP_T, addressMode(st[D3DSAMP_ADDRESSV]));
    glSamplerParameteri(id, GL_TEXTURE_WRAP_R, addressMode(st[D3DSAMP_ADDRESSW]));
    bool linearMin = st[D3DSAMP_MINFILTER] != D3DTEXF_POINT;
    GLint minFilter = linearMin ? GL_LINEAR : GL_NEAREST;
    if (hasMips && st[D3DSAMP_MIPFILTER] == D3DTEXF_POINT)
      minFilter = linearMin ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
    else if (hasMips && st[D3DSAMP_MIPFILTER] == D3DTEXF_LINEAR)
      minFilter = linearMin ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
    glSamplerParameteri(id, GL_TEXTURE_MIN_FILTER, minFilter);
    glSamplerParameteri(id, GL_TEXTURE_MAG_FILTER, st[D3DSAMP_MAGFILTER] == D3DTEXF_POINT ? GL_NEAREST : GL_LINEAR);
    if (g_gl->anisotropic) {
      float a = st[D3DSAMP_MINFILTER] == D3DTEXF_ANISOTROPIC && !g_gl->anisotropyBlurs
                    ? std::clamp(static_cast<float>(st[D3DSAMP_MAXANISOTROPY]), 1.0f, g_gl->maxAnisotropy)
                    : 1.0f;
      glSamplerParameterf(id, GL_TEXTURE_MAX_ANISOTROPY_EXT, a);
    }
    float bias;
    std::memcpy(&bias, &st[D3DSAMP_MIPMAPLODBIAS], sizeof bias);
    glSamplerParameterf(id, GL_TEXTURE_LOD_BIAS, std::isfinite(bias) ? bias : 0.0f);
  }

  void applyBlend() {
    if (!render_[D3DRS_ALPHABLENDENABLE]) {
      glDisable(GL_BLEND);
    } else {
      glEnable(GL_BLEND);
      GLenum src = blendFactor(render_[D3DRS_SRCBLEND]), dst = blendFactor(render_[D3DRS_DESTBLEND]);
      GLenum op = blendOp(render_[D3DRS_BLENDOP]);
      if (render_[D3DRS_SEPARATEALPHABLENDENABLE])
        glBlendFuncSeparate(src, dst, blendFactor(render_[D3DRS_SRCBLENDALPHA]),
                            blendFactor(render_[D3DRS_DESTBLENDALPHA]));
      else
        glBlendFuncSeparate(src, dst, src, dst);
      glBlendEquationSeparate(op, render_[D3DRS_SEPARATEALPHABLENDENABLE] ? blendOp(render_[D3DRS_BLENDOPALPHA]) : op);
    }
    switch (render_[D3DRS_CULLMODE]) {
      case D3DCULL_NONE:
        glDisable(GL_CULL_FACE);
        break;
      case D3DCULL_CW:
        glEnable(GL_CULL_FACE);
        glFrontFace(GL_CW);
        glCullFace(GL_BACK);
        break;
      default:
        glEnable(GL_CULL_FACE);
        glFrontFace(GL_CCW);
        glCullFace(GL_BACK);
        break;
    }
    glPolygonMode(GL_FRONT_AND_BACK, render_[D3DRS_FILLMODE] == D3DFILL_WIREFRAME ? GL_LINE : GL_FILL);
  }

  friend class SwapChainImpl;
  bool windows_;
  PresentParameters params_;
  SwapChainImpl* implicit_ = nullptr;
  SurfaceImpl* target_ = nullptr;
  Viewport viewport_;
  uint32_t fvf_ = 0;
  VertexBufferImpl* stream_ = nullptr;
  uint32_t streamOffset_ = 0, stride_ = 0;
  uint32_t render_[D3DRS_COUNT] = {};
  uint32_t sampler_[kMaxStages][D3DSAMP_COUNT] = {};
  uint32_t stage_[kMaxStages][D3DTSS_COUNT] = {};
  GpuObject* textures_[kMaxStages] = {};
  Matrix world_, view_, projection_;
  ShaderImpl* pixelShader_ = nullptr;
  float pixelConsts_[kMaxShaderConstants * 4] = {};
  bool inScene_ = false;
  std::atomic<bool> lost_{false};
};

HRESULT DeviceImpl::drawPrimitive(uint32_t type, uint32_t start, uint32_t count) {
  if (HRESULT f = fault(GpuCall::DrawPrimitive)) return f;
  if (!onGlThread() || !stream_ || stride_ == 0 || !(fvf_ & D3DFVF_XYZ)) return D3DERR_INVALIDCALL;
  GLenum mode;
  GLsizei vertices;
  switch (type) {
    case D3DPT_POINTLIST: mode = GL_POINTS; vertices = count; break;
    case D3DPT_LINELIST: mode = GL_LINES; vertices = count * 2; break;
    case D3DPT_LINESTRIP: mode = GL_LINE_STRIP; vertices = count + 1; break;
    case D3DPT_TRIANGLELIST: mode = GL_TRIANGLES; vertices = count * 3; break;
    case D3DPT_TRIANGLESTRIP: mode = GL_TRIANGLE_STRIP; vertices = count + 2; break;
    case D3DPT_TRIANGLEFAN: mode = GL_TRIANGLE_FAN; vertices = count + 2; break;
    default: return D3DERR_INVALIDCALL;
  }
  if (count == 0) return S_OK;
  const Buffer& buf = *stream_->buffer();
  if (size_t(streamOffset_) + size_t(start + vertices) * stride_ > buf.shadow.size()) return D3DERR_INVALIDCALL;
  drainQueue();
  if (!bindTarget()) return D3DERR_INVALIDCALL;


  // Textures and their samplers; the fixed stages run up to the first
  // disabled stage or the first stage without a 2-D texture.
  int stages = 0;
  bool counting = true;
  GLint colorOps[kMaxStages], alphaOps[kMaxStages];
  for (int s = 0; s < kMaxStages; ++s) {
    colorOps[s] = static_cast<GLint>(stage_[s][D3DTSS_COLOROP]);
    alphaOps[s] = static_cast<GLint>(stage_[s][D3DTSS_ALPHAOP]);
    ImageRef img = imageOf(textures_[s]);
    if (img && img->gpu()) {
      img->realize();
      glActiveTexture(GL_TEXTURE0 + (img->volume ? kMaxStages + s : s));
      glBindTexture(img->volume ? GL_TEXTURE_3D : GL_TEXTURE_2D, img->tex);
      glBindSampler(img->volume ? kMaxStages + s : s, g_gl->samplers[s]);
      applySampler(s, img->levels > 1);
    }
    if (counting && img && img->gpu() && !img->volume && stage_[s][D3DTSS_COLOROP] != D3DTOP_DISABLE)
      ++stages;
    else
      counting = false;
  }
  glActiveTexture(GL_TEXTURE0);

  // The program: a pixel shader, else the fixed-function stages.
  const Program* p = nullptr;
  if (pixelShader_) {
    if (pixelShader_->program()->result != S_OK || !pixelShader_->program()->program.id) return D3DERR_INVALIDCALL;
    p = &pixelShader_->program()->program;
  } else {
    p = fixedVariant(stages, colorOps, alphaOps, (fvf_ & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT);
    if (!p) p = &g_gl->fixed;
  }
  glUseProgram(p->id);
  float wv[16], wvp[16];
  multiply(world_.m, view_.m, wv);
  multiply(wv, projection_.m, wvp);
  glUniformMatrix4fv(p->wvp, 1, GL_FALSE, wvp);
  glUniform2f(p->halfPixel, viewport_.width ? 1.0f / viewport_.width : 0.0f,
              viewport_.height ? 1.0f / viewport_.height : 0.0f);
  if (p->consts >= 0) glUniform4fv(p->consts, kMaxShaderConstants, pixelConsts_);
  if (p->stages >= 0) {
    glUniform1i(p->stages, stages);
    glUniform1iv(p->colorOp, kMaxStages, colorOps);
    glUniform1iv(p->alphaOp, kMaxStages, alphaOps);
  }

  // The vertex layout of the flexible vertex format.
  glBindVertexArray(g_gl->vao);
  glBindBuffer(GL_ARRAY_BUFFER, buf.id);
  uintptr_t off = streamOffset_;
  GLsizei stride = static_cast<GLsizei>(stride_);
  glEnableVertexAttribArray(0);
  glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<void*>(off));
  off += 12;
  if (fvf_ & D3DFVF_NORMAL) off += 12;
  if (fvf_ & D3DFVF_DIFFUSE) {
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(1, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, stride, reinterpret_cast<void*>(off));
    off += 4;
  } else {
    glDisableVertexAttribArray(1);
    glVertexAttrib4f(1, 1, 1, 1, 1);
  }
  if (fvf_ & D3DFVF_SPECULAR) off += 4;
  uint32_t sets = (fvf_ & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
  for (uint32_t t = 0; t < 8; ++t) {
    if (t < sets) {
      glEnableVertexAttribArray(2 + t);
      glVertexAttribPointer(2 + t, 2, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<void*>(off));
      off += 8;
    } else {
      glDisableVertexAttribArray(2 + t);
      glVertexAttrib4f(2 + t, 0, 0, 0, 1);
    }
  }
  applyBlend();
  glDisable(GL_DEPTH_TEST);
  glDrawArrays(mode, static_cast<GLint>(start), vertices);
  return glGetError() == GL_OUT_OF_MEMORY ? D3DERR_OUTOFVIDEOMEMORY : S_OK;
}

SwapChainImpl::SwapChainImpl(DeviceImpl* device, const PresentParameters& params, SurfaceImpl* back, bool windows,
                             bool holdsDevice)
    : device_(device), params_(params), back_(back), windows_(windows), holdsDevice_(holdsDevice) {
  if (holdsDevice_) device_->addRef();
}

SwapChainImpl::~SwapChainImpl() {
  back_->release();
  if (holdsDevice_) device_->release();
}

HRESULT SwapChainImpl::present(const Rect* source, const Rect* dest, uintptr_t window, const void*, uint32_t) {
  if (HRESULT f = device_->fault(GpuCall::Present)) return f;
  if (!onGlThread()) return D3DERR_INVALIDCALL;
  drainQueue();
  ++presents_;
  if (!windows_) return S_OK;
  auto* native = static_cast<SDL_Window*>(nativeWindowFor(window ? window : params_.deviceWindow));
  if (!native) return S_OK;
  if (SDL_GetWindowFlags(native) & SDL_WINDOW_MINIMIZED) return S_PRESENT_OCCLUDED;
  const Image& img = *back_->image();
  if (SDL_GL_MakeCurrent(native, g_gl->context) != 0) return S_OK;
  SDL_GL_SetSwapInterval(params_.presentationInterval == D3DPRESENT_INTERVAL_IMMEDIATE ? 0 : 1);
  int ww = 0, wh = 0;
  SDL_GL_GetDrawableSize(native, &ww, &wh);
  Rect sr{0, 0, static_cast<int32_t>(img.width), static_cast<int32_t>(img.height)};
  Rect dr{0, 0, ww, wh};
  if (source) sr = *source;
  if (dest) dr = *dest;
  glBindFramebuffer(GL_READ_FRAMEBUFFER, img.fbo);
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
  // The window counts rows from the bottom: the one flip of the pipeline.
  glBlitFramebuffer(sr.left, sr.top, sr.right, sr.bottom, dr.left, wh - dr.top, dr.right, wh - dr.bottom,
                    GL_COLOR_BUFFER_BIT, GL_NEAREST);
  SDL_GL_SwapWindow(native);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  SDL_GL_MakeCurrent(g_gl->window, g_gl->context);
  return S_OK;
}

// ---------------------------------------------------------------- engine

uint32_t vendorIdFrom(const std::string& vendor, const std::string& renderer) {
  std::string all = vendor + " " + renderer;
  std::string lower;
  for (char ch : all) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  if (lower.find("intel") != std::string::npos) return 0x8086;
  if (lower.find("nvidia") != std::string::npos) return 0x10DE;
  if (lower.find("amd") != std::string::npos || lower.find("ati ") != std::string::npos) return 0x1002;
  return 0;
}

class Direct3DImpl : public Counted<Direct3D> {
 public:
  explicit Direct3DImpl(bool windows) : windows_(windows) {}

  uint32_t getAdapterCount() override {
    int n = SDL_GetNumVideoDisplays();
    return n > 0 ? static_cast<uint32_t>(n) : 1;
  }

  HRESULT getAdapterDisplayMode(uint32_t adapter, DisplayMode& mode) override {
    if (HRESULT f = takeGpuFault(GpuCall::GetAdapterDisplayMode)) return f;
    if (adapter >= getAdapterCount()) return D3DERR_INVALIDCALL;
    SDL_DisplayMode m{};
    if (SDL_GetCurrentDisplayMode(static_cast<int>(adapter), &m) == 0) {
      mode.width = static_cast<uint32_t>(m.w);
      mode.height = static_cast<uint32_t>(m.h);
      mode.refreshRate = m.refresh_rate > 0 ? static_cast<uint32_t>(m.refresh_rate) : 60;
    } else {
      mode.width = 1024;
      mode.height = 768;
      mode.refreshRate = 60;
    }
    mode.format = D3DFMT_X8R8G8B8;
    return S_OK;
  }

  HRESULT getAdapterMonitorRect(uint32_t adapter, Rect& rect) override {
    if (adapter >= getAdapterCount()) return D3DERR_INVALIDCALL;
    SDL_Rect r{};
    if (SDL_GetDisplayBounds(static_cast<int>(adapter), &r) == 0) {
      rect = {r.x, r.y, r.x + r.w, r.y + r.h};
    } else {
      DisplayMode m;
      getAdapterDisplayMode(adapter, m);
      rect = {0, 0, static_cast<int32_t>(m.width), static_cast<int32_t>(m.height)};
    }
    return S_OK;
  }

  HRESULT getDeviceCaps(uint32_t adapter, uint32_t, Caps& caps) override {
    if (HRESULT f = takeGpuFault(GpuCall::GetDeviceCaps)) return f;
    if (adapter >= getAdapterCount()) return D3DERR_INVALIDCALL;
    caps = {};
    caps.devCaps = D3DDEVCAPS_HWRASTERIZATION;
    caps.rasterCaps = D3DPRASTERCAPS_MIPMAPLODBIAS | (g_gl->anisotropic ? uint32_t(D3DPRASTERCAPS_ANISOTROPY) : 0u);
    caps.maxTextureWidth = caps.maxTextureHeight = static_cast<uint32_t>(g_gl->maxTexture);
    caps.maxAnisotropy = g_gl->anisotropic ? static_cast<uint32_t>(g_gl->maxAnisotropy) : 1;
    caps.pixelShaderVersion = psVersion(3, 0);
    caps.vertexShaderVersion = 0xFFFE0000u | 0x300;
    return S_OK;
  }

  HRESULT getAdapterIdentifier(uint32_t adapter, uint32_t, AdapterIdentifier& id) override {
    if (HRESULT f = takeGpuFault(GpuCall::GetAdapterIdentifier)) return f;
    if (adapter >= getAdapterCount()) return D3DERR_INVALIDCALL;
    id = {};
    std::snprintf(id.description, sizeof id.description, "%s", g_gl->renderer.c_str());
    id.vendorId = vendorIdFrom(g_gl->vendor, g_gl->renderer);
    return S_OK;
  }

  HRESULT checkDeviceFormat(uint32_t adapter, uint32_t, uint32_t, uint32_t usage, uint32_t resourceType,
                            uint32_t format) override {
    if (HRESULT f = takeGpuFault(GpuCall::CheckDeviceFormat)) return f;
    if (adapter >= getAdapterCount()) return D3DERR_INVALIDCALL;
    if (usage & D3DUSAGE_DEPTHSTENCIL) return D3DERR_NOTAVAILABLE;  // no depth buffers are made
    GlFormat f;
    return glFormat(format, f) ? S_OK : D3DERR_NOTAVAILABLE;
  }

  HRESULT createDeviceEx(uint32_t adapter, uint32_t, uintptr_t, uint32_t, PresentParameters& params,
                         const DisplayMode*, Device** device) override {
    if (HRESULT f = takeGpuFault(GpuCall::CreateDevice)) return f;
    if (!device || adapter >= getAdapterCount() || !onGlThread()) return D3DERR_INVALIDCALL;
    auto* d = new DeviceImpl(params, windows_);
    HRESULT hr = d->init();
    if (hr != S_OK) {
      d->release();
      return hr;
    }
    *device = d;
    return S_OK;
  }

 private:
  bool windows_;
};

class GlBackend : public GpuBackend {
 public:
  explicit GlBackend(bool windows) : windows_(windows) {}
  Direct3D* createDirect3D(uint32_t sdkVersion) override {
    if ((sdkVersion & ~D3D_SDK_DEBUG_BIT) != D3D_SDK_VERSION) return nullptr;
    if (!ensureContext()) return nullptr;
    return new Direct3DImpl(windows_);
  }
  void drainRequests() override { drainQueue(); }
  int pendingRequests() override { return g_gl ? g_gl->queued.load() : 0; }

 private:
  bool windows_;
};

}  // namespace

GpuBackend* linuxGpuBackend() {
  static GlBackend* backend = new GlBackend(true);
  return backend;
}

GpuBackend* offscreenGpuBackend() {
  static GlBackend* backend = new GlBackend(false);
  return backend;
}

}  // namespace platform::gpu
