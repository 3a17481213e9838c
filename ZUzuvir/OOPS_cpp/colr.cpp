#include "OOPS_cpp/colr.h"

#include <GL/gl.h>

#include <cmath>
#include <cstring>

#include "OGL/OGL_setstate.h"
#include "OOPS_cpp/oglp.h"

colr_class colr;

namespace {

struct default_entry {
	int   index;
	float r, g, b;
};

// Every entry not listed starts black.
const default_entry default_palette[] = {
	{0, 1, 1, 1},          {1, 1, 0.2f, 0.2f},     {2, 1, 1, 0.2f},        {3, 0.7f, 0.7f, 0.7f},
	{4, 0.8f, 0, 0},       {5, 1, 1, 0},           {6, 0.3f, 0.3f, 0.3f},  {7, 0.2f, 0, 0},
	{8, 1, 0.8f, 0.2f},    {9, 0.1f, 0.1f, 0.1f},  {10, 0, 0.8f, 0},       {13, 0, 0.4f, 0},
	{15, 0.4f, 0.4f, 1},   {17, 0, 0, 0.6f},       {18, 0.9f, 0.9f, 0.9f}, {19, 0.8f, 0.1f, 0.1f},
	{20, 0.9f, 0.9f, 1},   {21, 0.9f, 0.9f, 0.9f}, {22, 0.1f, 0.1f, 0.1f}, {24, 1, 1, 0},
	{26, 1, 1, 1},         {27, 1, 1, 1},          {28, 1, 1, 1},          {29, 1, 1, 0},
	{31, 1, 1, 1},         {32, 1, 1, 1},          {33, 1, 1, 1},          {49, 1, 1, 1},
	{50, 0.4f, 1, 0.4f},   {51, 1, 0.4f, 0.4f},    {52, 1, 1, 0.6f},       {53, 0.7f, 0.7f, 1},
	{54, 1, 0.5f, 0},      {55, 0.8f, 0.8f, 0.8f}, {56, 0, 1, 0},          {57, 1, 0.2f, 0.2f},
	{58, 1, 1, 0.2f},      {59, 0.4f, 0.4f, 1},    {60, 0.5f, 0.3f, 0},    {61, 0.5f, 0.5f, 0.5f},
	{62, 0, 0.6f, 0},      {63, 0.6f, 0.2f, 0},    {64, 1, 1, 0},          {65, 0.2f, 0.2f, 0.8f},
	{66, 1, 0.4f, 0},      {67, 0.2f, 0.2f, 0.2f}, {68, 0, 0.2f, 0},       {69, 1, 0, 0},
	{70, 0.6f, 0.6f, 0},   {71, 0.15f, 0.15f, 0.6f}, {72, 0.49f, 0.43f, 0.24f}, {74, 0, 0.1f, 0},
	{75, 1, 0.2f, 1},      {76, 1, 0, 1},          {77, 0, 1, 1},          {78, 0.44f, 0.53f, 0.54f},
	{85, 1, 0, 1},         {87, 1, 0, 1},          {88, 1, 1, 1},          {97, 0.5f, 0.5f, 0.4f},
	{98, 1, 0.3f, 0},      {99, 0.5f, 0.5f, 0.4f}, {100, 0.8f, 0.8f, 0.7f}, {101, 0, 0.6f, 0.2f},
	{102, 1, 1, 0.9f},
};

// Red, orange, yellow, green, blue, violet: the rainbow's stops, 0.2 apart.
const float roygbv_rgb[6][3] = {
	{1, 0, 0}, {1, 0.32f, 0.08f}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {0.8f, 0, 0.8f},
};

}  // namespace

colr_class::colr_class()
{
	memset(this, 0, sizeof(*this));
	file_gamma = 1.8;
	screen_gamma = 1.8;

	// An exponent of 1: every byte maps to itself until someone wants otherwise.
	const double exponent = 1.0;
	for (int i = 0; i < 256; ++i) {
		double v = i / 255.0;
		double g = v < 0 ? -pow(-v, exponent) : pow(v, exponent);
		gamma_table[i] = (unsigned char)lround(255.0 * g);
	}

	tint[0] = tint[1] = tint[2] = 1;
	for (const default_entry& e : default_palette) assign(e.index, e.r, e.g, e.b);
}

void colr_class::assign(int index, float r, float g, float b)
{
	if (index < 0 || index >= colr_palette_size) return;
	palette[index][0] = r;
	palette[index][1] = g;
	palette[index][2] = b;
}

void colr_class::set_lites_for_interface()
{
	for (float& t : tint)
		if (t < 0.75f) t = 0.75f;
}

void colr_class::spectrum_init(int mode)
{
	if (mode < 0 || mode > 3) return;
	for (int i = 0; i < colr_spectrum_size; ++i) {
		float t = (float)i / 1000.0f;
		float* out = spectrum[i];
		if (mode == 0) {
			int k = t < 0.2f ? 0 : t < 0.4f ? 1 : t < 0.6f ? 2 : t < 0.8f ? 3 : 4;
			float f = (t - 0.2f * k) * 5.0f;
			for (int c = 0; c < 3; ++c) out[c] = roygbv_rgb[k][c] * (1.0f - f) + roygbv_rgb[k + 1][c] * f;
		} else {
			out[0] = out[1] = out[2] = 0;
			out[mode - 1] = t;
		}
	}
}

void colr_class::spectrum_plotscale(float x, float y, float low, float high, int decimals)
{
	spec_hi = high;
	spec_lo = low;
	spec_dif = high - low;
	OGL_number(0, x + 4, y + 1000 - 4, high, 5, decimals, 100);
	OGL_number(0, x + 4, y - 4, low, 5, decimals, 100);
	if (high == low) return;  // no range to scale

	OGL_setstate(1, 0, 3, 5, 9, 11);
	glPointSize(4);
	glBegin(GL_POINTS);
	const float lo = low < high ? low : high;
	const float hi = low < high ? high : low;
	for (int i = 0; i < 1000; i += 4) {
		float v = low + (high - low) / 999.0f * (float)i;
		if (v < lo) v = lo;
		if (v > hi) v = hi;
		float at = (v - low) / (high - low) * 1000.0f;
		int index = at >= 0 ? (at < 999 ? (int)at : 999) : 0;  // NaN lands on 0
		glColor3fv(spectrum[index]);
		glVertex2f(x, y + (float)i);
	}
	glEnd();
	glPointSize(1);
}
