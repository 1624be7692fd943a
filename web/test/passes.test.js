// The passes the page asks of the library, written out by hand for each case.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { plan_passes, scaled_size, ORIENTATION } from '../src/passes.js';

const base = { factor: 2, rotate: 'none', edge_x: 'clamp', edge_y: 'clamp', tile_width: 0, tile_height: 0, tile_margin: 0, tile_spacing: 0 };
const pass = (orientation, edge_x, edge_y, tile_width, tile_height, tile_margin, tile_spacing) =>
    ({ orientation, edge_x, edge_y, tile_width, tile_height, tile_margin, tile_spacing });

test('2x: one pass with the options as given', () => {
    assert.deepEqual(plan_passes({ ...base, rotate: 'cw', edge_x: 'wrap', edge_y: 'transparent', tile_width: 16, tile_height: 8, tile_margin: 1, tile_spacing: 2 }),
                     [pass(2, 1, 2, 16, 8, 1, 2)]);
});

test('8x upright: three passes, the grid doubling each time', () => {
    assert.deepEqual(plan_passes({ ...base, factor: 8, edge_x: 'wrap', tile_width: 16, tile_height: 8, tile_margin: 1, tile_spacing: 2 }),
                     [pass(0, 1, 0, 16, 8, 1, 2), pass(0, 1, 0, 32, 16, 2, 4), pass(0, 1, 0, 64, 32, 4, 8)]);
});

test('4x turned: the last pass turns; the grid and edges stay as given, doubled', () => {
    assert.deepEqual(plan_passes({ ...base, factor: 4, rotate: 'ccw', edge_x: 'wrap', edge_y: 'transparent', tile_width: 16, tile_height: 8, tile_margin: 3, tile_spacing: 1 }),
                     [pass(0, 1, 2, 16, 8, 3, 1), pass(1, 1, 2, 32, 16, 6, 2)]);
});

test('8x turned clockwise: only the third pass turns', () => {
    assert.deepEqual(plan_passes({ ...base, factor: 8, rotate: 'cw' }).map((p) => p.orientation), [0, 0, 2]);
});

test('no other scale', () => {
    assert.throws(() => plan_passes({ ...base, factor: 3 }), /no such scale/);
});

test('sizes: doubled, and swapped by a turn', () => {
    assert.deepEqual(scaled_size(5, 3, ORIENTATION.none), [10, 6]);
    assert.deepEqual(scaled_size(5, 3, ORIENTATION.ccw), [6, 10]);
    assert.deepEqual(scaled_size(5, 3, ORIENTATION.cw), [6, 10]);
});
