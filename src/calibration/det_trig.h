#pragma once
// Sine and cosine that come out the same bit for bit on every platform the library is built for.
//
// The C libraries differ in the last bit of sin and cos for some arguments (the Win32 runtime and
// glibc do), and the rotation of the correction tables must not depend on the platform. These use
// only IEEE additions and multiplications in a fixed order: the argument is reduced by pi/2 in
// three parts (an argument beyond 10^6 rad is first taken modulo 2 pi, an exact operation), then the
// classic minimax kernels on [-pi/4, pi/4] give results within one unit in the last place.
// NaN and infinities give NaN.
double DetSin(double x);
double DetCos(double x);
