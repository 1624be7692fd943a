#!/usr/bin/env bash
# The presets in the real programs: mpv (a user shader, 2x and 4x) and
# RetroArch (.glslp with the GL driver, 2x and 4x) each show a still under
# Xvfb on Mesa's llvmpipe at 1:1 output, with their own scaling and
# filtering off, and take their own screenshot with the shaders applied; the
# screenshot's pixels must equal the tool's output for the same picture. The
# stills: a piece of real art (Debian's crawl-tiles-data, made opaque) and a
# sheet of few-colour noise. The .slangp presets, which Debian's RetroArch
# cannot run, go through a harness of RetroArch's pass semantics instead, and
# every .slang pass is compiled by glslangValidator.
#
#     bash tests/front_ends.sh BUILD_DIR [OUT_DIR]
#
# OUT_DIR keeps the inputs and screenshots (docs/gpu.md shows two of them).
# Needs mpv, retroarch, xvfb, xauth, glslang-tools, crawl-tiles-data and
# Debian's Python with Pillow; every program runs under `timeout`.
# LQ2X_RETROARCH names RetroArch's binary where it is not on the PATH.
set -euo pipefail
# The whole check on one X server of its own, so that nothing is shared
# and the server starts once.
if [[ -z ${LQ2X_OWN_X:-} ]]; then
    LQ2X_OWN_X=1 exec timeout 300 xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi
build=$(realpath "$1")
shaders=$build/shaders
tool=$build/lq2x
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
out=${2:-$work}
mkdir -p "$out"
py=/usr/bin/python3
art=/usr/share/crawl/dat/tiles/main.png
failed=0

# The stills: 64 x 48 of the tile sheet over opaque black (the programs show
# no alpha), and a 48 x 32 sheet of four colours, one of them favoured, so
# that many equality structures occur.
"$py" - "$art" "$out" <<'EOF'
import sys
from PIL import Image
art = Image.open(sys.argv[1]).convert("RGBA").crop((0, 0, 64, 48))
Image.alpha_composite(Image.new("RGBA", art.size, (0, 0, 0, 255)), art).convert("RGB").save(sys.argv[2] + "/art.png")
palette = [(20, 20, 30), (200, 60, 40), (240, 220, 90), (60, 140, 200)]
noise, s = Image.new("RGB", (48, 32)), 12345
for y in range(32):
    for x in range(48):
        s = (s * 1103515245 + 12345) & 0x7FFFFFFF
        noise.putpixel((x, y), palette[(s >> 16) % 4 if (s >> 8) % 3 else 0])
noise.save(sys.argv[2] + "/noise.png")
EOF
# Their sizes, and copies as PPM for the .slang harness.
"$py" - "$out" "$work" <<'EOF'
import sys
from PIL import Image
for name in ("art", "noise"):
    im = Image.open(f"{sys.argv[1]}/{name}.png").convert("RGB")
    im.save(f"{sys.argv[2]}/{name}.ppm")
    print(name, *im.size, file=open(f"{sys.argv[2]}/{name}.size", "w"))
EOF

# Each check adds a line "label<TAB>screenshot<TAB>expected" (or a failure
# of its own, with no screenshot); compare_all prints, for each, "label:
# N pixels compared, M differ" and fails if any pixel or size differs. One
# Python for them all, since its start costs more than a comparison.
checks=$work/checks.tsv
: >"$checks"
compare_all() {
    "$py" - "$checks" <<'EOF'
import sys
from PIL import Image
failed = False
for line in open(sys.argv[1]):
    label, shot, expected = line.rstrip("\n").split("\t")
    if not shot:
        print(f"{label}: FAILED {expected}")
        failed = True
        continue
    a, b = (Image.open(p).convert("RGB") for p in (shot, expected))
    if a.size != b.size:
        print(f"{label}: FAILED, sizes differ: {a.size} against {b.size}")
        failed = True
        continue
    pa, pb = a.load(), b.load()
    diff = [(x, y) for y in range(a.size[1]) for x in range(a.size[0]) if pa[x, y] != pb[x, y]]
    print(f"{label}: {a.size[0]} x {a.size[1]}: {a.size[0] * a.size[1]} pixels compared, {len(diff)} differ"
          + (f" (first at {diff[0]}: {pa[diff[0]]} against {pb[diff[0]]}): FAILED" if diff else ""))
    failed = failed or bool(diff)
sys.exit(1 if failed else 0)
EOF
}
# check LABEL SHOT EXPECTED, or check LABEL "" WHY.
check() { printf '%s\t%s\t%s\n' "$@" >>"$checks"; }

# A program on the X server, with a time limit.
on_x() { timeout 60 "$@"; }

# The library's bits for each still and scale, by the tool.
for name in art noise; do
    for scale in 2 4; do
        "$tool" --scale "$scale" "$out/$name.png" "$out/$name-lq2x-${scale}x.png"
    done
done

# mpv: the picture's MAIN texture goes through the hooks; the window is the
# scaled size exactly, so mpv's own scaler (nearest) has nothing to do.
# Dithering, sigmoid and linear scaling, debanding and colour management
# stay off; the screenshot is of the window as rendered, in 8 bits.
cat >"$work/shot.lua" <<'EOF'
-- Once the picture is shown: a screenshot of the window to the file given, then quit.
local out, done = mp.get_opt("lq2x-shot"), false
mp.register_event("playback-restart", function()
    if done then return end
    done = true
    mp.add_timeout(0.2, function()
        mp.commandv("screenshot-to-file", out, "window")
        mp.command("quit")
    end)
end)
EOF
mpv_version=$(mpv --version | sed -n '1s/^\(mpv [^ ]*\).*/\1/p')
for name in art noise; do
    read -r _ w h <"$work/$name.size"
    for scale in 2 4; do
        shot=$out/mpv-$name-${scale}x.png
        on_x mpv --no-config --load-scripts=no --ytdl=no --msg-level=all=v --vo=gpu --gpu-api=opengl \
            --gpu-context=x11egl --glsl-shaders="$shaders/mpv/lq2x-${scale}x.glsl" \
            --geometry=$((scale * w))x$((scale * h)) --scale=nearest --dscale=nearest --cscale=nearest \
            --dither-depth=no --no-sigmoid-upscaling --no-linear-upscaling --no-linear-downscaling \
            --no-correct-downscaling --deband=no --icc-profile-auto=no --screenshot-format=png \
            --screenshot-high-bit-depth=no --osd-level=0 --image-display-duration=inf \
            --script="$work/shot.lua" --script-opts=lq2x-shot="$shot" "$out/$name.png" >"$work/mpv.log" 2>&1 || true
        renderer=$(sed -nE "s/.*GL_RENDERER='(.*)'.*/\1/p" "$work/mpv.log" | sed -n 1p)
        label="front end: $mpv_version ($renderer), mpv/lq2x-${scale}x.glsl, $name.png"
        if [[ -f $shot ]]; then
            check "$label" "$shot" "$out/$name-lq2x-${scale}x.png"
        else
            check "$label" "" "no screenshot"
            tail -n 20 "$work/mpv.log" >&2
        fi
    done
done

# RetroArch: the built-in image viewer shows the still; integer scaling, a
# window of the scaled size (video_scale), bilinear filtering off, no menu,
# overlay or notifications; the screenshot is of the GPU's output
# (video_gpu_screenshot), taken at the end of --max-frames.
retroarch=${LQ2X_RETROARCH:-retroarch}
ra_version=$("$retroarch" --version 2>&1 | sed -nE '/Frontend/s/.*(v[0-9.]+).*/RetroArch \1/p')
mkdir -p "$work/ra"
for name in art noise; do
    for scale in 2 4; do
        cat >"$work/ra/retroarch.cfg" <<EOF
video_driver = "gl"
audio_driver = "null"
audio_enable = "false"
input_joypad_driver = "null"
menu_driver = "rgui"
video_shader_enable = "true"
video_scale = "$scale"
video_scale_integer = "true"
video_smooth = "false"
video_gpu_screenshot = "true"
video_fullscreen = "false"
video_font_enable = "false"
input_overlay_enable = "false"
menu_enable_widgets = "false"
builtin_imageviewer_enable = "true"
video_vsync = "false"
video_threaded = "false"
config_save_on_exit = "false"
pause_nonactive = "false"
EOF
        shot=$out/retroarch-$name-${scale}x.png
        HOME=$work/ra XDG_CONFIG_HOME=$work/ra on_x "$retroarch" -v -c "$work/ra/retroarch.cfg" \
            --set-shader="$shaders/retroarch/lq2x-${scale}x.glslp" --max-frames=10 --max-frames-ss \
            --max-frames-ss-path="$shot" "$out/$name.png" >"$work/ra.log" 2>&1 || true
        renderer=$(sed -nE 's/.*\[GL\]: Vendor: .*, Renderer: (.*)\.$/\1/p' "$work/ra.log" | sed -n 1p)
        programs=$(grep -c 'Using GLSL version 130' "$work/ra.log" || true)
        label="front end: $ra_version gl driver ($renderer), retroarch/lq2x-${scale}x.glslp, $name.png"
        if ((programs >= 2)) && [[ -f $shot ]]; then
            check "$label" "$shot" "$out/$name-lq2x-${scale}x.png"
        else
            check "$label" "" "no screenshot, or the preset not loaded"
            tail -n 30 "$work/ra.log" >&2
        fi
    done
done

# The .slangp presets: Debian's RetroArch has neither its Vulkan nor its GL
# core video driver, the two that run .slang passes; it says so when asked
# for either (its own log line below). They run instead in a harness that
# follows RetroArch's documented pass semantics (tests/slang_harness.cpp).
sed -e 's/^video_driver = "gl"/video_driver = "glcore"/' "$work/ra/retroarch.cfg" >"$work/ra/glcore.cfg"
HOME=$work/ra XDG_CONFIG_HOME=$work/ra on_x "$retroarch" -v -c "$work/ra/glcore.cfg" \
    --set-shader="$shaders/retroarch/lq2x-2x.slangp" --max-frames=1 "$out/noise.png" >"$work/ra.log" 2>&1 || true
echo "front end: $ra_version with video_driver glcore: $(grep -m1 "Couldn't find any video driver" "$work/ra.log" ||
    echo 'ran it (the harness stands in for it all the same)')"
for name in art noise; do
    for scale in 2 4; do
        if harness=$("$build/tests/slang_harness" "$shaders/retroarch/lq2x-${scale}x.slangp" "$work/$name.ppm" \
                "$work/slang-$name-${scale}x.ppm"); then
            check "front end: RetroArch's .slang semantics in tests/slang_harness (OpenGL 4.5 core, $(sed -n 's/^renderer: //p' <<<"$harness")), retroarch/lq2x-${scale}x.slangp, $name.png" \
                "$work/slang-$name-${scale}x.ppm" "$out/$name-lq2x-${scale}x.png"
        else
            check "front end: the .slang harness, retroarch/lq2x-${scale}x.slangp, $name.png" "" "the harness failed"
        fi
    done
done
compare_all || failed=1

# Every .slang pass, each stage as RetroArch splits it at its pragma, into SPIR-V.
for slang in "$shaders"/retroarch/*.slang; do
    head_part=$(sed '/^#pragma stage /,$d' "$slang")
    for stage in vertex fragment; do
        ext=$([[ $stage == vertex ]] && echo vert || echo frag)
        { echo "$head_part"; sed -n "/^#pragma stage $stage/,/^#pragma stage /p" "$slang" | sed '/^#pragma stage /d'; } \
            >"$work/pass.$ext"
        if glslangValidator -V "$work/pass.$ext" -o "$work/pass.$ext.spv" >"$work/glslang.log"; then
            echo "glslangValidator -V $(basename "$slang") ($stage): compiled, $(stat -c %s "$work/pass.$ext.spv") bytes of SPIR-V"
        else
            cat "$work/glslang.log" >&2
            failed=1
        fi
    done
done
exit "$failed"
