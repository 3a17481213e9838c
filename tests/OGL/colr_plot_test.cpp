#include <GL/gl.h>
#include <gtest/gtest.h>

#include "OOPS_cpp/colr.h"
#include "hard_texes/hard_texes.h"
#include "gl_test_context.h"

static int red_at(int x, int y)
{
	return read_pixels(x, y, 1, 1).rgb[0];
}

static void clear()
{
	glClearColor(0, 0, 0, 1);
	glClear(GL_COLOR_BUFFER_BIT);
}

// Drawn by Mesa and read back: 250 points 4 pixels wide, from the spectrum's
// start at the bottom to its end at the top, whichever way round low and high are.
TEST(Palette, PlotScaleDrawsTheSpectrumUpwards)
{
	gl_test_context();
	recall_ins_texes();  // the font of the labels
	// Window pixels addressed 1:1; the 768 rows show the scale's lower three quarters.
	glViewport(0, 0, 1024, 768);
	glMatrixMode(GL_PROJECTION);
	glLoadIdentity();
	glOrtho(0, 1024, 0, 768, -1, 1);
	glMatrixMode(GL_MODELVIEW);
	glLoadIdentity();

	colr_class c;
	c.spectrum_init(1);  // red ramp: entry i has red i / 1000
	struct {
		float low, high;
	} ranges[] = {{0, 1}, {1, 0}, {-50, 75}};
	for (auto& r : ranges) {
		SCOPED_TRACE(testing::Message() << r.low << " .. " << r.high);
		clear();
		c.spectrum_plotscale(10, 10, r.low, r.high, 2);
		for (int i = 0; i < 750; i += 4) {
			int index = i * 1000 / 999;
			for (int dy : {-2, 1}) ASSERT_NEAR(red_at(10, 10 + i + dy), index * 255 / 1000.0, 1.01) << i;
		}
		EXPECT_EQ(red_at(7, 500), 0);  // 4 pixels wide: 8 to 11
		EXPECT_EQ(red_at(12, 500), 0);
		EXPECT_EQ(red_at(10, 7), 0);
		// The low end's label: five digit cells from (x + 4, y - 4), right of the points.
		int label = 0;
		for (int x = 14; x < 60; ++x)
			for (int y = 0; y < 14; ++y) label += red_at(x, y) != 0;
		EXPECT_GT(label, 20);
		GLfloat size = 0;
		glGetFloatv(GL_POINT_SIZE, &size);
		EXPECT_EQ(size, 1.0f);
	}

	// No range, no scale (it would divide by zero and draw entry 0, red here).
	c.spectrum_init(0);
	clear();
	c.spectrum_plotscale(10, 10, 3, 3, 2);
	EXPECT_EQ(c.spec_dif, 0.0f);
	for (int y = 0; y < 768; y += 3) ASSERT_EQ(red_at(10, y), 0) << y;
}
