// The GPU host: a headless EGL context, the shaders built from the library's
// table, and the passes of a 2x, 4x or 8x scale run on integer textures.
#include <lq2x/lq2x_gpu.h>

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GLES3/gl3.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "scaler/interface/passes.h"

extern const char LQ2X_FRAGMENT_SHADER[], LQ2X_FLOAT_FRAGMENT_SHADER[], LQ2X_VERTEX_SHADER[]; // by scaler/shader/make_shader.cpp

namespace {

// The GL functions the host calls, looked up through EGL.
struct gl_functions {
    PFNGLGETSTRINGPROC GetString;
    PFNGLGETINTEGERVPROC GetIntegerv;
    PFNGLGETERRORPROC GetError;
    PFNGLDISABLEPROC Disable;
    PFNGLCREATESHADERPROC CreateShader;
    PFNGLSHADERSOURCEPROC ShaderSource;
    PFNGLCOMPILESHADERPROC CompileShader;
    PFNGLGETSHADERIVPROC GetShaderiv;
    PFNGLDELETESHADERPROC DeleteShader;
    PFNGLCREATEPROGRAMPROC CreateProgram;
    PFNGLATTACHSHADERPROC AttachShader;
    PFNGLLINKPROGRAMPROC LinkProgram;
    PFNGLGETPROGRAMIVPROC GetProgramiv;
    PFNGLDELETEPROGRAMPROC DeleteProgram;
    PFNGLUSEPROGRAMPROC UseProgram;
    PFNGLGETUNIFORMLOCATIONPROC GetUniformLocation;
    PFNGLUNIFORM1IVPROC Uniform1iv;
    PFNGLUNIFORM2IVPROC Uniform2iv;
    PFNGLUNIFORM4IVPROC Uniform4iv;
    PFNGLGENVERTEXARRAYSPROC GenVertexArrays;
    PFNGLBINDVERTEXARRAYPROC BindVertexArray;
    PFNGLDELETEVERTEXARRAYSPROC DeleteVertexArrays;
    PFNGLACTIVETEXTUREPROC ActiveTexture;
    PFNGLGENTEXTURESPROC GenTextures;
    PFNGLBINDTEXTUREPROC BindTexture;
    PFNGLDELETETEXTURESPROC DeleteTextures;
    PFNGLTEXPARAMETERIPROC TexParameteri;
    PFNGLTEXIMAGE2DPROC TexImage2D;
    PFNGLTEXSUBIMAGE2DPROC TexSubImage2D;
    PFNGLPIXELSTOREIPROC PixelStorei;
    PFNGLGENFRAMEBUFFERSPROC GenFramebuffers;
    PFNGLBINDFRAMEBUFFERPROC BindFramebuffer;
    PFNGLFRAMEBUFFERTEXTURE2DPROC FramebufferTexture2D;
    PFNGLCHECKFRAMEBUFFERSTATUSPROC CheckFramebufferStatus;
    PFNGLDELETEFRAMEBUFFERSPROC DeleteFramebuffers;
    PFNGLREADBUFFERPROC ReadBuffer;
    PFNGLVIEWPORTPROC Viewport;
    PFNGLDRAWARRAYSPROC DrawArrays;
    PFNGLREADPIXELSPROC ReadPixels;
};

template <typename F>
bool load(F& f, const char* name)
{
    f = reinterpret_cast<F>(eglGetProcAddress(name));
    return f != nullptr;
}

bool load_all(gl_functions& g)
{
    return load(g.GetString, "glGetString") && load(g.GetIntegerv, "glGetIntegerv") &&
           load(g.GetError, "glGetError") && load(g.Disable, "glDisable") &&
           load(g.CreateShader, "glCreateShader") && load(g.ShaderSource, "glShaderSource") &&
           load(g.CompileShader, "glCompileShader") && load(g.GetShaderiv, "glGetShaderiv") &&
           load(g.DeleteShader, "glDeleteShader") && load(g.CreateProgram, "glCreateProgram") &&
           load(g.AttachShader, "glAttachShader") && load(g.LinkProgram, "glLinkProgram") &&
           load(g.GetProgramiv, "glGetProgramiv") && load(g.DeleteProgram, "glDeleteProgram") &&
           load(g.UseProgram, "glUseProgram") && load(g.GetUniformLocation, "glGetUniformLocation") &&
           load(g.Uniform1iv, "glUniform1iv") && load(g.Uniform2iv, "glUniform2iv") &&
           load(g.Uniform4iv, "glUniform4iv") && load(g.GenVertexArrays, "glGenVertexArrays") &&
           load(g.BindVertexArray, "glBindVertexArray") && load(g.DeleteVertexArrays, "glDeleteVertexArrays") &&
           load(g.ActiveTexture, "glActiveTexture") && load(g.GenTextures, "glGenTextures") &&
           load(g.BindTexture, "glBindTexture") && load(g.DeleteTextures, "glDeleteTextures") &&
           load(g.TexParameteri, "glTexParameteri") && load(g.TexImage2D, "glTexImage2D") &&
           load(g.TexSubImage2D, "glTexSubImage2D") && load(g.PixelStorei, "glPixelStorei") &&
           load(g.GenFramebuffers, "glGenFramebuffers") && load(g.BindFramebuffer, "glBindFramebuffer") &&
           load(g.FramebufferTexture2D, "glFramebufferTexture2D") &&
           load(g.CheckFramebufferStatus, "glCheckFramebufferStatus") &&
           load(g.DeleteFramebuffers, "glDeleteFramebuffers") && load(g.ReadBuffer, "glReadBuffer") &&
           load(g.Viewport, "glViewport") && load(g.DrawArrays, "glDrawArrays") &&
           load(g.ReadPixels, "glReadPixels");
}

bool has_word(const char* list, const char* word)
{
    if (!list)
        return false;
    const std::size_t n = std::strlen(word);
    for (const char* p = list; (p = std::strstr(p, word)) != nullptr; p += n)
        if ((p == list || p[-1] == ' ') && (p[n] == ' ' || p[n] == '\0'))
            return true;
    return false;
}

// The surfaceless display is one per process, which other code in it may
// share: it is initialized here (again, if it was) and left so, since
// terminating it would end every other user's contexts too.
EGLDisplay open_display()
{
    if (!has_word(eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS), "EGL_MESA_platform_surfaceless"))
        return EGL_NO_DISPLAY;
    const EGLDisplay d = eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    return d != EGL_NO_DISPLAY && eglInitialize(d, nullptr, nullptr) ? d : EGL_NO_DISPLAY;
}

struct size {
    int width, height;
    bool operator==(const size&) const = default;
};

// The library's passes for a frame (scaler/interface/passes.h), with the size of
// the frame before the first and after each.
struct plan {
    lq2x::shader::plan shader;
    size sizes[4];
};

// The textures of a plan's frames, and a framebuffer on each pass's output.
struct frames {
    GLenum format = 0; // GL_R16UI or GL_RGBA8UI; 0: none yet
    int passes = 0;
    size sizes[4] = {};
    GLuint textures[4] = {};
    GLuint framebuffers[4] = {}; // [i] renders into textures[i], i >= 1
};

} // namespace

struct lq2x_gpu {
    lq2x_gpu_api api;
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLContext context = EGL_NO_CONTEXT;
    gl_functions gl{};
    std::string renderer;
    GLuint program = 0, vertex_array = 0;
    GLint uniforms[lq2x::shader::pass::UNIFORMS] = {}; // where the plan's uniforms are, in its order
    GLint max_size = 0;
    frames kept;
};

namespace {

bool desktop(lq2x_gpu_api api) { return api == LQ2X_GPU_GL33 || api == LQ2X_GPU_GL33_FLOAT; }
bool normalized(lq2x_gpu_api api) { return api == LQ2X_GPU_GLES3_FLOAT || api == LQ2X_GPU_GL33_FLOAT; }
EGLenum egl_api(lq2x_gpu_api api) { return desktop(api) ? EGL_OPENGL_API : EGL_OPENGL_ES_API; }

// Makes the context current on this thread for a call, and puts back what
// the thread had before.
class current {
public:
    explicit current(const lq2x_gpu& g)
        : api_(eglQueryAPI()), display_(eglGetCurrentDisplay()), draw_(eglGetCurrentSurface(EGL_DRAW)),
          read_(eglGetCurrentSurface(EGL_READ)), context_(eglGetCurrentContext())
    {
        eglBindAPI(egl_api(g.api));
        ok_ = eglMakeCurrent(g.display, EGL_NO_SURFACE, EGL_NO_SURFACE, g.context);
    }
    ~current()
    {
        if (display_ != EGL_NO_DISPLAY)
            eglMakeCurrent(display_, draw_, read_, context_);
        else
            eglMakeCurrent(eglGetCurrentDisplay(), EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        eglBindAPI(api_);
    }
    current(const current&) = delete;
    current& operator=(const current&) = delete;
    bool ok() const { return ok_; }

private:
    EGLenum api_;
    EGLDisplay display_;
    EGLSurface draw_, read_;
    EGLContext context_;
    bool ok_ = false;
};

// The shader's text for this context: ES as written, desktop with its own version line.
std::string shader_text(lq2x_gpu_api api, const char* text)
{
    std::string s(text);
    if (desktop(api))
        s.replace(0, s.find('\n'), "#version 330 core");
    return s;
}

GLuint compile(const gl_functions& gl, GLenum stage, const std::string& text)
{
    const GLuint s = gl.CreateShader(stage);
    const char* p = text.c_str();
    gl.ShaderSource(s, 1, &p, nullptr);
    gl.CompileShader(s);
    GLint ok = GL_FALSE;
    gl.GetShaderiv(s, GL_COMPILE_STATUS, &ok);
    if (ok != GL_TRUE) {
        gl.DeleteShader(s);
        return 0;
    }
    return s;
}

lq2x_gpu_status build_program(lq2x_gpu& g)
{
    const gl_functions& gl = g.gl;
    const GLuint vs = compile(gl, GL_VERTEX_SHADER, shader_text(g.api, LQ2X_VERTEX_SHADER));
    const GLuint fs = compile(gl, GL_FRAGMENT_SHADER, shader_text(g.api, normalized(g.api) ? LQ2X_FLOAT_FRAGMENT_SHADER : LQ2X_FRAGMENT_SHADER));
    GLint linked = GL_FALSE;
    if (vs && fs) {
        g.program = gl.CreateProgram();
        gl.AttachShader(g.program, vs);
        gl.AttachShader(g.program, fs);
        gl.LinkProgram(g.program);
        gl.GetProgramiv(g.program, GL_LINK_STATUS, &linked);
    }
    if (vs)
        gl.DeleteShader(vs);
    if (fs)
        gl.DeleteShader(fs);
    if (linked != GL_TRUE)
        return LQ2X_GPU_ERROR_SHADER;
    lq2x::shader::plan any;
    lq2x::shader::plan_of(nullptr, 1, 1, false, lq2x::shader::reading::every_bit, any);
    for (int i = 0; i < lq2x::shader::pass::UNIFORMS; ++i)
        g.uniforms[i] = gl.GetUniformLocation(g.program, any.passes[0].uniforms[i].name);
    gl.GenVertexArrays(1, &g.vertex_array);
    gl.Disable(GL_DITHER);
    return gl.GetError() == GL_NO_ERROR ? LQ2X_GPU_OK : LQ2X_GPU_ERROR_DRIVER;
}

void drop_frames(lq2x_gpu& g)
{
    frames& f = g.kept;
    g.gl.DeleteFramebuffers(4, f.framebuffers);
    g.gl.DeleteTextures(4, f.textures);
    f = frames{};
}

// The textures' formats: the frame's, each pass's output but the last, and
// the last's. Integer textures for lq2x.frag; for lq2x_float.frag the
// normalized ones of a front end's chain: an RGB565 frame as GL_RGB565, the
// passes between in half floats (as mpv keeps them, and RetroArch's float
// framebuffers), whose samples are the coarsest the shader must round back
// to bytes, and the last pass in RGBA8.
struct texture_format {
    GLenum internal, format, type;
};
struct pixel_formats {
    texture_format frame, between, last;
};
template <typename P>
pixel_formats formats_of(bool normalized)
{
    if (normalized)
        return {sizeof(P) == 2 ? texture_format{GL_RGB565, GL_RGB, GL_UNSIGNED_SHORT_5_6_5}
                               : texture_format{GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE},
                {GL_RGBA16F, GL_RGBA, GL_HALF_FLOAT},
                {GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE}};
    const texture_format f = sizeof(P) == 2 ? texture_format{GL_R16UI, GL_RED_INTEGER, GL_UNSIGNED_SHORT}
                                            : texture_format{GL_RGBA8UI, GL_RGBA_INTEGER, GL_UNSIGNED_BYTE};
    return {f, f, f};
}

// Textures and framebuffers for the frame, kept from the last call when it was the same.
template <typename P>
lq2x_gpu_status prepare(lq2x_gpu& g, const plan& p)
{
    frames& f = g.kept;
    const pixel_formats formats = formats_of<P>(normalized(g.api));
    const GLenum internal = formats.frame.internal;
    const int passes = p.shader.count;
    if (f.format == internal && f.passes == passes && std::equal(p.sizes, p.sizes + passes + 1, f.sizes))
        return LQ2X_GPU_OK;
    drop_frames(g);
    const gl_functions& gl = g.gl;
    f = frames{internal, passes, {}, {}, {}};
    std::copy(p.sizes, p.sizes + passes + 1, f.sizes);
    gl.GenTextures(passes + 1, f.textures);
    for (int i = 0; i <= passes; ++i) {
        const size s = f.sizes[i];
        gl.BindTexture(GL_TEXTURE_2D, f.textures[i]);
        gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
        const texture_format& t = i == 0 ? formats.frame : i == passes ? formats.last : formats.between;
        gl.TexImage2D(GL_TEXTURE_2D, 0, GLint(t.internal), s.width, s.height, 0, t.format, t.type, nullptr);
    }
    gl.GenFramebuffers(passes, f.framebuffers + 1);
    for (int i = 1; i <= passes; ++i) {
        gl.BindFramebuffer(GL_FRAMEBUFFER, f.framebuffers[i]);
        gl.FramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, f.textures[i], 0);
        if (gl.CheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
            const bool memory = gl.GetError() == GL_OUT_OF_MEMORY;
            drop_frames(g);
            return memory ? lq2x_gpu_status(LQ2X_ERROR_NO_MEMORY) : LQ2X_GPU_ERROR_DRIVER;
        }
    }
    const GLenum e = gl.GetError();
    if (e != GL_NO_ERROR) {
        drop_frames(g);
        return e == GL_OUT_OF_MEMORY ? lq2x_gpu_status(LQ2X_ERROR_NO_MEMORY) : LQ2X_GPU_ERROR_DRIVER;
    }
    return LQ2X_GPU_OK;
}

// Reads the last pass back in bands of rows: from an integer buffer as four
// 32-bit channels a pixel (the one integer read every OpenGL ES 3.0 driver
// must do), from a normalized one as four bytes, of which an RGB565 word is
// the top 5, 6 and 5 bits of the first three.
template <typename P>
lq2x_gpu_status read_back(lq2x_gpu& g, size s, P* dst, std::ptrdiff_t dst_pitch)
{
    const gl_functions& gl = g.gl;
    const bool normal = normalized(g.api);
    constexpr int BAND = 64;
    std::vector<GLuint> band;
    try {
        band.resize(std::size_t(s.width) * std::min(BAND, s.height) * 4);
    } catch (const std::bad_alloc&) {
        return lq2x_gpu_status(LQ2X_ERROR_NO_MEMORY);
    }
    gl.BindFramebuffer(GL_READ_FRAMEBUFFER, g.kept.framebuffers[g.kept.passes]);
    gl.ReadBuffer(GL_COLOR_ATTACHMENT0);
    gl.PixelStorei(GL_PACK_ALIGNMENT, 4);
    gl.PixelStorei(GL_PACK_ROW_LENGTH, 0);
    for (int y0 = 0; y0 < s.height; y0 += BAND) {
        const int rows = std::min(BAND, s.height - y0);
        if (normal) { // four bytes a pixel into the band's first quarter, widened in place from the end
            auto* b = reinterpret_cast<unsigned char*>(band.data());
            gl.ReadPixels(0, y0, s.width, rows, GL_RGBA, GL_UNSIGNED_BYTE, b);
            for (std::size_t i = std::size_t(s.width) * rows * 4; i-- > 0;)
                band[i] = b[i];
        } else {
            gl.ReadPixels(0, y0, s.width, rows, GL_RGBA_INTEGER, GL_UNSIGNED_INT, band.data());
        }
        if (gl.GetError() != GL_NO_ERROR)
            return LQ2X_GPU_ERROR_DRIVER;
        for (int y = 0; y < rows; ++y) {
            auto* out = reinterpret_cast<unsigned char*>(dst) + (y0 + y) * dst_pitch;
            const GLuint* in = band.data() + std::size_t(y) * s.width * 4;
            for (int x = 0; x < s.width; ++x, in += 4) {
                if constexpr (sizeof(P) == 2) {
                    const P v = normal ? P((in[0] >> 3) << 11 | (in[1] >> 2) << 5 | in[2] >> 3) : P(in[0]);
                    std::memcpy(out + 2 * x, &v, 2);
                } else {
                    const unsigned char bytes[4] = {static_cast<unsigned char>(in[0]), static_cast<unsigned char>(in[1]),
                                                    static_cast<unsigned char>(in[2]), static_cast<unsigned char>(in[3])};
                    std::memcpy(out + 4 * x, bytes, 4);
                }
            }
        }
    }
    return LQ2X_GPU_OK;
}

lq2x_status check_frame(const std::uint16_t* src, std::int32_t w, std::int32_t h, std::ptrdiff_t sp, std::uint16_t* dst,
                        std::int32_t dw, std::int32_t dh, std::ptrdiff_t dp, const lq2x_options* o)
{
    return lq2x_scale565_rows(src, w, h, sp, dst, dw, dh, dp, 0, 0, o);
}
lq2x_status check_frame(const std::uint32_t* src, std::int32_t w, std::int32_t h, std::ptrdiff_t sp, std::uint32_t* dst,
                        std::int32_t dw, std::int32_t dh, std::ptrdiff_t dp, const lq2x_options* o)
{
    return lq2x_scale8888_rows(src, w, h, sp, dst, dw, dh, dp, 0, 0, o);
}

template <typename P>
lq2x_gpu_status scale(lq2x_gpu* g, const P* src, std::int32_t width, std::int32_t height, std::ptrdiff_t src_pitch,
                      P* dst, std::int32_t dst_width, std::int32_t dst_height, std::ptrdiff_t dst_pitch,
                      const lq2x_options* options, lq2x::shader::reading how)
{
    if (!g)
        return LQ2X_GPU_ERROR_NULL;
    // The library's own checks: of the options and the result's size, as
    // for a picture; of the frames, by a frame call for the first pass over
    // no rows (which checks everything and writes nothing); then the
    // output's whole size. The passes are the library's pass plan.
    std::int32_t out_w = 0, out_h = 0;
    lq2x_options first = lq2x_default_options();
    lq2x::options given; // read as every call of the library reads them
    lq2x_status checked = lq2x_status(lq2x::read_options(options, given));
    if (checked == LQ2X_OK)
        checked = lq2x_picture_size(width, height, options, &out_w, &out_h);
    if (checked == LQ2X_OK)
        checked = lq2x_pass_options(options, 0, &first);
    if (checked == LQ2X_OK && given.rgb565) // a frame keeps its own pixels
        checked = LQ2X_ERROR_BAD_OPTIONS;
    // The check's pass turns as the last one does, so that its output, half
    // the whole result's size on each axis, lies in dst as that does (an
    // upright first pass of a turned 4x of a tall frame would not).
    first.orientation = std::int32_t(given.turn);
    if (checked == LQ2X_OK)
        checked = check_frame(src, width, height, src_pitch, dst, dst_width, dst_height, dst_pitch, &first);
    if (checked == LQ2X_OK && (width == 0 || height == 0))
        return LQ2X_GPU_OK;
    if (checked == LQ2X_OK && (dst_width < out_w || dst_height < out_h))
        checked = LQ2X_ERROR_OUTPUT_TOO_SMALL;
    if (checked != LQ2X_OK)
        return lq2x_gpu_status(checked);
    if (out_w > g->max_size || out_h > g->max_size)
        return LQ2X_GPU_ERROR_TEXTURE_SIZE;
    plan p;
    lq2x::shader::plan_of(options, width, height, sizeof(P) == 2, how, p.shader);
    p.sizes[0] = {width, height};
    for (int i = 0; i < p.shader.count; ++i)
        p.sizes[i + 1] = {p.shader.passes[i].width, p.shader.passes[i].height};

    const current made(*g);
    if (!made.ok())
        return LQ2X_GPU_ERROR_NO_CONTEXT;
    const gl_functions& gl = g->gl;
    if (const lq2x_gpu_status s = prepare<P>(*g, p); s != LQ2X_GPU_OK)
        return s;
    const frames& f = g->kept;

    gl.ActiveTexture(GL_TEXTURE0);
    gl.BindTexture(GL_TEXTURE_2D, f.textures[0]);
    gl.PixelStorei(GL_UNPACK_ALIGNMENT, 1);
    gl.PixelStorei(GL_UNPACK_ROW_LENGTH, GLint(src_pitch / std::ptrdiff_t(sizeof(P))));
    const texture_format frame = formats_of<P>(normalized(g->api)).frame;
    gl.TexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, frame.format, frame.type, src);
    gl.PixelStorei(GL_UNPACK_ROW_LENGTH, 0);

    gl.UseProgram(g->program);
    gl.BindVertexArray(g->vertex_array);
    for (int i = 0; i < p.shader.count; ++i) {
        const lq2x::shader::pass& pass = p.shader.passes[i];
        gl.BindFramebuffer(GL_FRAMEBUFFER, f.framebuffers[i + 1]);
        gl.Viewport(0, 0, pass.width, pass.height);
        gl.BindTexture(GL_TEXTURE_2D, f.textures[i]);
        for (int u = 0; u < lq2x::shader::pass::UNIFORMS; ++u) {
            const lq2x::shader::uniform& v = pass.uniforms[u];
            (v.count == 1 ? gl.Uniform1iv : v.count == 2 ? gl.Uniform2iv : gl.Uniform4iv)(g->uniforms[u], 1, v.value);
        }
        gl.DrawArrays(GL_TRIANGLES, 0, 3);
    }
    if (gl.GetError() != GL_NO_ERROR)
        return LQ2X_GPU_ERROR_DRIVER;
    return read_back(*g, p.sizes[p.shader.count], dst, dst_pitch);
}

} // namespace

extern "C" {

lq2x_gpu_status lq2x_gpu_create(lq2x_gpu_api api, lq2x_gpu** out)
{
    if (!out)
        return LQ2X_GPU_ERROR_NULL;
    *out = nullptr;
    if (api != LQ2X_GPU_GLES3 && api != LQ2X_GPU_GL33 && !normalized(api))
        return LQ2X_GPU_ERROR_NO_CONTEXT;
    std::unique_ptr<lq2x_gpu> g(new (std::nothrow) lq2x_gpu{});
    if (!g)
        return lq2x_gpu_status(LQ2X_ERROR_NO_MEMORY);
    g->api = api;
    g->display = open_display();
    if (g->display == EGL_NO_DISPLAY)
        return LQ2X_GPU_ERROR_NO_DISPLAY;
    const char* extensions = eglQueryString(g->display, EGL_EXTENSIONS);
    const EGLenum previous_api = eglQueryAPI();
    const bool bound = has_word(extensions, "EGL_KHR_no_config_context") &&
                       has_word(extensions, "EGL_KHR_surfaceless_context") &&
                       has_word(eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS),
                                "EGL_KHR_client_get_all_proc_addresses") &&
                       eglBindAPI(egl_api(api));
    if (bound) {
        const EGLint es[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 0, EGL_NONE};
        const EGLint desktop_attributes[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 3,
                                  EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT, EGL_NONE};
        g->context = eglCreateContext(g->display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, desktop(api) ? desktop_attributes : es);
    }
    eglBindAPI(previous_api);
    if (g->context == EGL_NO_CONTEXT)
        return LQ2X_GPU_ERROR_NO_CONTEXT;
    lq2x_gpu_status s = LQ2X_GPU_ERROR_NO_CONTEXT;
    {
        const current made(*g);
        if (made.ok() && load_all(g->gl)) {
            const auto* name = reinterpret_cast<const char*>(g->gl.GetString(GL_RENDERER));
            g->renderer = name ? name : "";
            GLint texture = 0, viewport[2] = {};
            g->gl.GetIntegerv(GL_MAX_TEXTURE_SIZE, &texture);
            g->gl.GetIntegerv(GL_MAX_VIEWPORT_DIMS, viewport);
            g->max_size = std::min({texture, viewport[0], viewport[1]});
            s = build_program(*g);
        }
    }
    if (s != LQ2X_GPU_OK) {
        lq2x_gpu_destroy(g.release());
        return s;
    }
    *out = g.release();
    return LQ2X_GPU_OK;
}

void lq2x_gpu_destroy(lq2x_gpu* g)
{
    if (!g)
        return;
    if (g->context != EGL_NO_CONTEXT) {
        {
            const current made(*g);
            if (made.ok() && g->gl.DeleteProgram) {
                drop_frames(*g);
                g->gl.DeleteVertexArrays(1, &g->vertex_array);
                g->gl.DeleteProgram(g->program);
            }
        }
        eglDestroyContext(g->display, g->context);
    }
    delete g;
}

const char* lq2x_gpu_renderer(const lq2x_gpu* g) { return g ? g->renderer.c_str() : ""; }

lq2x_gpu_status lq2x_gpu_scale565(lq2x_gpu* g, const std::uint16_t* src, std::int32_t width, std::int32_t height,
                                  std::ptrdiff_t src_pitch, std::uint16_t* dst, std::int32_t dst_width,
                                  std::int32_t dst_height, std::ptrdiff_t dst_pitch, const lq2x_options* options)
{
    return scale(g, src, width, height, src_pitch, dst, dst_width, dst_height, dst_pitch, options,
                 lq2x::shader::reading::every_bit);
}

lq2x_gpu_status lq2x_gpu_scale8888(lq2x_gpu* g, const std::uint32_t* src, std::int32_t width, std::int32_t height,
                                   std::ptrdiff_t src_pitch, std::uint32_t* dst, std::int32_t dst_width,
                                   std::int32_t dst_height, std::ptrdiff_t dst_pitch, const lq2x_options* options)
{
    return scale(g, src, width, height, src_pitch, dst, dst_width, dst_height, dst_pitch, options,
                 lq2x::shader::reading::every_bit);
}

lq2x_gpu_status lq2x_gpu_scale_rgba(lq2x_gpu* g, const std::uint32_t* src, std::int32_t width, std::int32_t height,
                                    std::ptrdiff_t src_pitch, std::uint32_t* dst, std::int32_t dst_width,
                                    std::int32_t dst_height, std::ptrdiff_t dst_pitch, const lq2x_options* options)
{
    return scale(g, src, width, height, src_pitch, dst, dst_width, dst_height, dst_pitch, options,
                 lq2x::shader::reading::picture);
}

const char* lq2x_gpu_fragment_shader(void) { return LQ2X_FRAGMENT_SHADER; }
const char* lq2x_gpu_vertex_shader(void) { return LQ2X_VERTEX_SHADER; }

const char* lq2x_gpu_describe(lq2x_gpu_status status)
{
    switch (status) {
    case LQ2X_GPU_OK: return "no error";
    case LQ2X_GPU_ERROR_NO_DISPLAY: return "EGL has no surfaceless display here (is Mesa's EGL driver installed?)";
    case LQ2X_GPU_ERROR_NO_CONTEXT: return "EGL gave no context of the OpenGL version asked for";
    case LQ2X_GPU_ERROR_SHADER: return "the driver did not compile or link the lq2x shaders";
    case LQ2X_GPU_ERROR_TEXTURE_SIZE: return "the scaled frame is larger than the driver's largest texture";
    case LQ2X_GPU_ERROR_DRIVER: return "the OpenGL driver reported an error while scaling";
    case LQ2X_GPU_ERROR_NULL: return "no lq2x_gpu given, or nowhere to put one";
    }
    if (int(status) > 0 && int(status) < 64)
        return lq2x_describe(lq2x_status(status));
    return "unknown status";
}

} // extern "C"
