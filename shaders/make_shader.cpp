// Writes the fragment shader from its text (lq2x.frag.in) and the library's
// own rule table, so the shader that ships decides exactly as the library
// does; and a C++ source holding both shaders' text for the GPU host.
//
//     make_shader lq2x.frag.in lq2x.vert out/lq2x.frag out/shader_text.cpp
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "scaler/codes.h"
#include "scaler/frames.h"

namespace {

using namespace lq2x::detail;

constexpr const char* MARKER = "// @RULE_TABLE@";

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
    if (argc != 5) {
        std::fprintf(stderr, "usage: make_shader lq2x.frag.in lq2x.vert lq2x.frag shader_text.cpp\n");
        return 2;
    }
    std::string fragment, vertex;
    if (!read(argv[1], fragment) || !read(argv[2], vertex) || fragment.empty() || vertex.empty()) {
        std::fprintf(stderr, "make_shader: cannot read %s or %s\n", argv[1], argv[2]);
        return 1;
    }
    const std::size_t at = fragment.find(MARKER);
    if (at == std::string::npos || fragment.find(MARKER, at + 1) != std::string::npos) {
        std::fprintf(stderr, "make_shader: %s must hold the line %s once\n", argv[1], MARKER);
        return 1;
    }
    fragment.replace(at, std::string(MARKER).size(), rule_table());
    const std::string DELIMITER = ")lq2x_shader\"";
    const std::string source = "// Written by shaders/make_shader.cpp: the shaders' text, as shipped in lq2x.frag and lq2x.vert.\n"
                               "extern const char LQ2X_FRAGMENT_SHADER[], LQ2X_VERTEX_SHADER[];\n"
                               "const char LQ2X_FRAGMENT_SHADER[] = R\"lq2x_shader(" + fragment + DELIMITER + ";\n"
                               "const char LQ2X_VERTEX_SHADER[] = R\"lq2x_shader(" + vertex + DELIMITER + ";\n";
    if (!write(argv[3], fragment) || !write(argv[4], source)) {
        std::fprintf(stderr, "make_shader: cannot write %s or %s\n", argv[3], argv[4]);
        return 1;
    }
    return 0;
}
