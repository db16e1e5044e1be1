// The C runtime's struct timespec, which Wine's msvcrt headers lack and
// libc++'s thread support names.
#pragma once
#include_next <time.h>

#ifndef _TIMESPEC_DEFINED
#define _TIMESPEC_DEFINED
struct timespec {
    time_t tv_sec;
    long tv_nsec;
};
#endif
