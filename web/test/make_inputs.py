"""Makes the browser test's inputs from Debian's crawl-tiles pixel art with
Pillow, a program other than this project's, in every format the page reads:
an animated GIF (and one whose scaled frames a GIF holds), an animated PNG and an animated WebP of the same six
sprites with their own delays, a lossy WebP still, binary PPM, PGM and PAM.

    /usr/bin/python3 make_inputs.py TILES_DIR OUT_DIR
"""
import sys
from pathlib import Path

from PIL import Image

tiles, out = Path(sys.argv[1]), Path(sys.argv[2])
sheet = Image.open(tiles / "main.png").convert("RGBA")
# Six 32 x 32 sprites from the sheet's first row, and their delays in ms
# (multiples of 10, which GIF's hundredths hold exactly).
frames = [sheet.crop((32 * i, 0, 32 * i + 32, 32)) for i in range(6)]
delays = [80, 120, 60, 200, 100, 40]


def opaque_or_clear(im):
    """GIF holds no partial alpha: each pixel either shown or clear."""
    alpha = im.getchannel("A").point(lambda a: 255 if a >= 128 else 0)
    im = im.copy()
    im.putalpha(alpha)
    return im


gif_frames = []
for f in frames:
    f = opaque_or_clear(f)
    p = f.convert("RGB").quantize(colors=255, dither=Image.Dither.NONE)
    # Index 255 is the clear one.
    p.putpalette(p.getpalette()[: 3 * 255] + [0, 0, 0])
    px, alpha = p.load(), f.getchannel("A").load()
    for y in range(f.height):
        for x in range(f.width):
            if alpha[x, y] == 0:
                px[x, y] = 255
    p.info["transparency"] = 255
    gif_frames.append(p)
gif_frames[0].save(out / "walk.gif", save_all=True, append_images=gif_frames[1:], duration=delays, loop=0,
                   disposal=2, transparency=255, optimize=False)
# The same sprites opaque on a background in 16 colours: few enough that
# their blends still fit one GIF palette once scaled.
flat = [Image.alpha_composite(Image.new("RGBA", f.size, (40, 60, 90, 255)), f).convert("RGB")
        .quantize(colors=16, dither=Image.Dither.NONE) for f in frames]
flat[0].save(out / "flat.gif", save_all=True, append_images=flat[1:], duration=delays, loop=0, optimize=False)
# Those again as an animated PNG with delays GIF cannot hold (its hundredths):
# written as a GIF, they come with the tool's warning.
flat_rgb = [f.convert("RGB") for f in flat]
flat_rgb[0].save(out / "flat-odd.png", save_all=True, append_images=flat_rgb[1:], duration=[d + 5 for d in delays],
                 loop=0)
frames[0].save(out / "walk.png", save_all=True, append_images=frames[1:], duration=delays, loop=0, disposal=1)
frames[0].save(out / "walk.webp", save_all=True, append_images=frames[1:], duration=delays, loop=0, lossless=True)
sprite = Image.open(tiles / "stone_soup_icon-48x48.png").convert("RGBA")
sprite.save(out / "lossy.webp", quality=80)
sprite.convert("RGB").save(out / "sprite.ppm")
sprite.convert("L").save(out / "sprite.pgm")
header = f"P7\nWIDTH {sprite.width}\nHEIGHT {sprite.height}\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n"
(out / "sprite.pam").write_bytes(header.encode() + sprite.tobytes())
