#include <gtest/gtest.h>

#include <climits>
#include <memory>

#include "OOPS_cpp/colr.h"

TEST(Palette, Defaults)
{
	colr_class c;
	EXPECT_EQ(c.file_gamma, 1.8);
	EXPECT_EQ(c.screen_gamma, 1.8);
	EXPECT_EQ(c.gamma_on, 0);
	for (int i = 0; i < 256; ++i) ASSERT_EQ(c.gamma_table[i], i);
	for (float t : c.tint) EXPECT_EQ(t, 1.0f);

	struct {
		int   index;
		float r, g, b;
	} rows[] = {{0, 1, 1, 1},           {1, 1, 0.2f, 0.2f},    {11, 0, 0, 0},         {34, 0, 0, 0},
	            {39, 0, 0, 0},          {72, 0.49f, 0.43f, 0.24f}, {78, 0.44f, 0.53f, 0.54f}, {79, 0, 0, 0},
	            {86, 0, 0, 0},          {102, 1, 1, 0.9f},     {103, 0, 0, 0},        {104, 0, 0, 0}};
	for (auto& r : rows) {
		EXPECT_EQ(c.palette[r.index][0], r.r) << r.index;
		EXPECT_EQ(c.palette[r.index][1], r.g) << r.index;
		EXPECT_EQ(c.palette[r.index][2], r.b) << r.index;
	}
	int coloured = 0;
	for (auto& p : c.palette) coloured += p[0] || p[1] || p[2];
	EXPECT_EQ(coloured, 65);
	for (auto& s : c.spectrum) EXPECT_EQ(s[0] + s[1] + s[2], 0.0f);
}

TEST(Palette, AssignKeepsToItsIndicesAndTintRisesToThreeQuarters)
{
	colr_class c;
	c.assign(104, 0.1f, 0.2f, 0.3f);
	EXPECT_EQ(c.palette[104][2], 0.3f);

	auto before = std::make_unique<colr_class>(c);
	for (int bad : {-1, 105, 106, INT_MAX, INT_MIN}) {
		c.assign(bad, 9, 9, 9);
		EXPECT_EQ(memcmp(&c, before.get(), sizeof(c)), 0) << bad;
	}

	c.tint[0] = 0.5f, c.tint[1] = 0.9f, c.tint[2] = 0.75f;
	c.set_lites_for_interface();
	EXPECT_EQ(c.tint[0], 0.75f);
	EXPECT_EQ(c.tint[1], 0.9f);
	EXPECT_EQ(c.tint[2], 0.75f);
}

TEST(Palette, Spectra)
{
	struct {
		int   mode, index;
		float r, g, b;
	} rows[] = {
		{0, 0, 1, 0, 0},           {0, 100, 1, 0.16f, 0.04f},   {0, 200, 1, 0.32f, 0.08f},
		{0, 500, 0.5f, 1, 0},      {0, 700, 0, 0.5f, 0.5f},     {0, 999, 0.796f, 0, 0.801f},
		{1, 500, 0.5f, 0, 0},      {2, 250, 0, 0.25f, 0},       {3, 999, 0, 0, 0.999f},
		{7, 999, 0, 0, 0.999f},  // an unknown mode leaves mode 3's spectrum
	};
	colr_class c;
	for (auto& r : rows) {
		SCOPED_TRACE(testing::Message() << "mode " << r.mode << " entry " << r.index);
		c.spectrum_init(r.mode);
		EXPECT_NEAR(c.spectrum[r.index][0], r.r, 1e-5);
		EXPECT_NEAR(c.spectrum[r.index][1], r.g, 1e-5);
		EXPECT_NEAR(c.spectrum[r.index][2], r.b, 1e-5);
	}
}
