// The plan: the frame walk written once over a target's operations
// (operations.h), in the order each part builds on the ones before. Included
// inside each target's namespace, after its operations, so that every target
// gets its own copy compiled with its own flags, which the linker cannot
// merge with another target's; for the same reason the plan uses no
// standard-library templates that emit code (an instantiation shared with
// another translation unit might be kept from the one built for another
// processor). Work on arrays of vectors stays in registers only when
// inlined, so it is forced inline.
//
// The turned walks run lanes down a column of the source, the upright walk
// along a source row; choose_walk.h picks one for each frame.

#include "scaler/kernels/plan/rule.h" // the rule on lanes
#include "scaler/kernels/plan/stores.h" // streamed stores, blocks placed, the transpose
#include "scaler/kernels/plan/lanes.h" // pixels as the walk sees them, tiles
#include "scaler/kernels/plan/cells.h" // lanes at cell edges
#include "scaler/kernels/plan/turned_strip.h" // a turned strip across a band of columns
#include "scaler/kernels/plan/turned_walk.h" // a turned frame: strips, bands, the folded last strip
#include "scaler/kernels/plan/upright_walk.h" // an upright frame, row by row
#include "scaler/kernels/plan/choose_walk.h" // each frame to its walk; the target's entry
