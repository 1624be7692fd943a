// Binary PGM (P5), PPM (P6) and PAM (P7) written, 8 bits a sample.
#include <string>

#include "formats.h"

namespace lq2x::files {

pnm_form pnm_form_of(int width, int height, layout kind, format f)
{
    // PGM holds grey, PPM colour, and PAM whatever the image has; "pnm" picks
    // PGM or PPM. PGM and PPM have no alpha, so it is dropped.
    if (f == format::pnm)
        f = is_grey(kind) ? format::pgm : format::ppm;
    if (f == format::pgm && !is_grey(kind))
        throw failure("a colour image cannot be written as PGM");
    const layout stored = f == format::pgm ? layout::grey : f == format::ppm ? layout::rgb : kind;
    std::string header;
    if (f == format::pam) {
        const char* tuple = is_grey(stored) ? (has_alpha(stored) ? "GRAYSCALE_ALPHA" : "GRAYSCALE")
                                            : (has_alpha(stored) ? "RGB_ALPHA" : "RGB");
        header = "P7\nWIDTH " + std::to_string(width) + "\nHEIGHT " + std::to_string(height) + "\nDEPTH " +
                 std::to_string(channels(stored)) + "\nMAXVAL 255\nTUPLTYPE " + tuple + "\nENDHDR\n";
    } else {
        header = std::string(f == format::pgm ? "P5" : "P6") + "\n" + std::to_string(width) + " " +
                 std::to_string(height) + "\n255\n";
    }
    return {std::move(header), stored};
}

void put_pnm_row(layout stored, std::span<const pixel8888> pixels, std::vector<std::uint8_t>& out)
{
    const auto* in = reinterpret_cast<const std::uint8_t*>(pixels.data());
    for (std::size_t i = 0; i < pixels.size(); ++i, in += 4) {
        if (is_grey(stored))
            out.push_back(in[0]);
        else
            out.insert(out.end(), in, in + 3);
        if (has_alpha(stored))
            out.push_back(in[3]);
    }
}

std::vector<std::uint8_t> encode_pnm(const image& img, format f)
{
    const pnm_form form = pnm_form_of(img.width, img.height, img.kind, f);
    std::vector<std::uint8_t> out(form.header.begin(), form.header.end());
    out.reserve(out.size() + img.pixels.size() * std::size_t(channels(form.stored)));
    put_pnm_row(form.stored, img.pixels, out);
    return out;
}

} // namespace lq2x::files
