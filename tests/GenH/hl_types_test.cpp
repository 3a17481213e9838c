#include <gtest/gtest.h>

#include <cmath>

#include "GenH/hl_angles.h"
#include "GenH/hl_types.h"

TEST(SharedConstants, AreTheShippedSinglePrecisionValues)
{
	EXPECT_NEAR(degtorad * radtodeg, 1.0f, 2e-7f);
	// Written out, not computed: each is one float step from the computed value.
	EXPECT_NE(degtorad, (float)(M_PI / 180.0));
	EXPECT_NE(radtodeg, (float)(180.0 / M_PI));
	EXPECT_EQ(kgstolbh, kgstopph);
	EXPECT_EQ(ntntolbs, 0.225000903f);
	EXPECT_EQ(f1, 8.4f * degtorad);
	EXPECT_EQ(acf_path_def, "Aircraft/General Aviation/Cirrus TheJet/c4.acf");
	EXPECT_EQ(build_name[0], "Nimbara 9.00 Beta-25");
	EXPECT_EQ(build_name[8], "Moon");
}
