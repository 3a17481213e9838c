#include <gtest/gtest.h>

#include <climits>
#include <memory>

#include "OOPS_cpp/colr.h"

TEST(Palette, AssignKeepsToItsIndicesAndTintRisesToThreeQuarters)
{
	colr_class c;
	for (int i = 0; i < 256; ++i) ASSERT_EQ(c.gamma_table[i], i);  // the exponent of 1 rounds back to each byte
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
		float rgb[3];
	} rows[] = {
		{0, 0, {1, 0, 0}},         {0, 100, {1, 0.16f, 0.04f}}, {0, 200, {1, 0.32f, 0.08f}},
		{0, 500, {0.5f, 1, 0}},    {0, 700, {0, 0.5f, 0.5f}},   {0, 999, {0.796f, 0, 0.801f}},
		{1, 500, {0.5f, 0, 0}},    {2, 250, {0, 0.25f, 0}},     {3, 999, {0, 0, 0.999f}},
		{7, 999, {0, 0, 0.999f}},  // an unknown mode leaves mode 3's spectrum
	};
	colr_class c;
	for (auto& r : rows) {
		SCOPED_TRACE(testing::Message() << "mode " << r.mode << " entry " << r.index);
		c.spectrum_init(r.mode);
		for (int ch = 0; ch < 3; ++ch) EXPECT_NEAR(c.spectrum[r.index][ch], r.rgb[ch], 1e-5) << "channel " << ch;
	}
}
