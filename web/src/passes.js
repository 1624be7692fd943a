// What one scaling does, as the command-line tool does it: the 2x rule
// applied once, twice or three times, the quarter-turn made by the first
// pass. Every pass keeps the tile grid: cell, margin and spacing double with
// the image, and once the image has turned, its rows are the source's
// columns, so the cell's width and height and the two edge modes swap.

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
    const turned = s.rotate !== 'none';
    for (let k = 0; 2 ** (k + 1) <= s.factor; ++k) {
        const grow = 2 ** k, swap = turned && k > 0;
        passes.push({
            orientation: ORIENTATION[k === 0 ? s.rotate : 'none'],
            edge_x: EDGE[swap ? s.edge_y : s.edge_x],
            edge_y: EDGE[swap ? s.edge_x : s.edge_y],
            tile_width: grow * (swap ? s.tile_height : s.tile_width),
            tile_height: grow * (swap ? s.tile_width : s.tile_height),
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
