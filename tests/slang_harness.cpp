// Runs a RetroArch .slangp preset the way RetroArch's documented pass
// semantics say, for want of a RetroArch here that runs .slang (Debian's
// 1.14 has neither its Vulkan nor its GL core driver): each pass's file is
// split at its "#pragma stage" lines, the part above them going into both
// stages; the Vulkan-only qualifiers become OpenGL 4.5's (the push constant
// block a uniform block, descriptor sets dropped, bindings kept, as
// RetroArch's GL core driver maps them); the pass draws a quad of Position
// 0..1 through an MVP mapping it onto the whole output, with TexCoord 0..1;
// SourceSize and OutputSize are (width, height, 1/width, 1/height); Source
// is the pass before's output (pass 0: the picture), sampled nearest or
// linear and wrapped as the preset says, into an R8G8B8A8_UNORM target of
// the preset's size ("source" scale only, as the project's presets use).
//
//     slang_harness PRESET.slangp IN.ppm OUT.ppm
//
// Pictures are binary PPMs (P6), rows top first; the result is read back
// with row 0 the picture's top row, as every pass sees its source.
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/glcorearb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

#define GL_FUNCTIONS(X)                                                                                                \
    X(PFNGLCREATESHADERPROC, CreateShader)                                                                             \
    X(PFNGLSHADERSOURCEPROC, ShaderSource)                                                                             \
    X(PFNGLCOMPILESHADERPROC, CompileShader)                                                                           \
    X(PFNGLGETSHADERIVPROC, GetShaderiv)                                                                               \
    X(PFNGLGETSHADERINFOLOGPROC, GetShaderInfoLog)                                                                     \
    X(PFNGLCREATEPROGRAMPROC, CreateProgram)                                                                           \
    X(PFNGLATTACHSHADERPROC, AttachShader)                                                                             \
    X(PFNGLLINKPROGRAMPROC, LinkProgram)                                                                               \
    X(PFNGLGETPROGRAMIVPROC, GetProgramiv)                                                                             \
    X(PFNGLGETPROGRAMINFOLOGPROC, GetProgramInfoLog)                                                                   \
    X(PFNGLUSEPROGRAMPROC, UseProgram)                                                                                 \
    X(PFNGLGETUNIFORMINDICESPROC, GetUniformIndices)                                                                   \
    X(PFNGLGETACTIVEUNIFORMSIVPROC, GetActiveUniformsiv)                                                               \
    X(PFNGLGENBUFFERSPROC, GenBuffers)                                                                                 \
    X(PFNGLBINDBUFFERPROC, BindBuffer)                                                                                 \
    X(PFNGLBUFFERDATAPROC, BufferData)                                                                                 \
    X(PFNGLBINDBUFFERBASEPROC, BindBufferBase)                                                                         \
    X(PFNGLGENVERTEXARRAYSPROC, GenVertexArrays)                                                                       \
    X(PFNGLBINDVERTEXARRAYPROC, BindVertexArray)                                                                       \
    X(PFNGLVERTEXATTRIBPOINTERPROC, VertexAttribPointer)                                                               \
    X(PFNGLENABLEVERTEXATTRIBARRAYPROC, EnableVertexAttribArray)                                                       \
    X(PFNGLACTIVETEXTUREPROC, ActiveTexture)                                                                           \
    X(PFNGLGENTEXTURESPROC, GenTextures)                                                                               \
    X(PFNGLBINDTEXTUREPROC, BindTexture)                                                                               \
    X(PFNGLTEXPARAMETERIPROC, TexParameteri)                                                                           \
    X(PFNGLTEXIMAGE2DPROC, TexImage2D)                                                                                 \
    X(PFNGLPIXELSTOREIPROC, PixelStorei)                                                                               \
    X(PFNGLGENFRAMEBUFFERSPROC, GenFramebuffers)                                                                       \
    X(PFNGLBINDFRAMEBUFFERPROC, BindFramebuffer)                                                                       \
    X(PFNGLFRAMEBUFFERTEXTURE2DPROC, FramebufferTexture2D)                                                             \
    X(PFNGLCHECKFRAMEBUFFERSTATUSPROC, CheckFramebufferStatus)                                                         \
    X(PFNGLVIEWPORTPROC, Viewport)                                                                                     \
    X(PFNGLDISABLEPROC, Disable)                                                                                       \
    X(PFNGLDRAWARRAYSPROC, DrawArrays)                                                                                 \
    X(PFNGLREADPIXELSPROC, ReadPixels)                                                                                 \
    X(PFNGLGETSTRINGPROC, GetString)                                                                                   \
    X(PFNGLGETERRORPROC, GetError)

#define DECLARE(type, name) type name = nullptr;
GL_FUNCTIONS(DECLARE)

bool load_gl()
{
    bool ok = true;
#define LOAD(type, name) ok = ok && (name = reinterpret_cast<type>(eglGetProcAddress("gl" #name))) != nullptr;
    GL_FUNCTIONS(LOAD)
    return ok;
}

int fail(const std::string& why)
{
    std::fprintf(stderr, "slang_harness: %s\n", why.c_str());
    return 1;
}

std::string read_text(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct picture {
    int width = 0, height = 0;
    std::vector<unsigned char> rgba;
};

bool read_ppm(const std::string& path, picture& p)
{
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int depth = 0;
    in >> magic >> p.width >> p.height >> depth;
    in.get();
    if (!in || magic != "P6" || depth != 255 || p.width <= 0 || p.height <= 0)
        return false;
    std::vector<unsigned char> rgb(std::size_t(p.width) * p.height * 3);
    in.read(reinterpret_cast<char*>(rgb.data()), std::streamsize(rgb.size()));
    p.rgba.resize(std::size_t(p.width) * p.height * 4);
    for (std::size_t i = 0; i < rgb.size() / 3; ++i)
        for (int c = 0; c < 4; ++c)
            p.rgba[4 * i + c] = c < 3 ? rgb[3 * i + c] : 255;
    return bool(in);
}

bool write_ppm(const std::string& path, const picture& p)
{
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << p.width << ' ' << p.height << "\n255\n";
    for (std::size_t i = 0; i < p.rgba.size() / 4; ++i)
        out.write(reinterpret_cast<const char*>(&p.rgba[4 * i]), 3);
    return bool(out.flush());
}

// The preset's lines "key = value", quotes and comments dropped.
std::map<std::string, std::string> read_preset(const std::string& path)
{
    std::map<std::string, std::string> keys;
    std::istringstream lines(read_text(path));
    const std::regex line(R"re(^\s*([A-Za-z0-9_]+)\s*=\s*"?([^"#]*?)"?\s*(#.*)?$)re");
    for (std::string l; std::getline(lines, l);) {
        std::smatch m;
        if (std::regex_match(l, m, line))
            keys[m[1]] = m[2];
    }
    return keys;
}

// One stage's GLSL 4.50 from a .slang file, as described above.
std::string stage_text(const std::string& slang, const std::string& stage)
{
    const std::size_t first = slang.find("#pragma stage ");
    const std::size_t begin = slang.find("#pragma stage " + stage);
    if (first == std::string::npos || begin == std::string::npos)
        return {};
    const std::size_t body = slang.find('\n', begin) + 1, end = slang.find("#pragma stage ", body);
    std::string text = slang.substr(0, first) + slang.substr(body, end == std::string::npos ? end : end - body);
    text = std::regex_replace(text, std::regex(R"(layout\s*\(\s*push_constant\s*\))"), "layout(std140, binding = 1)");
    text = std::regex_replace(text, std::regex(R"(set\s*=\s*\d+\s*,\s*)"), "");
    text = std::regex_replace(text, std::regex(R"(#pragma (format|name|parameter)[^\n]*)"), "");
    return text;
}

GLuint compile(GLenum kind, const std::string& text, std::string& log)
{
    const GLuint s = CreateShader(kind);
    const char* p = text.c_str();
    ShaderSource(s, 1, &p, nullptr);
    CompileShader(s);
    GLint ok = 0;
    GetShaderiv(s, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char buffer[4096] = {};
        GetShaderInfoLog(s, sizeof buffer, nullptr, buffer);
        log = buffer;
        return 0;
    }
    return s;
}

// Sets the named member of a uniform block of the program to `v`, at its
// offset in the block's buffer; absent members are left out, as RetroArch does.
void put(GLuint program, std::vector<unsigned char>& block, const char* name, const float* v, std::size_t n)
{
    GLuint index = GL_INVALID_INDEX;
    GetUniformIndices(program, 1, &name, &index);
    if (index == GL_INVALID_INDEX)
        return;
    GLint offset = 0;
    GetActiveUniformsiv(program, 1, &index, GL_UNIFORM_OFFSET, &offset);
    if (std::size_t(offset) + n * 4 > block.size())
        block.resize(std::size_t(offset) + n * 4);
    std::memcpy(block.data() + offset, v, n * 4);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4)
        return fail("usage: slang_harness PRESET.slangp IN.ppm OUT.ppm");
    const std::string preset_path = argv[1], dir = preset_path.substr(0, preset_path.find_last_of('/') + 1);
    auto preset = read_preset(preset_path);
    picture in;
    if (!read_ppm(argv[2], in))
        return fail(std::string("cannot read ") + argv[2]);
    const int passes = std::atoi(preset["shaders"].c_str());
    if (passes < 1)
        return fail("the preset names no shaders");

    const EGLDisplay display = eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, nullptr, nullptr) || !eglBindAPI(EGL_OPENGL_API))
        return fail("no surfaceless EGL display");
    const EGLint attributes[] = {EGL_CONTEXT_MAJOR_VERSION, 4, EGL_CONTEXT_MINOR_VERSION, 5,
                                 EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT, EGL_NONE};
    const EGLContext context = eglCreateContext(display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attributes);
    if (context == EGL_NO_CONTEXT || !eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context) || !load_gl())
        return fail("no OpenGL 4.5 core context");
    std::printf("renderer: %s\n", reinterpret_cast<const char*>(GetString(GL_RENDERER)));
    Disable(GL_DITHER);

    // The quad: Position 0..1 and TexCoord 0..1, as a strip; the MVP maps it onto the output.
    const float quad[] = {0, 0, 0, 1, 0, 0, /**/ 1, 0, 0, 1, 1, 0, /**/ 0, 1, 0, 1, 0, 1, /**/ 1, 1, 0, 1, 1, 1};
    const float mvp[16] = {2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 1, 0, -1, -1, 0, 1};
    GLuint vao = 0, vbo = 0, ubo[2] = {};
    GenVertexArrays(1, &vao);
    BindVertexArray(vao);
    GenBuffers(1, &vbo);
    BindBuffer(GL_ARRAY_BUFFER, vbo);
    BufferData(GL_ARRAY_BUFFER, sizeof quad, quad, GL_STATIC_DRAW);
    VertexAttribPointer(0, 4, GL_FLOAT, GL_FALSE, 6 * sizeof(float), nullptr);
    VertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 6 * sizeof(float), reinterpret_cast<void*>(4 * sizeof(float)));
    EnableVertexAttribArray(0);
    EnableVertexAttribArray(1);
    GenBuffers(2, ubo);

    GLuint source = 0;
    GenTextures(1, &source);
    BindTexture(GL_TEXTURE_2D, source);
    PixelStorei(GL_UNPACK_ALIGNMENT, 1);
    TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, in.width, in.height, 0, GL_RGBA, GL_UNSIGNED_BYTE, in.rgba.data());
    int w = in.width, h = in.height;
    GLuint framebuffer = 0;
    for (int i = 0; i < passes; ++i) {
        const std::string n = std::to_string(i);
        if (preset["scale_type" + n] != "source")
            return fail("pass " + n + ": only scale_type source is run here");
        const float scale = float(std::atof(preset["scale" + n].c_str()));
        const int ow = int(float(w) * scale), oh = int(float(h) * scale);
        const std::string slang = read_text(dir + preset["shader" + n]);
        if (slang.find("#pragma format R8G8B8A8_UNORM") == std::string::npos)
            return fail("pass " + n + ": only R8G8B8A8_UNORM targets are run here");
        std::string log;
        const GLuint vs = compile(GL_VERTEX_SHADER, stage_text(slang, "vertex"), log);
        const GLuint fs = vs ? compile(GL_FRAGMENT_SHADER, stage_text(slang, "fragment"), log) : 0;
        if (!fs)
            return fail("pass " + n + " does not compile: " + log);
        const GLuint program = CreateProgram();
        AttachShader(program, vs);
        AttachShader(program, fs);
        LinkProgram(program);
        GLint linked = 0;
        GetProgramiv(program, GL_LINK_STATUS, &linked);
        if (!linked)
            return fail("pass " + n + " does not link");
        UseProgram(program);

        // Source: the pass before's output, filtered and wrapped as the preset says.
        const bool linear = preset["filter_linear" + n] == "true";
        const std::string wrap = preset["wrap_mode" + n];
        const GLint wrap_mode = wrap == "repeat" ? GL_REPEAT : wrap == "mirrored_repeat" ? GL_MIRRORED_REPEAT
                                : wrap == "clamp_to_border"                              ? GL_CLAMP_TO_BORDER
                                                                                         : GL_CLAMP_TO_EDGE;
        ActiveTexture(GL_TEXTURE0 + 2);
        BindTexture(GL_TEXTURE_2D, source);
        TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, linear ? GL_LINEAR : GL_NEAREST);
        TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, linear ? GL_LINEAR : GL_NEAREST);
        TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrap_mode);
        TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrap_mode);

        const float source_size[4] = {float(w), float(h), 1.0f / float(w), 1.0f / float(h)};
        const float output_size[4] = {float(ow), float(oh), 1.0f / float(ow), 1.0f / float(oh)};
        std::vector<unsigned char> global, push;
        put(program, global, "UBO.MVP", mvp, 16);
        put(program, push, "Push.SourceSize", source_size, 4);
        put(program, push, "Push.OutputSize", output_size, 4);
        put(program, push, "Push.MVP", mvp, 16);
        for (int b = 0; b < 2; ++b) {
            std::vector<unsigned char>& block = b == 0 ? global : push;
            block.resize(block.size() + 16);
            BindBuffer(GL_UNIFORM_BUFFER, ubo[b]);
            BufferData(GL_UNIFORM_BUFFER, GLsizeiptr(block.size()), block.data(), GL_STREAM_DRAW);
            BindBufferBase(GL_UNIFORM_BUFFER, GLuint(b), ubo[b]);
        }

        GLuint target = 0;
        GenTextures(1, &target);
        BindTexture(GL_TEXTURE_2D, target);
        TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, ow, oh, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        BindTexture(GL_TEXTURE_2D, source);
        GenFramebuffers(1, &framebuffer);
        BindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        FramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, target, 0);
        if (CheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
            return fail("pass " + n + ": no framebuffer");
        Viewport(0, 0, ow, oh);
        DrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        source = target, w = ow, h = oh;
    }
    picture out{w, h, std::vector<unsigned char>(std::size_t(w) * h * 4)};
    PixelStorei(GL_PACK_ALIGNMENT, 1);
    ReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, out.rgba.data());
    if (GetError() != GL_NO_ERROR)
        return fail("the driver reported an error");
    if (!write_ppm(argv[3], out))
        return fail(std::string("cannot write ") + argv[3]);
    std::printf("%d passes, %d x %d -> %d x %d\n", passes, in.width, in.height, w, h);
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(display, context);
    return 0;
}
