// Binary PGM (P5), PPM (P6) and PAM (P7) written, 8 bits a sample.
#include <string>

#include "formats.h"

namespace lq2x::files {

std::vector<std::uint8_t> encode_pnm(const image& img, format f)
{
    // PGM holds grey, PPM colour, and PAM whatever the image has; "pnm" picks
    // PGM or PPM. PGM and PPM have no alpha, so it is dropped.
    if (f == format::pnm)
        f = is_grey(img.kind) ? format::pgm : format::ppm;
    if (f == format::pgm && !is_grey(img.kind))
        throw failure("a colour image cannot be written as PGM");
    const layout kind = f == format::pgm ? layout::grey : f == format::ppm ? layout::rgb : img.kind;
    const int depth = channels(kind);

    std::string header;
    if (f == format::pam) {
        const char* tuple = is_grey(kind) ? (has_alpha(kind) ? "GRAYSCALE_ALPHA" : "GRAYSCALE")
                                          : (has_alpha(kind) ? "RGB_ALPHA" : "RGB");
        header = "P7\nWIDTH " + std::to_string(img.width) + "\nHEIGHT " + std::to_string(img.height) + "\nDEPTH " +
                 std::to_string(depth) + "\nMAXVAL 255\nTUPLTYPE " + tuple + "\nENDHDR\n";
    } else {
        header = std::string(f == format::pgm ? "P5" : "P6") + "\n" + std::to_string(img.width) + " " +
                 std::to_string(img.height) + "\n255\n";
    }
    std::vector<std::uint8_t> out(header.begin(), header.end());
    out.reserve(out.size() + img.pixels.size() * std::size_t(depth));
    const std::uint8_t* in = img.bytes();
    for (std::size_t i = 0; i < img.pixels.size(); ++i, in += 4) {
        if (is_grey(kind))
            out.push_back(in[0]);
        else
            out.insert(out.end(), in, in + 3);
        if (has_alpha(kind))
            out.push_back(in[3]);
    }
    return out;
}

} // namespace lq2x::files
