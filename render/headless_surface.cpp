// Offscreen GL surface without a display: EGL on Mesa's surfaceless platform, else a GPU's EGL
// device, else the default display; a compatibility context (fixed-function calls) drawing
// into a pbuffer, or into a framebuffer object when no pbuffer config exists. RGBA8 colour only.
#include "render/headless_surface.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "render/view_setup.h"

namespace {
constexpr EGLint kColourChannelBits = 8;

constexpr int kMaxEglDevices = 16;

// The framebuffer-object entry points of GL 3.0 / GL_ARB_framebuffer_object, or their
// GL_EXT_framebuffer_object twins; the enum values are the same in both.
struct FramebufferProcs {
  PFNGLGENFRAMEBUFFERSPROC genFramebuffers = nullptr;
  PFNGLBINDFRAMEBUFFERPROC bindFramebuffer = nullptr;
  PFNGLDELETEFRAMEBUFFERSPROC deleteFramebuffers = nullptr;
  PFNGLGENRENDERBUFFERSPROC genRenderbuffers = nullptr;
  PFNGLBINDRENDERBUFFERPROC bindRenderbuffer = nullptr;
  PFNGLDELETERENDERBUFFERSPROC deleteRenderbuffers = nullptr;
  PFNGLRENDERBUFFERSTORAGEPROC renderbufferStorage = nullptr;
  PFNGLFRAMEBUFFERRENDERBUFFERPROC framebufferRenderbuffer = nullptr;
  PFNGLCHECKFRAMEBUFFERSTATUSPROC checkFramebufferStatus = nullptr;
};
}  // namespace

namespace headlessSurface {
// Once initialised the display stays so for the rest of the run and later surfaces reuse it:
// Mesa's eglTerminate unloads the driver and leaks a little every time.
EGLDisplay display = EGL_NO_DISPLAY;
EGLContext context = EGL_NO_CONTEXT;
EGLSurface pbuffer = EGL_NO_SURFACE;  // EGL_NO_SURFACE when drawing into the framebuffer object
GLuint framebuffer = 0;
GLuint colourBuffer = 0;
FramebufferProcs framebufferProcs;
int width = 0;
int height = 0;
}  // namespace headlessSurface

namespace {
std::string EglErrorName(EGLint error) {
  switch (error) {
    case EGL_SUCCESS:
      return "EGL_SUCCESS";
    case EGL_NOT_INITIALIZED:
      return "EGL_NOT_INITIALIZED";
    case EGL_BAD_ACCESS:
      return "EGL_BAD_ACCESS";
    case EGL_BAD_ALLOC:
      return "EGL_BAD_ALLOC";
    case EGL_BAD_ATTRIBUTE:
      return "EGL_BAD_ATTRIBUTE";
    case EGL_BAD_CONFIG:
      return "EGL_BAD_CONFIG";
    case EGL_BAD_CONTEXT:
      return "EGL_BAD_CONTEXT";
    case EGL_BAD_DISPLAY:
      return "EGL_BAD_DISPLAY";
    case EGL_BAD_MATCH:
      return "EGL_BAD_MATCH";
    case EGL_BAD_PARAMETER:
      return "EGL_BAD_PARAMETER";
    case EGL_BAD_SURFACE:
      return "EGL_BAD_SURFACE";
    default:
      break;
  }
  char text[32];
  std::snprintf(text, sizeof text, "EGL error 0x%04X", static_cast<unsigned>(error));
  return text;
}

[[noreturn]] void FailEgl(const std::string& what) {
  const std::string reason = EglErrorName(eglGetError());
  DestroyHeadlessSurface();
  throw std::runtime_error("headless GL surface: " + what + " (" + reason + ")");
}

[[noreturn]] void Fail(const std::string& what) {
  DestroyHeadlessSurface();
  throw std::runtime_error("headless GL surface: " + what);
}

// Whole-word match in a space-separated extension list.
bool HasExtension(const char* extensions, const char* name) {
  if (extensions == nullptr) return false;
  const size_t length = std::strlen(name);
  for (const char* at = std::strstr(extensions, name); at != nullptr;
       at = std::strstr(at + 1, name)) {
    const bool startsWord = at == extensions || at[-1] == ' ';
    const bool endsWord = at[length] == ' ' || at[length] == '\0';
    if (startsWord && endsWord) return true;
  }
  return false;
}

bool Initialize(EGLDisplay display) {
  if (display == EGL_NO_DISPLAY) return false;
  EGLint major = 0;
  EGLint minor = 0;
  return eglInitialize(display, &major, &minor) == EGL_TRUE;
}

// Mesa's surfaceless platform needs no display server; a GPU's EGL device is the next best;
// the default display comes last (it may try a window system).
EGLDisplay OpenDisplay() {
  const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
      eglGetProcAddress("eglGetPlatformDisplayEXT"));
  if (getPlatformDisplay != nullptr &&
      HasExtension(clientExtensions, "EGL_MESA_platform_surfaceless")) {
    EGLDisplay display =
        getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (Initialize(display)) return display;
  }
  auto queryDevices =
      reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
  if (getPlatformDisplay != nullptr && queryDevices != nullptr &&
      HasExtension(clientExtensions, "EGL_EXT_platform_device")) {
    EGLDeviceEXT devices[kMaxEglDevices];
    EGLint deviceCount = 0;
    if (queryDevices(kMaxEglDevices, devices, &deviceCount) == EGL_TRUE) {
      for (EGLint i = 0; i < deviceCount; ++i) {
        EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[i], nullptr);
        if (Initialize(display)) return display;
      }
    }
  }
  EGLDisplay display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
  if (Initialize(display)) return display;
  return EGL_NO_DISPLAY;
}

EGLint ConfigAttribute(EGLDisplay display, EGLConfig config, EGLint attribute) {
  EGLint value = 0;
  eglGetConfigAttrib(display, config, attribute, &value);
  return value;
}

// An RGBA8 config for desktop GL that supports `surfaceType` (0: no surface at all). Among
// those, one without depth and stencil buffers: the renderer must not depend on either.
bool ChooseConfig(EGLDisplay display, EGLint surfaceType, EGLConfig& chosen) {
  const EGLint attributes[] = {EGL_SURFACE_TYPE,   surfaceType,           EGL_RENDERABLE_TYPE,
                               EGL_OPENGL_BIT,     EGL_COLOR_BUFFER_TYPE, EGL_RGB_BUFFER,
                               EGL_RED_SIZE,       kColourChannelBits,    EGL_GREEN_SIZE,
                               kColourChannelBits, EGL_BLUE_SIZE,         kColourChannelBits,
                               EGL_ALPHA_SIZE,     kColourChannelBits,    EGL_NONE};
  EGLint configCount = 0;
  if (eglChooseConfig(display, attributes, nullptr, 0, &configCount) != EGL_TRUE ||
      configCount <= 0) {
    return false;
  }
  std::vector<EGLConfig> configs(static_cast<size_t>(configCount));
  if (eglChooseConfig(display, attributes, configs.data(), configCount, &configCount) != EGL_TRUE) {
    return false;
  }
  bool found = false;
  for (EGLint i = 0; i < configCount; ++i) {
    const EGLConfig config = configs[static_cast<size_t>(i)];
    const bool exactColour =
        ConfigAttribute(display, config, EGL_RED_SIZE) == kColourChannelBits &&
        ConfigAttribute(display, config, EGL_GREEN_SIZE) == kColourChannelBits &&
        ConfigAttribute(display, config, EGL_BLUE_SIZE) == kColourChannelBits &&
        ConfigAttribute(display, config, EGL_ALPHA_SIZE) == kColourChannelBits;
    if (!exactColour) continue;
    const bool colourOnly = ConfigAttribute(display, config, EGL_DEPTH_SIZE) == 0 &&
                            ConfigAttribute(display, config, EGL_STENCIL_SIZE) == 0;
    if (colourOnly) {
      chosen = config;
      return true;
    }
    if (!found) {
      chosen = config;
      found = true;
    }
  }
  return found;
}

template <typename Proc>
void LoadProc(Proc& proc, const char* coreName, const char* extName) {
  proc = reinterpret_cast<Proc>(eglGetProcAddress(coreName));
  if (proc == nullptr) proc = reinterpret_cast<Proc>(eglGetProcAddress(extName));
}

void CreateFramebuffer(int width, int height) {
  FramebufferProcs& procs = headlessSurface::framebufferProcs;
  LoadProc(procs.genFramebuffers, "glGenFramebuffers", "glGenFramebuffersEXT");
  LoadProc(procs.bindFramebuffer, "glBindFramebuffer", "glBindFramebufferEXT");
  LoadProc(procs.deleteFramebuffers, "glDeleteFramebuffers", "glDeleteFramebuffersEXT");
  LoadProc(procs.genRenderbuffers, "glGenRenderbuffers", "glGenRenderbuffersEXT");
  LoadProc(procs.bindRenderbuffer, "glBindRenderbuffer", "glBindRenderbufferEXT");
  LoadProc(procs.deleteRenderbuffers, "glDeleteRenderbuffers", "glDeleteRenderbuffersEXT");
  LoadProc(procs.renderbufferStorage, "glRenderbufferStorage", "glRenderbufferStorageEXT");
  LoadProc(procs.framebufferRenderbuffer, "glFramebufferRenderbuffer",
           "glFramebufferRenderbufferEXT");
  LoadProc(procs.checkFramebufferStatus, "glCheckFramebufferStatus", "glCheckFramebufferStatusEXT");
  if (!procs.genFramebuffers || !procs.bindFramebuffer || !procs.deleteFramebuffers ||
      !procs.genRenderbuffers || !procs.bindRenderbuffer || !procs.deleteRenderbuffers ||
      !procs.renderbufferStorage || !procs.framebufferRenderbuffer ||
      !procs.checkFramebufferStatus) {
    Fail("the context offers no framebuffer objects");
  }
  procs.genFramebuffers(1, &headlessSurface::framebuffer);
  procs.bindFramebuffer(GL_FRAMEBUFFER, headlessSurface::framebuffer);
  procs.genRenderbuffers(1, &headlessSurface::colourBuffer);
  procs.bindRenderbuffer(GL_RENDERBUFFER, headlessSurface::colourBuffer);
  procs.renderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
  procs.framebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER,
                                headlessSurface::colourBuffer);
  const GLenum status = procs.checkFramebufferStatus(GL_FRAMEBUFFER);
  if (status != GL_FRAMEBUFFER_COMPLETE) {
    char text[96];
    std::snprintf(text, sizeof text, "%dx%d framebuffer object incomplete (status 0x%04X)", width,
                  height, static_cast<unsigned>(status));
    Fail(text);
  }
}

}  // namespace

void CreateHeadlessSurface(int width, int height, HeadlessBuffer buffer) {
  DestroyHeadlessSurface();
  if (width < 1 || height < 1) {
    throw std::runtime_error("headless GL surface: size " + std::to_string(width) + "x" +
                             std::to_string(height) + " is not at least 1x1");
  }
  if (headlessSurface::display == EGL_NO_DISPLAY) headlessSurface::display = OpenDisplay();
  if (headlessSurface::display == EGL_NO_DISPLAY) FailEgl("no EGL display could be initialised");
  if (eglBindAPI(EGL_OPENGL_API) != EGL_TRUE) FailEgl("EGL offers no desktop OpenGL");

  EGLConfig config = nullptr;
  const bool usePbuffer = buffer == HeadlessBuffer::kPbufferOrFramebufferObject &&
                          ChooseConfig(headlessSurface::display, EGL_PBUFFER_BIT, config);
  if (!usePbuffer) {
    const char* displayExtensions = eglQueryString(headlessSurface::display, EGL_EXTENSIONS);
    if (!HasExtension(displayExtensions, "EGL_KHR_surfaceless_context")) {
      Fail("no RGBA8 pbuffer config and no surfaceless contexts");
    }
    if (!ChooseConfig(headlessSurface::display, 0, config)) {
      FailEgl("no RGBA8 config for desktop OpenGL");
    }
  }
  // No context attributes: the default request (version 1.0) yields a compatibility context,
  // so the fixed-function calls are available.
  headlessSurface::context =
      eglCreateContext(headlessSurface::display, config, EGL_NO_CONTEXT, nullptr);
  if (headlessSurface::context == EGL_NO_CONTEXT) FailEgl("eglCreateContext failed");

  if (usePbuffer) {
    const EGLint pbufferAttributes[] = {EGL_WIDTH, width, EGL_HEIGHT, height, EGL_NONE};
    headlessSurface::pbuffer =
        eglCreatePbufferSurface(headlessSurface::display, config, pbufferAttributes);
    if (headlessSurface::pbuffer == EGL_NO_SURFACE) {
      FailEgl("cannot create a " + std::to_string(width) + "x" + std::to_string(height) +
              " pbuffer");
    }
  }
  if (eglMakeCurrent(headlessSurface::display, headlessSurface::pbuffer, headlessSurface::pbuffer,
                     headlessSurface::context) != EGL_TRUE) {
    FailEgl("eglMakeCurrent failed");
  }
  if (!usePbuffer) CreateFramebuffer(width, height);
  headlessSurface::width = width;
  headlessSurface::height = height;
}

std::vector<uint8_t> ReadHeadlessPixels() {
  if (headlessSurface::context == EGL_NO_CONTEXT) {
    throw std::runtime_error("headless GL surface: no surface to read");
  }
  return ReadViewPixels(headlessSurface::width, headlessSurface::height);
}

void FinishHeadlessFrame() {
  glFinish();
}

void DestroyHeadlessSurface() {
  if (headlessSurface::display == EGL_NO_DISPLAY) return;
  if (headlessSurface::framebuffer != 0) {
    const FramebufferProcs& procs = headlessSurface::framebufferProcs;
    procs.bindFramebuffer(GL_FRAMEBUFFER, 0);
    procs.deleteFramebuffers(1, &headlessSurface::framebuffer);
    headlessSurface::framebuffer = 0;
  }
  if (headlessSurface::colourBuffer != 0) {
    headlessSurface::framebufferProcs.deleteRenderbuffers(1, &headlessSurface::colourBuffer);
    headlessSurface::colourBuffer = 0;
  }
  eglMakeCurrent(headlessSurface::display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  if (headlessSurface::pbuffer != EGL_NO_SURFACE) {
    eglDestroySurface(headlessSurface::display, headlessSurface::pbuffer);
    headlessSurface::pbuffer = EGL_NO_SURFACE;
  }
  if (headlessSurface::context != EGL_NO_CONTEXT) {
    eglDestroyContext(headlessSurface::display, headlessSurface::context);
    headlessSurface::context = EGL_NO_CONTEXT;
  }
  headlessSurface::width = 0;
  headlessSurface::height = 0;
}
