#include <gtest/gtest.h>

#include <climits>
#include <memory>

#include "OOPS_cpp/colr.h"

TEST(Palette, DefaultsEntryByEntry)
{
	// The entries that start other than black, as single-precision floats.
	const struct {
		int   index;
		float r, g, b;
	} table[] = {
		{0, 1, 1, 1},        {1, 1, .2f, .2f},     {2, 1, 1, .2f},       {3, .7f, .7f, .7f},      {4, .8f, 0, 0},
		{5, 1, 1, 0},        {6, .3f, .3f, .3f},   {7, .2f, 0, 0},       {8, 1, .8f, .2f},        {9, .1f, .1f, .1f},
		{10, 0, .8f, 0},     {13, 0, .4f, 0},      {15, .4f, .4f, 1},    {17, 0, 0, .6f},         {18, .9f, .9f, .9f},
		{19, .8f, .1f, .1f}, {20, .9f, .9f, 1},    {21, .9f, .9f, .9f},  {22, .1f, .1f, .1f},     {24, 1, 1, 0},
		{26, 1, 1, 1},       {27, 1, 1, 1},        {28, 1, 1, 1},        {29, 1, 1, 0},           {31, 1, 1, 1},
		{32, 1, 1, 1},       {33, 1, 1, 1},        {49, 1, 1, 1},        {50, .4f, 1, .4f},       {51, 1, .4f, .4f},
		{52, 1, 1, .6f},     {53, .7f, .7f, 1},    {54, 1, .5f, 0},      {55, .8f, .8f, .8f},     {56, 0, 1, 0},
		{57, 1, .2f, .2f},   {58, 1, 1, .2f},      {59, .4f, .4f, 1},    {60, .5f, .3f, 0},       {61, .5f, .5f, .5f},
		{62, 0, .6f, 0},     {63, .6f, .2f, 0},    {64, 1, 1, 0},        {65, .2f, .2f, .8f},     {66, 1, .4f, 0},
		{67, .2f, .2f, .2f}, {68, 0, .2f, 0},      {69, 1, 0, 0},        {70, .6f, .6f, 0},       {71, .15f, .15f, .6f},
		{72, .49f, .43f, .24f}, {74, 0, .1f, 0},   {75, 1, .2f, 1},      {76, 1, 0, 1},           {77, 0, 1, 1},
		{78, .44f, .53f, .54f}, {85, 1, 0, 1},     {87, 1, 0, 1},        {88, 1, 1, 1},           {97, .5f, .5f, .4f},
		{98, 1, .3f, 0},     {99, .5f, .5f, .4f},  {100, .8f, .8f, .7f}, {101, 0, .6f, .2f},      {102, 1, 1, .9f},
	};
	float want[105][3] = {};
	for (const auto& e : table) want[e.index][0] = e.r, want[e.index][1] = e.g, want[e.index][2] = e.b;
	colr_class c;
	ASSERT_EQ(sizeof(c.palette), sizeof(want));
	for (int i = 0; i < 105; ++i)
		for (int ch = 0; ch < 3; ++ch) EXPECT_EQ(c.palette[i][ch], want[i][ch]) << "entry " << i << " channel " << ch;
	EXPECT_EQ(c.file_gamma, 1.8);
	EXPECT_EQ(c.screen_gamma, 1.8);
	EXPECT_EQ(c.gamma_on, 0);
	for (float t : c.tint) EXPECT_EQ(t, 1.0f);
}

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

	c.tint[0] = 0.5f, c.tint[1] = 0.9f, c.tint[2] = 0.74f;
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
