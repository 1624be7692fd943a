// Writes every shader from one text (lq2x.frag.in) and the library's own
// rule table, so each shader that ships decides exactly as the library does:
// the GPU host's, on integer textures (lq2x.frag); the same on normalized
// RGBA8 textures (lq2x_float.frag); and that float form wrapped as the
// presets of programs that chain shaders on normalized textures (mpv's user
// shaders, RetroArch's .slang and .glsl passes). A variant says only how a
// pixel is fetched and how the result is written; the rule and the blend
// arithmetic are the template's, once. Also a C++ source holding the host's
// shaders' text.
//
//     make_shader lq2x.frag.in lq2x.vert OUT_DIR
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>

#include "scaler/rule/codes.h"
#include "scaler/kernels/frame_args.h"

namespace {

using namespace lq2x::detail;

// The tables the shader decides by, as GLSL constants.
std::string rule_table()
{
    std::ostringstream s;
    s << "// The rule, written by shaders/make_shader.cpp from the library's table\n"
         "// (scaler/codes.h): for each diff pattern, one code a quarter (tl in the\n"
         "// lowest byte, then tr, bl, br). Bits 0-3: the pair that gates the blend\n"
         "// (T=L, T=R, B=L, B=R; none: the quarter stays C); bit 4: the neighbour\n"
         "// blended is the horizontal one (L or R) rather than the vertical one (T or\n"
         "// B); bits 5-7: kind H, W, E (none: kind Q).\n";
    s << "const uint CODE_HORIZONTAL = " << unsigned(CODE_HORIZONTAL) << "u, CODE_H = " << unsigned(CODE_H)
      << "u, CODE_W = " << unsigned(CODE_W) << "u, CODE_E = " << unsigned(CODE_E) << "u;\n";
    s << "const uint CODES[256] = uint[256](";
    for (int p = 0; p < 256; ++p) {
        char word[16];
        std::snprintf(word, sizeof word, "0x%08Xu", unsigned(PACKED_CODES.entry[p]));
        s << (p % 6 == 0 ? "\n    " : " ") << word << (p < 255 ? "," : "");
    }
    s << ");\n";
    // Kinds Q, H, W, E as (weight of C, weight of the neighbour, shift).
    s << "// Weights of C and of the neighbour, and the shift that divides by their sum,\n"
         "// for kinds Q, H, W and E.\n";
    s << "const uvec3 KIND_WEIGHTS[4] = uvec3[4](";
    const kind kinds[4] = {K_Q, K_H, K_W, K_E};
    for (int k = 0; k < 4; ++k) {
        const weights w = KIND_WEIGHTS[kinds[k]];
        const unsigned sum = w.c + w.x;
        unsigned shift = 0;
        while ((1u << shift) < sum)
            ++shift;
        s << "uvec3(" << unsigned(w.c) << "u, " << unsigned(w.x) << "u, " << shift << "u)" << (k < 3 ? ", " : "");
    }
    s << ");\n";
    s << "// Which quarter (0 tl, 1 tr, 2 bl, 3 br) lands at row r, column c of an output\n"
         "// block: QUARTER_AT[turn * 4 + r * 2 + c].\n";
    s << "const int QUARTER_AT[12] = int[12](";
    for (int t = 0; t < 3; ++t)
        for (int r = 0; r < 2; ++r)
            for (int c = 0; c < 2; ++c)
                s << int(QUARTER_AT[t][r][c]) << (t * 4 + r * 2 + c < 11 ? ", " : "");
    s << ");";
    return s.str();
}

// The host's uniforms, set per pass from the library's pass plan (shaders/passes.h).
constexpr const char* HOST_UNIFORMS = R"(uniform ivec2 u_size;        // its width and height in pixels
uniform int u_rgb565;        // 1: the RGB565 rule on each pixel's RGB565 word; 0: the rule on four 8-bit channels alike
uniform int u_hidden;        // 1: a texel whose alpha (.a) is 0 reads as all zero, as lq2x_scale_picture reads
                             // its source (set on the first pass only); 0: every bit counts, as in the frame calls
uniform int u_turn;          // 0 upright, 1 a quarter-turn counter-clockwise, 2 clockwise (lq2x_orientation)
uniform ivec2 u_edge;        // the edge modes across and down: 0 clamp, 1 wrap, 2 transparent (lq2x_edge)
uniform ivec4 u_grid;        // tile width, height, margin, spacing; width 0: no grid, the frame is one cell
)";

// A front end's pass has no uniforms of ours: the defaults, upright, edges
// clamped, no grid, four 8-bit channels. u_size is the front end's own.
constexpr const char* PRESET_SETTINGS = R"(const int u_rgb565 = 0;  // the rule on four 8-bit channels alike
const int u_hidden = 0;  // every bit counts
const int u_turn = 0;    // upright
const ivec2 u_edge = ivec2(0); // clamped at the picture's edges
const ivec4 u_grid = ivec4(0); // no tile grid: the picture is one cell
)";

// Fetch and write on integer textures: the bytes (or the RGB565 word in .r) as they are.
constexpr const char* INTEGER_IO = R"(uvec4 texel(ivec2 at) { return texelFetch(u_source, at, 0); }
uint word_of(uvec4 t) { return t.r; }
)";

// Fetch and write on normalized textures. A sample of byte b is b / 255 as
// a float, off by at most a few units in its last place (2^-24 relative in
// single precision; 2^-11 where a front end keeps half floats between
// passes): times 255 it lies within 0.13 of b, so adding 0.5 and truncating
// gives b exactly, for every byte. The RGB565 word is the top 5, 6 and 5
// bits of the three bytes, which is exact both for an RGB565 texture's
// samples (v / 31 and v / 63 land within 8v..8v+7 and 4v..4v+3 as bytes) and
// for the bytes written here. The result is written as p / 255, which a
// normalized colour buffer turns back into p by rounding to the nearest
// byte; an RGB565 word as its channels widened by repeating their top bits,
// alpha 255.
constexpr const char* FLOAT_IO = R"(uvec4 texel(ivec2 at) { return uvec4(SAMPLE(at) * 255.0 + 0.5); }
uint word_of(uvec4 t) { return (t.r >> 3) << 11 | (t.g >> 2) << 5 | t.b >> 3; }
vec4 colour_of(uvec4 p)
{
    if (u_rgb565 != 0) {
        uint r = p.r >> 11, g = p.r >> 5 & 0x3Fu, b = p.r & 0x1Fu;
        p = uvec4(r << 3 | r >> 2, g << 2 | g >> 4, b << 3 | b >> 2, 255u);
    }
    return vec4(p) / 255.0;
}
)";

struct variant {
    const char* header;    // the first lines: version, the program's directives, a word on this form
    std::string interface; // the source texture, the settings, fetch and write
    const char* entry;     // the program's entry point, calling lq2x_at
};

std::string fill(std::string text, const char* marker, const std::string& with)
{
    const std::size_t at = text.find(marker);
    if (at != std::string::npos)
        text.replace(at, std::string(marker).size(), with);
    return text;
}

std::string shader(const std::string& text, const std::string& table, const variant& v)
{
    return fill(fill(fill(fill(text, "// @HEADER@", v.header), "// @INTERFACE@", v.interface), "// @RULE_TABLE@", table),
                "// @ENTRY@", v.entry);
}

const variant HOST_INTEGER{
    "#version 300 es\n"
    "// lq2x.frag: integer textures in and out (R16UI RGB565 words or RGBA8UI),\n"
    "// so no float ever touches a colour. GLSL ES 3.00, for WebGL 2 and OpenGL\n"
    "// ES 3; desktop OpenGL 3.3 takes the same text with this first line\n"
    "// replaced by \"#version 330 core\".",
    std::string("precision highp float;\nprecision highp int;\nprecision highp usampler2D;\n\n"
                "uniform usampler2D u_source; // the pass's input: R16UI (RGB565 words in .r) or RGBA8UI, from texel (0, 0)\n") +
        HOST_UNIFORMS + "\nlayout(location = 0) out uvec4 o_pixel;\n\n" + INTEGER_IO,
    "void main() { o_pixel = lq2x_at(ivec2(gl_FragCoord.xy)); }\n"};

const variant HOST_FLOAT{
    "#version 300 es\n"
    "// lq2x_float.frag: normalized textures in and out (RGBA8, or an RGB565\n"
    "// frame in; RGBA8 out), for chains whose passes sample floats; the bytes\n"
    "// are recovered exactly. GLSL ES 3.00; desktop OpenGL 3.3 takes the same\n"
    "// text with this first line replaced by \"#version 330 core\".",
    std::string("precision highp float;\nprecision highp int;\nprecision highp sampler2D;\n\n"
                "uniform sampler2D u_source;  // the pass's input: RGBA8 or RGB565 (u_rgb565 1), nearest, from texel (0, 0)\n") +
        HOST_UNIFORMS + "\nlayout(location = 0) out vec4 o_colour;\n\n#define SAMPLE(at) texelFetch(u_source, at, 0)\n" +
        FLOAT_IO,
    "void main() { o_colour = colour_of(lq2x_at(ivec2(gl_FragCoord.xy))); }\n"};

// mpv: a hook on MAIN (the picture in RGB) that doubles it; the output
// pixel is found from the hooked texture's position, so any flip mpv makes
// is its own.
std::string mpv_header(int pass, int passes)
{
    return "//!HOOK MAIN\n//!BIND HOOKED\n//!DESC lq2x " + std::to_string(1 << passes) + "x, pass " +
           std::to_string(pass) + " of " + std::to_string(passes) +
           "\n//!WIDTH HOOKED.w 2 *\n//!HEIGHT HOOKED.h 2 *\n//!COMPONENTS 4\n"
           "// Written by lq2x's shaders/make_shader.cpp from the library's rule table.";
}

const std::string MPV_INTERFACE = std::string("#define SAMPLE(at) (texelFetch(HOOKED_raw, at, 0) * HOOKED_mul)\n"
                                              "#define u_size ivec2(HOOKED_size)\n") +
                                  PRESET_SETTINGS + FLOAT_IO;
constexpr const char* MPV_ENTRY = "vec4 hook() { return colour_of(lq2x_at(ivec2(HOOKED_pos * HOOKED_size * 2.0))); }\n";

// RetroArch's Vulkan-GLSL pass (.slang): its push constants and the pass's
// own texture coordinate, 0 to 1 over the output, give the output pixel.
const variant RETROARCH_SLANG{
    "#version 450\n"
    "// lq2x: one 2x pass for RetroArch's .slang presets, on normalized textures.\n"
    "// Written by lq2x's shaders/make_shader.cpp from the library's rule table.\n"
    "#pragma format R8G8B8A8_UNORM\n\n"
    "layout(push_constant) uniform Push { vec4 SourceSize; vec4 OutputSize; } params;\n"
    "layout(std140, set = 0, binding = 0) uniform UBO { mat4 MVP; } global;\n\n"
    "#pragma stage vertex\n"
    "layout(location = 0) in vec4 Position;\n"
    "layout(location = 1) in vec2 TexCoord;\n"
    "layout(location = 0) out vec2 vTexCoord;\n"
    "void main()\n{\n    gl_Position = global.MVP * Position;\n    vTexCoord = TexCoord;\n}\n\n"
    "#pragma stage fragment\n"
    "layout(location = 0) in vec2 vTexCoord;\n"
    "layout(location = 0) out vec4 FragColor;\n"
    "layout(set = 0, binding = 2) uniform sampler2D Source;",
    std::string("#define SAMPLE(at) texelFetch(Source, at, 0)\n#define u_size ivec2(params.SourceSize.xy)\n") +
        PRESET_SETTINGS + FLOAT_IO,
    "void main() { FragColor = colour_of(lq2x_at(ivec2(vTexCoord * params.OutputSize.xy))); }\n"};

// RetroArch's GLSL pass (.glsl, GL driver): both stages in one file. Its
// texture may be larger than the picture (TextureSize against InputSize),
// and its coordinate runs over the picture's part only.
const variant RETROARCH_GLSL{
    "#version 130\n"
    "// lq2x: one 2x pass for RetroArch's .glslp presets, on normalized textures.\n"
    "// Written by lq2x's shaders/make_shader.cpp from the library's rule table.\n"
    "#if defined(VERTEX)\n"
    "in vec4 VertexCoord;\n"
    "in vec4 TexCoord;\n"
    "out vec2 vTexCoord;\n"
    "uniform mat4 MVPMatrix;\n"
    "void main()\n{\n    gl_Position = MVPMatrix * VertexCoord;\n    vTexCoord = TexCoord.xy;\n}\n"
    "#elif defined(FRAGMENT)\n"
    "in vec2 vTexCoord;\n"
    "out vec4 FragColor;\n"
    "uniform sampler2D Texture;\n"
    "uniform vec2 TextureSize, InputSize, OutputSize;",
    std::string("#define SAMPLE(at) texelFetch(Texture, at, 0)\n#define u_size ivec2(InputSize)\n") + PRESET_SETTINGS +
        FLOAT_IO,
    "void main() { FragColor = colour_of(lq2x_at(ivec2(vTexCoord * TextureSize * OutputSize / InputSize))); }\n"
    "#endif\n"};

// A RetroArch preset of `passes` 2x passes of one file, nearest, clamped.
std::string retroarch_preset(const char* file, int passes)
{
    std::string s = "# lq2x " + std::to_string(1 << passes) + "x: " + std::to_string(passes) +
                    " passes of the 2x rule, each read nearest and clamped at the edges.\n"
                    "shaders = " + std::to_string(passes) + "\n";
    for (int i = 0; i < passes; ++i) {
        const std::string n = std::to_string(i);
        s += "\nshader" + n + " = " + file + "\nfilter_linear" + n + " = false\nwrap_mode" + n +
             " = clamp_to_edge\nscale_type" + n + " = source\nscale" + n + " = 2.0\n";
    }
    return s;
}

bool read(const char* path, std::string& text)
{
    std::ifstream in(path, std::ios::binary);
    text.assign(std::istreambuf_iterator<char>(in), {});
    return bool(in) || in.eof();
}

bool write(const char* path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
    return bool(out.flush());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: make_shader lq2x.frag.in lq2x.vert OUT_DIR\n");
        return 2;
    }
    std::string text, vertex;
    if (!read(argv[1], text) || !read(argv[2], vertex) || text.empty() || vertex.empty()) {
        std::fprintf(stderr, "make_shader: cannot read %s or %s\n", argv[1], argv[2]);
        return 1;
    }
    for (const char* marker : {"// @HEADER@", "// @INTERFACE@", "// @RULE_TABLE@", "// @ENTRY@"}) {
        const std::size_t at = text.find(marker);
        if (at == std::string::npos || text.find(marker, at + 1) != std::string::npos) {
            std::fprintf(stderr, "make_shader: %s must hold the line %s once\n", argv[1], marker);
            return 1;
        }
    }
    const std::string table = rule_table(), dir = argv[3];
    const std::string integer = shader(text, table, HOST_INTEGER), floating = shader(text, table, HOST_FLOAT);
    std::string mpv[2];
    for (int passes = 1; passes <= 2; ++passes)
        for (int i = 1; i <= passes; ++i) {
            const std::string header = mpv_header(i, passes);
            mpv[passes - 1] += (i > 1 ? "\n" : "") + shader(text, table, {header.c_str(), MPV_INTERFACE, MPV_ENTRY});
        }
    const std::string DELIMITER = ")lq2x_shader\"";
    const std::string source = "// Written by shaders/make_shader.cpp: the host's shaders' text, as shipped in lq2x.frag,\n"
                               "// lq2x_float.frag and lq2x.vert.\n"
                               "extern const char LQ2X_FRAGMENT_SHADER[], LQ2X_FLOAT_FRAGMENT_SHADER[], LQ2X_VERTEX_SHADER[];\n"
                               "const char LQ2X_FRAGMENT_SHADER[] = R\"lq2x_shader(" + integer + DELIMITER + ";\n"
                               "const char LQ2X_FLOAT_FRAGMENT_SHADER[] = R\"lq2x_shader(" + floating + DELIMITER + ";\n"
                               "const char LQ2X_VERTEX_SHADER[] = R\"lq2x_shader(" + vertex + DELIMITER + ";\n";
    const std::pair<std::string, std::string> files[] = {
        {"lq2x.frag", integer},
        {"lq2x_float.frag", floating},
        {"shader_text.cpp", source},
        {"mpv/lq2x-2x.glsl", mpv[0]},
        {"mpv/lq2x-4x.glsl", mpv[1]},
        {"retroarch/lq2x.slang", shader(text, table, RETROARCH_SLANG)},
        {"retroarch/lq2x-2x.slangp", retroarch_preset("lq2x.slang", 1)},
        {"retroarch/lq2x-4x.slangp", retroarch_preset("lq2x.slang", 2)},
        {"retroarch/lq2x.glsl", shader(text, table, RETROARCH_GLSL)},
        {"retroarch/lq2x-2x.glslp", retroarch_preset("lq2x.glsl", 1)},
        {"retroarch/lq2x-4x.glslp", retroarch_preset("lq2x.glsl", 2)},
    };
    for (const auto& [name, content] : files)
        if (!write((dir + "/" + name).c_str(), content)) {
            std::fprintf(stderr, "make_shader: cannot write %s/%s\n", dir.c_str(), name.c_str());
            return 1;
        }
    return 0;
}
