// Nine fixed angles in radians: degrees times degtorad, in single precision.
#ifndef HL_ANGLES_H
#define HL_ANGLES_H

inline constexpr float f1 = 0.146607667f;   // 8.4 degrees
inline constexpr float f2 = 0.188495576f;   // 10.8
inline constexpr float f3 = 0.0733038336f;  // 4.2
inline constexpr float f4 = 0.0942477882f;  // 5.4
inline constexpr float f5 = 0.136135697f;   // 7.8
inline constexpr float f6 = 0.0628318563f;  // 3.6
inline constexpr float f7 = 0.0837758183f;  // 4.8
inline constexpr float f8 = 0.125663713f;   // 7.2
inline constexpr float f9 = 0.0733038336f;  // 4.2

#endif
