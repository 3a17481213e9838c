#include <gtest/gtest.h>

#include <cmath>

#include "GenH/hl_angles.h"
#include "GenH/hl_types.h"

// Each factor against its definition worked out in double precision: the
// shipped single-precision value lies within one float step of it. A few were
// shipped from rounded figures (2.204622 lb per kg, 0.225000903 lb per N, 29.92
// inHg for 1013.25 mbar, 6895 Pa per psi, 9.549295 rpm per rad/s, 0.264172 gal
// per litre, 514.939087 for the density) and are checked against those.
TEST(SharedConstants, EachFactorIsWithinOneFloatStepOfItsDefinition)
{
	const double lb = 2.204622, ft = 0.3048, mi = 1609.344, nm = 1852.0, newton_lb = 0.225000903;
	const double pi = 3.14159265358979323846;
	const struct {
		const char* name;
		float       value;
		double      definition;
	} cases[] = {
		{"prd_min", prd_min, 1.0 / 1010}, {"gls_deg_per_dot", gls_deg_per_dot, 0.28},
		{"loc_deg_per_dot", loc_deg_per_dot, 1.2}, {"scn_vis_ele", scn_vis_ele, 100000 * ft},
		{"kgstopph", kgstopph, 3600 * lb}, {"mphtomsc", mphtomsc, mi / 3600}, {"msctomph", msctomph, 3600 / mi},
		{"pastopsi", pastopsi, 1 / 6895.0}, {"kgstolbh", kgstolbh, 3600 * lb}, {"lbhtokgs", lbhtokgs, 1 / (3600 * lb)},
		{"sm_to_nm", sm_to_nm, mi / nm}, {"hg_tomil", hg_tomil, 1013.25 / 29.92}, {"milto_hg", milto_hg, 29.92 / 1013.25},
		{"hg_topas", hg_topas, 101325 / 29.92}, {"pasto_hg", pasto_hg, 29.92 / 101325},
		{"mtltoenl", mtltoenl, lb / (ft * ft)}, {"enItomtI", enItomtI, ft * ft / lb},
		{"meptoenp", meptoenp, ft * ft * newton_lb}, {"enptomep", enptomep, 1 / (ft * ft * newton_lb)},
		{"medtoend", medtoend, 1 / 514.939087}, {"endtomed", endtomed, 1 / (ft * ft * ft * ft * newton_lb)},
		{"nmtoftlb", nmtoftlb, newton_lb / ft}, {"ftlbtonm", ftlbtonm, ft / newton_lb}, {"ntntolbs", ntntolbs, newton_lb},
		{"lbstontn", lbstontn, 1 / newton_lb}, {"smtrtosf", smtrtosf, 1 / (ft * ft)}, {"sftosmtr", sftosmtr, ft * ft},
		{"mtrstosm", mtrstosm, 1 / mi}, {"smtomtrs", smtomtrs, mi}, {"mtrstonm", mtrstonm, 1 / nm},
		{"nmtomtrs", nmtomtrs, nm}, {"msctofpm", msctofpm, 60 / ft}, {"fpmtomsc", fpmtomsc, ft / 60},
		{"rsctorpm", rsctorpm, 9.549295}, {"rpmtorsc", rpmtorsc, 1 / 9.549295}, {"msctokts", msctokts, 3600 / nm},
		{"ktstomsc", ktstomsc, nm / 3600}, {"fpstokts", fpstokts, ft * 3600 / nm}, {"degtorad", degtorad, pi / 180},
		{"radtodeg", radtodeg, 180 / pi}, {"watttohp", watttohp, 1 / 745.7}, {"mtrstoft", mtrstoft, 1 / ft},
		{"kgstolbs", kgstolbs, lb}, {"littogal", littogal, 0.264172},
	};
	for (const auto& c : cases) {
		const double step = std::nextafter(c.value, INFINITY) - c.value;
		EXPECT_LE(std::fabs(c.value - c.definition), step) << c.name;
	}
	EXPECT_EQ(kgstolbh, kgstopph);
	// Nine angles in radians, each the single-precision product of its degrees and degtorad.
	const float angles[] = {f1, f2, f3, f4, f5, f6, f7, f8, f9};
	const float degrees[] = {8.4f, 10.8f, 4.2f, 5.4f, 7.8f, 3.6f, 4.8f, 7.2f, 4.2f};
	for (int i = 0; i < 9; ++i) EXPECT_EQ(angles[i], degrees[i] * degtorad) << "f" << i + 1;
	// The folders and names, whole.
	std::string names = afl_path + "|" + wpn_path + "|" + apt_path_def + "|" + acf_path + "|" + acf_path_def + "|" +
	                    no_install_name + "|" + data_path;
	for (const std::string& b : build_name) names += "|" + b;
	EXPECT_EQ(names,
	          "Airfoils/|Weapons/|LOWI|Aircraft/|Aircraft/General Aviation/Cirrus TheJet/c4.acf|Not Yet Scanned|"
	          "Resources/default data/|Nimbara 9.00 Beta-25|South|North|Africa|Europe|Asia|West Mars|East Mars|Moon");
}
