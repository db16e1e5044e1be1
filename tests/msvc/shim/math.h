// The C math library of Wine's msvcrt headers lacks the long double
// functions (long double is double in this ABI) and a few float ones that
// libc++'s <cmath> names. Given here, before those headers, so that C++
// components compile for the MSVC ABI against libc++ and Wine's headers.
#pragma once
#include_next <math.h>

double __cdecl erfc(double); // exported by the C runtime, not declared

static inline long double acoshl(long double x) { return acosh((double)x); }
static inline long double acosl(long double x) { return acos((double)x); }
static inline long double asinhl(long double x) { return asinh((double)x); }
static inline long double asinl(long double x) { return asin((double)x); }
static inline long double atanhl(long double x) { return atanh((double)x); }
static inline long double atanl(long double x) { return atan((double)x); }
static inline long double cbrtl(long double x) { return cbrt((double)x); }
static inline long double ceill(long double x) { return ceil((double)x); }
static inline long double coshl(long double x) { return cosh((double)x); }
static inline long double cosl(long double x) { return cos((double)x); }
static inline long double erfcl(long double x) { return erfc((double)x); }
static inline long double erfl(long double x) { return erf((double)x); }
static inline long double exp2l(long double x) { return exp2((double)x); }
static inline long double expl(long double x) { return exp((double)x); }
static inline long double expm1l(long double x) { return expm1((double)x); }
static inline long double fabsl(long double x) { return fabs((double)x); }
static inline long double floorl(long double x) { return floor((double)x); }
static inline long double lgammal(long double x) { return lgamma((double)x); }
static inline long double log10l(long double x) { return log10((double)x); }
static inline long double log1pl(long double x) { return log1p((double)x); }
static inline long double log2l(long double x) { return log2((double)x); }
static inline long double logbl(long double x) { return logb((double)x); }
static inline long double logl(long double x) { return log((double)x); }
static inline long double nearbyintl(long double x) { return nearbyint((double)x); }
static inline long double sinhl(long double x) { return sinh((double)x); }
static inline long double sinl(long double x) { return sin((double)x); }
static inline long double sqrtl(long double x) { return sqrt((double)x); }
static inline long double tanhl(long double x) { return tanh((double)x); }
static inline long double tanl(long double x) { return tan((double)x); }
static inline long double tgammal(long double x) { return tgamma((double)x); }
static inline long double atan2l(long double x, long double y) { return atan2((double)x, (double)y); }
static inline long double fdiml(long double x, long double y) { return fdim((double)x, (double)y); }
static inline long double fmaxl(long double x, long double y) { return fmax((double)x, (double)y); }
static inline long double fminl(long double x, long double y) { return fmin((double)x, (double)y); }
static inline long double fmodl(long double x, long double y) { return fmod((double)x, (double)y); }
static inline long double hypotl(long double x, long double y) { return hypot((double)x, (double)y); }
static inline long double nextafterl(long double x, long double y) { return nextafter((double)x, (double)y); }
static inline long double powl(long double x, long double y) { return pow((double)x, (double)y); }
static inline long double remainderl(long double x, long double y) { return remainder((double)x, (double)y); }
static inline long double frexpl(long double x, int* e) { return frexp((double)x, e); }
static inline long double ldexpl(long double x, int e) { return ldexp((double)x, e); }
static inline long double modfl(long double x, long double* i) { double d; double r = modf((double)x, &d); *i = d; return r; }
static inline long double remquol(long double x, long double y, int* q) { return remquo((double)x, (double)y, q); }
static inline long double scalblnl(long double x, long e) { return scalbln((double)x, e); }
static inline long double scalbnl(long double x, int e) { return scalbn((double)x, e); }
static inline int ilogbl(long double x) { return ilogb((double)x); }
static inline long double nexttowardl(long double x, long double y) { return nextafter((double)x, (double)y); }
static inline float nexttowardf(float x, long double y) { return nextafterf(x, (float)y); }
static inline float erfcf(float x) { return (float)erfc((double)x); }
