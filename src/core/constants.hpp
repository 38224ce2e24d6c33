// Physical and numerical constants shared by the core, the catalogue and the models, with the literal
// types the formulas are written in.
#pragma once

namespace tarq::constants {

// Numerical constants.
inline constexpr double kPi = 3.141592653589793;
inline constexpr double kTwoPi = 6.283185307179586;      // 2π, as 2.0 * M_PI rounds
inline constexpr double kFourPi = 12.566370614359172;    // 4π
inline constexpr double kEightPi = 25.132741228718345;   // 8π
inline constexpr double kInvFourPi = 0.07957747154594767;  // 1/(4π)
// Largest cubic helicity grid G whose G³ samples still have 32-bit flat indices.
inline constexpr int kMaxHelicityGrid = 1290;

// Physical constants (SI).
inline constexpr double kCoreRadius = 1.40897017e-15;    // r_c [m]
inline constexpr double kElectronRadius = 2.81794034e-15;  // r_e [m]
inline constexpr double kSwirlSpeed = 1093845.63;        // v_swirl [m/s]
inline constexpr double kMaxForce = 29.053507;           // F_max [N]
inline constexpr double kCoreDensity = 3.8934358266918687e18;  // F_max / (π r_c² v_swirl²) [kg/m³]
inline constexpr double kFluidDensity = 7e-7;            // effective fluid density [kg/m³]
inline constexpr double kSpeedOfLight = 299792458.0;     // c [m/s]
inline constexpr double kMeV = 1.602176634e-13;          // 1 MeV [J]
inline constexpr double kSpeedOfLightSquared = 8.987551787368176e16;  // c², the double nearest 299792458² [m²/s²]

}  // namespace tarq::constants
