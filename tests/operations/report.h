// What each target's checks of its operations (checks.h) hand the driver
// (operations_test.cpp). Plain data and declarations only: every target's
// object is built for its own processor and shares no code with the others.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

struct operations_report {
    int operations; // operations checked
    long checks; // results compared with their meaning
    long failed;
};

// The operation being checked, for the driver to name one that faults.
extern const char* volatile operation_running;

// One per target built: `kernel` names it in the messages; `edge` starts an
// inaccessible page (where the system has them), at least a page before it
// free to use.
operations_report check_sse41(const char* kernel, unsigned char* edge);
operations_report check_avx2(const char* kernel, unsigned char* edge);
operations_report check_avx512(const char* kernel, unsigned char* edge);
operations_report check_neon(const char* kernel, unsigned char* edge);
operations_report check_simd128(const char* kernel, unsigned char* edge);
