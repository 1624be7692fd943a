"""The GIMP plug-in end to end: GIMP 2.10 headless (gimp-console, Script-Fu)
loads PNGs, calls plug-in-lq2x with several option sets, exports every
layer, and this script, reading the files with Pillow (not GIMP), holds the
exported pixels to the lq2x tool's output for the same picture and options,
and the layers' offsets and the canvas to where turning and scaling the
composition puts them. Refused calls must show the library's words and
leave the image as it was.

The plug-in is installed with `cmake --install --component gimp` into a
scratch folder and from there into a private GIMP profile (GIMP2_DIRECTORY),
so the machine's own GIMP settings and plug-ins are never touched. GIMP's
PNG export is told to keep colour under alpha 0 (its "save colour values
from transparent pixels") and to write neither gamma, nor a colour profile,
nor metadata, so the file holds the layer's stored values as they are.

    tests/gimp_test.py BUILD_DIR     (run by .ci/run; needs gimp, crawl-tiles-data, Pillow)
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

from PIL import Image

TILES = "/usr/share/crawl/dat/tiles"  # Debian's crawl-tiles-data: real art
GIMP = "gimp-console-2.10"
TIMEOUT = 240  # seconds for GIMP's whole run; a hang fails

# The animation: three frames cut from the player sheet, each its own size,
# at offsets in a 64 x 60 canvas (frame 0 is the bottom layer).
CANVAS = (64, 60)
FRAMES = [((0, 0, 32, 32), (0, 0)), ((96, 64, 120, 84), (40, 6)), ((200, 32, 216, 60), (10, 30))]

# Option sets: (name, picture, [scale, turn, edge-x, edge-y, tile-width,
# tile-height, tile-margin, tile-spacing, all-layers]).
# Every GIMP plug-in call (each load, export and scaling) is a process of
# its own that takes a second or two to start, so the sets are few and each
# tries several things at once.
CASES = [
    ("art-ccw-wrap-clear", "art", [4, 1, 1, 2, 0, 0, 0, 0, 1]),
    ("art-cw-grid", "art", [8, 2, 2, 0, 12, 12, 2, 1, 1]),
    ("grey-clear", "grey", [2, 2, 2, 2, 0, 0, 0, 0, 1]),  # grey gains alpha
    ("indexed-plain", "indexed", [2, 0, 0, 0, 0, 0, 0, 0, 1]),
    ("anim-ccw-grid", "anim", [4, 1, 1, 1, 8, 8, 0, 0, 1]),
    ("anim-cw-clear", "anim", [2, 2, 0, 2, 0, 0, 0, 0, 1]),
    ("anim-active", "anim", [2, 1, 0, 0, 0, 0, 0, 0, 0]),  # the active (top) layer alone
]
TURNS = ["none", "ccw", "cw"]
EDGES = ["clamp", "wrap", "transparent"]

# Refusals: (name, how the image is made, the plug-in's options, the words
# GIMP must show). The words are the library's (its GIMP door's names).
REFUSALS = [
    ("too-large", "(big-image)", [8, 0, 0, 0, 0, 0, 0, 0, 1],
     "LQ2x: layer 'big': image too large: the result, 32776 x 8192 pixels, is over the limit of 268435456 pixels"),
    ("no-grid", "(copy \"art\")", [2, 0, 0, 0, 0, 0, 3, 0, 1],
     "LQ2x: layer 'art': tile-margin: needs a tile grid (tile-width, tile-height)"),
    ("mask", "(masked-image)", [2, 0, 0, 0, 0, 0, 0, 0, 1], "LQ2x: layer 'art' has a layer mask"),
    ("16-bit", "(deep-image)", [2, 0, 0, 0, 0, 0, 0, 0, 1], "LQ2x: the image is of more than 8 bits a channel"),
]

SCHEME = r"""
(define dir "%(dir)s")
(define results (open-output-file (string-append dir "/results.txt")))
(define (say . parts)
  (for-each (lambda (p) (display p results)) parts)
  (newline results))
(define (path name) (string-append dir "/" name ".png"))
(define (load-picture name)
  (let* ((image (car (gimp-file-load RUN-NONINTERACTIVE (path name) (path name)))))
    (gimp-item-set-name (car (gimp-image-get-active-layer image)) name)
    image))
(define (animation)
  (let ((image (load-picture "frame0")))
    (gimp-image-resize image %(canvas_w)d %(canvas_h)d 0 0)
    (for-each (lambda (frame)
                (let ((layer (car (gimp-file-load-layer RUN-NONINTERACTIVE image (path (car frame))))))
                  (gimp-image-insert-layer image layer 0 0)
                  (gimp-item-set-name layer (car frame))
                  (gimp-layer-set-offsets layer (cadr frame) (caddr frame))))
              '(("frame1" %(f1x)d %(f1y)d) ("frame2" %(f2x)d %(f2y)d)))
    (gimp-image-set-active-layer image (car (gimp-image-get-layer-by-name image "frame2")))
    image))
; Each picture loaded once; every case scales a copy (a copy costs no plug-in call).
(define loaded (map (lambda (name) (cons name (if (equal? name "anim") (animation) (load-picture name))))
                    '("art" "grey" "indexed" "anim")))
(define (copy name)
  (let* ((image (car (gimp-image-duplicate (cdr (assoc name loaded))))))
    (if (equal? name "anim") (gimp-image-set-active-layer image (car (gimp-image-get-layer-by-name image "frame2"))))
    image))
(define (report name image all)
  (say "image " name " " (car (gimp-image-width image)) " " (car (gimp-image-height image)))
  (for-each (lambda (layer)
              (let* ((layer-name (car (gimp-item-get-name layer)))
                     (file (path (string-append name "-" layer-name)))
                     (offsets (gimp-drawable-offsets layer)))
                ; The layers left alone are not exported: their size says they are untouched.
                (if (or all (equal? layer (car (gimp-image-get-active-layer image))))
                    (file-png-save2 RUN-NONINTERACTIVE image layer file file 0 9 0 0 0 0 0 0 1))
                (say "layer " name " " layer-name " " (car offsets) " " (cadr offsets) " "
                     (car (gimp-drawable-width layer)) " " (car (gimp-drawable-height layer)))))
            (vector->list (cadr (gimp-image-get-layers image)))))
(define (scaled name picture-name options)
  (let* ((image (copy picture-name)))
    (apply plug-in-lq2x (append (list RUN-NONINTERACTIVE image (car (gimp-image-get-active-layer image))) options))
    (report name image (= 1 (list-ref options 8)))
    (gimp-image-delete image)))
(define (big-image)
  (let* ((image (car (gimp-image-new 4097 1024 RGB)))
         (layer (car (gimp-layer-new image 4097 1024 RGBA-IMAGE "big" 100 LAYER-MODE-NORMAL))))
    (gimp-image-insert-layer image layer 0 0)
    image))
(define (masked-image)
  (let* ((image (copy "art")) (layer (car (gimp-image-get-active-layer image))))
    (gimp-layer-add-mask layer (car (gimp-layer-create-mask layer ADD-MASK-WHITE)))
    image))
(define (deep-image)
  (let ((image (copy "art")))
    (gimp-image-convert-precision image PRECISION-U16-GAMMA)
    image))
(define last-error "")
(define (refuse name made options)
  (let* ((image made) (layer (car (gimp-image-get-active-layer image))))
    (set! last-error "")
    ; The procedure's error, kept before the handler "catch" set up runs.
    (set! *error-hook* (lambda args (set! last-error (car args)) (throw)))
    (if (catch #t (apply plug-in-lq2x (append (list RUN-NONINTERACTIVE image layer) options)) #f)
        (say "refused " name " " last-error)
        (say "not refused " name))
    (set! *error-hook* throw)
    (say "after " name " " (car (gimp-image-width image)) " " (car (gimp-image-height image)) " "
         (car (gimp-drawable-width layer)) " " (car (gimp-drawable-height layer)))
    (gimp-image-delete image)))
"""


def rgba(path):
    with Image.open(path) as im:
        return im.size, list(im.convert("RGBA").getdata())


def turned_corner(box, canvas, turn, scale):
    """Where a box's top-left lands: its corners turned as points of the
    canvas (counter-clockwise (x, y) -> (y, W - x), clockwise (H - y, x)),
    the smallest of them, times the scale."""
    (x0, y0, x1, y1), (w, h) = box, canvas
    turn_point = {0: lambda x, y: (x, y), 1: lambda x, y: (y, w - x), 2: lambda x, y: (h - y, x)}[turn]
    points = [turn_point(x0, y0), turn_point(x1, y1)]
    return min(p[0] for p in points) * scale, min(p[1] for p in points) * scale


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/release")
    tool = os.path.join(build, "lq2x")
    if shutil.which(GIMP) is None:
        sys.exit(f"gimp_test: {GIMP} is missing (Debian's gimp)")
    work = tempfile.mkdtemp(prefix="lq2x-gimp-")
    try:
        return run(build, tool, work)
    finally:
        shutil.rmtree(work)


def run(build, tool, work):
    # The plug-in as cmake installs it, into a private profile.
    subprocess.run(["cmake", "--install", build, "--component", "gimp"], check=True, stdout=subprocess.DEVNULL,
                   env=dict(os.environ, DESTDIR=os.path.join(work, "dest")))
    installed = [os.path.join(d, f) for d, _, fs in os.walk(os.path.join(work, "dest")) for f in fs]
    assert len(installed) == 1 and installed[0].endswith("/plug-ins/lq2x/lq2x"), installed
    profile = os.path.join(work, "profile")
    for folder in ["plug-ins/lq2x", "brushes", "dynamics", "gradients", "palettes", "patterns", "tool-presets"]:
        os.makedirs(os.path.join(profile, folder))
    shutil.copy2(installed[0], os.path.join(profile, "plug-ins/lq2x/lq2x"))
    with open(os.path.join(profile, "gimprc"), "w") as f:
        f.write("(export-color-profile no)\n(export-metadata-exif no)\n(export-metadata-xmp no)\n")

    # The pictures: real art with transparency, real indexed art (a palette
    # with a transparent entry), grey cut from real art, and the frames.
    pics = os.path.join(work, "in")
    os.makedirs(pics)
    shutil.copy(f"{TILES}/stone_soup_icon-48x48.png", f"{pics}/art.png")
    shutil.copy(f"{TILES}/stone_soup_icon-32x32.png", f"{pics}/indexed.png")
    with Image.open(f"{TILES}/feat.png") as im:
        im.crop((0, 0, 40, 36)).convert("L").save(f"{pics}/grey.png")
    with Image.open(f"{TILES}/player.png") as im:
        for k, (box, _) in enumerate(FRAMES):
            im.crop(box).save(f"{pics}/frame{k}.png")
    (f1x, f1y), (f2x, f2y) = FRAMES[1][1], FRAMES[2][1]
    scheme = SCHEME % dict(dir=pics, canvas_w=CANVAS[0], canvas_h=CANVAS[1], f1x=f1x, f1y=f1y, f2x=f2x, f2y=f2y)
    with open(f"{pics}/cases.scm", "w") as f:
        f.write(scheme)

    def ints(options):
        return " ".join(map(str, options))

    # One batch command: each runs in a Script-Fu of its own, which keeps nothing.
    calls = [f'(scaled "{name}" "{pic}" (list {ints(o)}))' for name, pic, o in CASES]
    calls += [f'(refuse "{name}" {made} (list {ints(options)}))' for name, made, options, _ in REFUSALS]
    batch = f'(begin (load "{pics}/cases.scm") {" ".join(calls)} (close-output-port results))'
    args = [GIMP, "-i", "-d", "-f", "--batch-interpreter", "plug-in-script-fu-eval", "-b", batch, "-b", "(gimp-quit 0)"]
    started = time.monotonic()
    gimp = subprocess.run(args, env=dict(os.environ, GIMP2_DIRECTORY=profile), capture_output=True, text=True,
                          timeout=TIMEOUT)
    print(f"gimp: GIMP's run took {time.monotonic() - started:.1f} s")
    version = subprocess.run([GIMP, "--version"], capture_output=True, text=True).stdout.strip()
    with open(f"{pics}/results.txt") as f:
        text = f.read()
    lines = [line.split() for line in text.splitlines()]
    images = {l[1]: (int(l[2]), int(l[3])) for l in lines if l[0] == "image"}
    layers = {(l[1], l[2]): tuple(map(int, l[3:7])) for l in lines if l[0] == "layer"}

    passed, failed, pixels = 0, 0, 0

    def check(ok, what):
        nonlocal passed, failed
        if ok:
            passed += 1
        else:
            failed += 1
            print(f"gimp_test: FAILED: {what}")

    sizes = {"art": (48, 48), "indexed": (32, 32), "grey": (40, 36)}
    for name, pic, (scale, turn, ex, ey, tw, th, tm, ts, every) in CASES:
        flags = ["--scale", str(scale), "--rotate", TURNS[turn], "--edge", f"{EDGES[ex]},{EDGES[ey]}"]
        if tw or th:
            flags += ["--tile", f"{tw}x{th}", "--tile-margin", str(tm), "--tile-spacing", str(ts)]
        if pic == "anim":
            canvas = CANVAS
            members = [(f"frame{k}", (ox, oy, ox + box[2] - box[0], oy + box[3] - box[1]))
                       for k, (box, (ox, oy)) in enumerate(FRAMES)]
        else:
            canvas = sizes[pic]
            members = [(pic, (0, 0) + canvas)]
        swap = turn != 0
        want_canvas = ((canvas[1], canvas[0]) if swap else canvas) if every else canvas
        if every:
            want_canvas = (want_canvas[0] * scale, want_canvas[1] * scale)
        check(images.get(name) == want_canvas, f"{name}: canvas {images.get(name)}, not {want_canvas}")
        for member, box in members:
            got = layers.get((name, member))
            if not (every or member == "frame2"):  # left alone: where and as large as it was
                check(got == box[:2] + (box[2] - box[0], box[3] - box[1]), f"{name}: {member} moved or changed: {got}")
                continue
            exported = f"{pics}/{name}-{member}.png"
            if got is None or not os.path.exists(exported):
                check(False, f"{name}: no layer {member} reported or exported")
                continue
            expected = f"{pics}/{name}-{member}-tool.png"
            subprocess.run([tool, *flags, f"{pics}/{member}.png", expected], check=True, timeout=60)
            want_offsets = turned_corner(box, canvas, turn, scale) if every else box[:2]
            (w, h), want = rgba(expected)
            (gw, gh), have = rgba(exported)
            check(got[2:] == (w, h) and (gw, gh) == (w, h), f"{name}: {member} is {got[2:]}, the tool's {w} x {h}")
            same = have == want
            check(same, f"{name}: {member}'s pixels differ from the tool's "
                        f"({sum(a != b for a, b in zip(have, want))} of {len(want)})")
            pixels += len(want) if same else 0
            check(got[:2] == want_offsets, f"{name}: {member} at {got[:2]}, not {want_offsets}")
        print(f"gimp: {name} (scale {scale}, turn {TURNS[turn]}, edges {EDGES[ex]},{EDGES[ey]}"
              + (f", tile {tw}x{th} margin {tm} spacing {ts}" if tw else "")
              + (", all layers" if every else ", the active layer") + f"): {len(members)} layer(s), "
              f"canvas {images.get(name)}, offsets {[layers.get((name, m), (None,))[:2] for m, _ in members]}")

    for name, _, _, words in REFUSALS:
        shown = [l for l in text.splitlines() if l.startswith(f"refused {name} ") and words in l]
        check(len(shown) == 1, f"{name}: GIMP showed no '{words}'")
        after = [l for l in lines if l[:2] == ["after", name]]
        want = {"too-large": [4097, 1024, 4097, 1024]}.get(name, [48, 48, 48, 48])
        check(len(after) == 1 and list(map(int, after[0][2:])) == want, f"{name}: changed after the refusal: {after}")
        print(f"gimp: refused {name}: {shown[0].split('failed: ', 1)[-1] if shown else '(nothing shown)'}")

    if failed:
        print(gimp.stderr[-4000:])
    print(f"gimp: {version}; {pixels} pixels compared equal to the tool's over {len(CASES)} option sets")
    print(f"gimp plug-in: {passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
