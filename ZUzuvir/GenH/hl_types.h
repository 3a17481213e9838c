// Constants every file of the framework shares: the simulator's unit factors,
// two instrument scales, and the standard folders of its installation.
// The factors are the single-precision literals the simulator has always used;
// they are written out, never computed (degtorad and radtodeg are one float step
// away from the computed values).
#ifndef HL_TYPES_H
#define HL_TYPES_H

#include <string>

inline constexpr float prd_min         = 0.000990099041f;  // 1/1010
inline constexpr float gls_deg_per_dot = 0.28f;
inline constexpr float loc_deg_per_dot = 1.2f;
inline constexpr float scn_vis_ele     = 30480.0f;         // 100,000 ft in metres
inline constexpr float kgstopph        = 7936.63916f;
inline constexpr float mphtomsc        = 0.447039992f;
inline constexpr float msctomph        = 2.23693633f;
inline constexpr float pastopsi        = 0.000145032638f;
inline constexpr float kgstolbh        = 7936.63916f;
inline constexpr float lbhtokgs        = 0.000125997918f;
inline constexpr float sm_to_nm        = 0.868976235f;
inline constexpr float hg_tomil        = 33.8653107f;
inline constexpr float milto_hg        = 0.0295287427f;
inline constexpr float hg_topas        = 3386.53076f;
inline constexpr float pasto_hg        = 0.000295287435f;
inline constexpr float mtltoenl        = 23.7303543f;
inline constexpr float enItomtI        = 0.0421401225f;
inline constexpr float meptoenp        = 0.0209032688f;
inline constexpr float enptomep        = 47.8394089f;
inline constexpr float medtoend        = 0.0019419773f;
inline constexpr float endtomed        = 514.939087f;
inline constexpr float nmtoftlb        = 0.738191962f;
inline constexpr float ftlbtonm        = 1.35466123f;
inline constexpr float ntntolbs        = 0.225000903f;     // not the exact 0.2248: kept as shipped
inline constexpr float lbstontn        = 4.44442654f;
inline constexpr float smtrtosf        = 10.7639103f;
inline constexpr float sftosmtr        = 0.0929030403f;
inline constexpr float mtrstosm        = 0.000621371204f;
inline constexpr float smtomtrs        = 1609.34399f;
inline constexpr float mtrstonm        = 0.000539956789f;
inline constexpr float nmtomtrs        = 1852.0f;
inline constexpr float msctofpm        = 196.850388f;
inline constexpr float fpmtomsc        = 0.00508000003f;
inline constexpr float rsctorpm        = 9.54929543f;
inline constexpr float rpmtorsc        = 0.104719765f;
inline constexpr float msctokts        = 1.94384444f;
inline constexpr float ktstomsc        = 0.51444447f;
inline constexpr float fpstokts        = 0.592483819f;
inline constexpr float degtorad        = 0.0174532942f;
inline constexpr float radtodeg        = 57.2957764f;
inline constexpr float watttohp        = 0.00134102185f;
inline constexpr float mtrstoft        = 3.28083992f;
inline constexpr float kgstolbs        = 2.20462203f;
inline constexpr float littogal        = 0.264172018f;

inline const std::string afl_path        = "Airfoils/";
inline const std::string wpn_path        = "Weapons/";
inline const std::string apt_path_def    = "LOWI";
inline const std::string acf_path        = "Aircraft/";
inline const std::string acf_path_def    = acf_path + "General Aviation/Cirrus TheJet/c4.acf";
inline const std::string no_install_name = "Not Yet Scanned";
inline const std::string data_path       = "Resources/default data/";

// The maker's domain in the texts that send users to its web site or tech
// support: a name reserved for examples, so no text points at someone's domain.
inline const std::string maker_domain = "example.com";

// The build label, then the eight scenery regions.
inline const std::string build_name[9] = {
	"Nimbara 9.00 Beta-25",
	"South", "North", "Africa", "Europe", "Asia", "West Mars", "East Mars", "Moon"};

#endif
