#!/bin/sh
# Fails when two of the given objects define the same weak function: each
# object is a kernel built for its own processor, and the linker keeps one
# copy of a weak function for every caller, so a helper built with AVX-512
# could end up run by the SSE4.1 kernel on a processor without it.
#
#     tests/shared_code.sh NM OBJECT...
set -eu
nm=$1
shift
[ $# -ge 2 ] || { echo "shared_code.sh: give NM and two or more objects" >&2; exit 2; }
shared=$(for o in "$@"; do "$nm" "$o" | awk '$2 == "W" { print $3 }' | sort -u; done | sort | uniq -d)
if [ -n "$shared" ]; then
    echo "functions defined in more than one kernel object (force them inline):" >&2
    echo "$shared" | c++filt >&2
    exit 1
fi
echo "$# kernel objects, no function defined in two"
