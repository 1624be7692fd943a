"""Edge modes and the tile grid, against a model built only from the plain
(clamped, whole-image) scale:

- wrap: the image tiled three times along the axis, scaled, the middle cut out;
- transparent: the image padded with one all-zero pixel, scaled, cut out;
- grid: every pixel doubled, then each cell scaled alone (with the edge model)
  and pasted over its place;
- scale 4 and 8: the model applied pass after pass, the grid doubled each time;
- a turn: the upright model's result turned with numpy.
"""

import numpy as np
import pytest

import lq2x
from lq2x import _native
from conftest import art, to565

EDGES = ["clamp", "wrap", "transparent"]
TURNS = {"none": 0, "ccw": 1, "cw": -1}  # quarter-turns counter-clockwise, as numpy.rot90


def edge_pass(pixels: np.ndarray, edges) -> np.ndarray:
    """One upright 2x pass with (horizontal, vertical) edge modes."""
    extended, keep = pixels, [slice(None), slice(None)]
    for axis, mode in ((1, edges[0]), (0, edges[1])):
        n = pixels.shape[axis]
        if mode == "wrap":
            extended = np.concatenate([extended] * 3, axis=axis)
            keep[axis] = slice(2 * n, 4 * n)
        elif mode == "transparent":
            pad = [(0, 0)] * extended.ndim
            pad[axis] = (1, 1)
            extended = np.pad(extended, pad)
            keep[axis] = slice(2, 2 * n + 2)
    return lq2x.scale(extended)[tuple(keep)]


def cells(n: int, cell: int, margin: int, spacing: int):
    """[start, end) of each cell along an axis of n pixels; the last may be cut short."""
    start = margin
    while start < n:
        yield start, min(start + cell, n)
        start += cell + spacing


def grid_pass(pixels: np.ndarray, edges, grid) -> np.ndarray:
    width, height, margin, spacing = grid
    out = np.repeat(np.repeat(pixels, 2, axis=0), 2, axis=1)
    for y0, y1 in cells(pixels.shape[0], height, margin, spacing):
        for x0, x1 in cells(pixels.shape[1], width, margin, spacing):
            out[2 * y0:2 * y1, 2 * x0:2 * x1] = edge_pass(pixels[y0:y1, x0:x1], edges)
    return out


def model(pixels: np.ndarray, rotate="none", factor=2, edges=("clamp", "clamp"), grid=None) -> np.ndarray:
    for i in range({2: 1, 4: 2, 8: 3}[factor]):
        pixels = grid_pass(pixels, edges, [v << i for v in grid]) if grid else edge_pass(pixels, edges)
    return np.rot90(pixels, TURNS[rotate])


def sprites(rng, height, width, kind):
    """Clean RGBA (invisible pixels all zero, as the model doubles them as they are) or RGB565."""
    if kind == "rgb565":
        return to565(art(rng, height, width, 3, colours=5))
    rgba = art(rng, height, width, 4, colours=5)
    rgba[rgba[..., 3] == 0] = 0
    return rgba


def probe() -> np.ndarray:
    return sprites(np.random.default_rng(7), 9, 8, "rgba")


def test_the_model_tells_the_modes_apart():
    # Otherwise the tests below could not fail.
    pixels = probe()
    results = [model(pixels, edges=(h, v)) for h in EDGES for v in EDGES]
    results.append(model(pixels, grid=(3, 3, 0, 0)))
    results.append(model(pixels, grid=(3, 3, 1, 1)))
    for i, a in enumerate(results):
        for b in results[i + 1:]:
            assert not np.array_equal(a, b)


@pytest.mark.parametrize("kind", ["rgba", "rgb565"])
@pytest.mark.parametrize("horizontal", EDGES)
@pytest.mark.parametrize("vertical", EDGES)
@pytest.mark.parametrize("rotate", TURNS)
@pytest.mark.parametrize("factor", [2, 4])
def test_edge_modes_equal_the_model(rng, kind, horizontal, vertical, rotate, factor):
    pixels = sprites(rng, 11, 14, kind)
    got = lq2x.scale(pixels, rotate=rotate, scale=factor, edge=(horizontal, vertical))
    assert np.array_equal(got, model(pixels, rotate, factor, (horizontal, vertical)))


@pytest.mark.parametrize("edge", EDGES)
def test_one_mode_is_both_axes_and_scale_8(rng, edge):
    pixels = sprites(rng, 5, 7, "rgba")
    assert np.array_equal(lq2x.scale(pixels, edge=edge, scale=8, rotate="cw"),
                          model(pixels, "cw", 8, (edge, edge)))


@pytest.mark.parametrize("height, width", [(1, 1), (1, 5), (4, 1), (2, 2)])
def test_edge_modes_on_tiny_images(rng, height, width):
    pixels = sprites(rng, height, width, "rgba")
    for h in EDGES:
        for v in EDGES:
            assert np.array_equal(lq2x.scale(pixels, edge=(h, v)), model(pixels, edges=(h, v))), (h, v)


@pytest.mark.parametrize("edge", ["transparent", ("transparent", "clamp"), ("wrap", "transparent")])
def test_pictures_without_alpha_gain_it_under_a_transparent_edge(rng, edge):
    # As the tool writes them: RGB becomes RGBA, grey grey and alpha, even
    # where no border pixel happens to blend with the outside.
    rgb = art(rng, 8, 9, 3)
    rgba = np.concatenate([rgb, np.full((8, 9, 1), 255, np.uint8)], axis=2)
    assert np.array_equal(lq2x.scale(rgb, edge=edge), model(rgba, edges=(edge,) * 2 if isinstance(edge, str) else edge))
    grey = rgb[..., 0]
    grey_rgba = np.stack([grey, grey, grey, np.full_like(grey, 255)], axis=2)
    got = lq2x.scale(grey, edge=edge)
    want = model(grey_rgba, edges=(edge,) * 2 if isinstance(edge, str) else edge)
    assert got.shape == (16, 18, 2) and np.array_equal(got, want[..., [0, 3]])


@pytest.mark.parametrize("kind", ["rgba", "rgb565"])
@pytest.mark.parametrize("tile, margin, spacing", [
    ((4, 4), 0, 0), ((3, 5), 0, 0), ((4, 3), 1, 1), ((2, 2), 2, 1), ((5, 4), 0, 2), ((1, 1), 1, 1), ((40, 3), 0, 0),
])
@pytest.mark.parametrize("edge", EDGES)
@pytest.mark.parametrize("rotate", TURNS)
def test_grid_equals_the_model(rng, kind, tile, margin, spacing, edge, rotate):
    pixels = sprites(rng, 17, 19, kind)  # cells cut short at the right and bottom
    grid = (*tile, margin, spacing)
    got = lq2x.scale(pixels, rotate=rotate, edge=edge, tile=tile, tile_margin=margin, tile_spacing=spacing)
    assert np.array_equal(got, model(pixels, rotate, 2, (edge, edge), grid))


@pytest.mark.parametrize("factor", [4, 8])
@pytest.mark.parametrize("rotate", TURNS)
def test_grid_doubles_with_each_pass(rng, factor, rotate):
    pixels = sprites(rng, 11, 13, "rgba")
    got = lq2x.scale(pixels, rotate=rotate, scale=factor, edge=("wrap", "transparent"), tile=(4, 3),
                     tile_margin=1, tile_spacing=1)
    assert np.array_equal(got, model(pixels, rotate, factor, ("wrap", "transparent"), (4, 3, 1, 1)))


@pytest.mark.parametrize("margin, spacing", [(-1, 0), (0, -1)])
def test_negative_margin_or_spacing_is_the_library_bad_grid(margin, spacing):
    with pytest.raises(lq2x.Error) as caught:
        lq2x.scale(probe(), tile=(2, 2), tile_margin=margin, tile_spacing=spacing)
    assert caught.value.status == 8
    name = "tile_margin" if margin else "tile_spacing"
    assert str(caught.value) == f"{name}: wants a whole number from 0 to 2147483647, not -1"
