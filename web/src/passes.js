// What one scaling does: the 2x rule applied once, twice or three times,
// each pass with the same tile grid doubled (cell, margin and spacing grow
// with the picture) and the same edge modes. The quarter-turn is made by the
// last pass. Without a grid the turn could go on any pass with the same
// result (the rule and a turn commute, which is why the tool turns on the
// first); with one, only the last keeps every pass's grid where the cells
// are: a turn moves the cells cut short at the right or bottom border to the
// top or left, where a grid measured from the top-left corner would no
// longer meet them.

// The C interface's numbers for the choices the page offers.
export const ORIENTATION = { none: 0, ccw: 1, cw: 2 };
export const EDGE = { clamp: 0, wrap: 1, transparent: 2 };
export const FACTORS = [2, 4, 8];

// settings: { factor, rotate, edge_x, edge_y, tile_width, tile_height,
// tile_margin, tile_spacing } with names for rotate and the edges, and
// tile_width = tile_height = 0 for no grid.
export function plan_passes(s) {
    if (!FACTORS.includes(s.factor)) throw new Error(`no such scale: ${s.factor}`);
    const passes = [];
    for (let grow = 1; 2 * grow <= s.factor; grow *= 2) {
        passes.push({
            orientation: ORIENTATION[2 * grow === s.factor ? s.rotate : 'none'],
            edge_x: EDGE[s.edge_x],
            edge_y: EDGE[s.edge_y],
            tile_width: grow * s.tile_width,
            tile_height: grow * s.tile_height,
            tile_margin: grow * s.tile_margin,
            tile_spacing: grow * s.tile_spacing,
        });
    }
    return passes;
}

// The size a pass writes: twice the source, width and height swapped by a turn.
export function scaled_size(width, height, orientation) {
    return orientation === ORIENTATION.none ? [2 * width, 2 * height] : [2 * height, 2 * width];
}
