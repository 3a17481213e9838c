// The bind cache and the combiner presets, rendered by Mesa and read back.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "OGL/OGL_extensions.h"
#include "OOPS_cpp/TEX_bind.h"
#include "UTL/UTL_stats.h"
#include "gl_test_context.h"
#include "tex_readback.h"

namespace {

const GLuint tex_a = 7001, tex_b = 7002;

GLint binding_on(int unit)
{
	GLint active = 0, bound = 0;
	glGetIntegerv(GL_ACTIVE_TEXTURE_ARB, &active);
	glActiveTextureARB(GL_TEXTURE0_ARB + unit);
	glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
	glActiveTextureARB(active);
	return bound;
}

GLint env_int(GLenum pname)
{
	GLint v = 0;
	glGetTexEnviv(GL_TEXTURE_ENV, pname, &v);
	return v;
}

void make_texel(GLuint name, const unsigned char texel[4])
{
	glBindTexture(GL_TEXTURE_2D, name);
	glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, texel);
	glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
	glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
	glBindTexture(GL_TEXTURE_2D, 0);
	TEX_reset_bind();
}

// One textured quad in the primary colour; a pixel of it read back.
std::vector<float> draw_and_read(const unsigned char prim[4])
{
	tex_test::pixel_projection(8, 8);
	glEnable(GL_TEXTURE_2D);
	glColor4ub(prim[0], prim[1], prim[2], prim[3]);
	glBegin(GL_QUADS);
	glTexCoord2f(0.5f, 0.5f);
	glVertex2f(0, 0), glVertex2f(8, 0), glVertex2f(8, 8), glVertex2f(0, 8);
	glEnd();
	glDisable(GL_TEXTURE_2D);
	unsigned char px[4] = {};
	glReadPixels(2, 2, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, px);
	return {px[0] / 255.f, px[1] / 255.f, px[2] / 255.f, px[3] / 255.f};
}

}  // namespace

// Each preset against the arithmetic it stands for, channel c (3 is alpha); on
// unit 0 "previous" is the primary colour P. The environment colour C is 0.3
// wherever a preset leaves it.
TEST(BindCache, CombinerPresetsComputeWhatTheyStandFor)
{
	gl_test_context();
	ASSERT_TRUE(glExt.combine_avail);
	const unsigned char prim[4] = {51, 102, 153, 128}, texel[4] = {128, 64, 192, 102};
	make_texel(tex_a, texel);
	float P[4], T[4];
	for (int c = 0; c < 4; ++c) P[c] = prim[c] / 255.f, T[c] = texel[c] / 255.f;
	const float C = 0.3f;
	struct row {
		int env;
		std::function<float(int)> want;
	};
	// clang-format off
	const row rows[] = {
		{0,          [&](int c) { return P[c] * T[c]; }},
		{GL_REPLACE, [&](int c) { return T[c]; }},
		{1,  [&](int c) { return c < 3 ? P[c] + T[c] : P[3]; }},
		{2,  [&](int c) { return P[c] + T[c]; }},
		{10, [&](int c) { return c < 3 ? P[c] * T[c] : T[3]; }},
		{11, [&](int c) { return c < 3 ? P[c] : 4 * (T[3] - P[3]); }},
		{12, [&](int c) { return c < 3 ? P[c] : (1 - P[3]) * T[3]; }},
		{13, [&](int c) { return c < 3 ? P[c] * (1 - P[3]) : 1; }},
		{14, [&](int c) { return P[c]; }},
		{15, [&](int c) { return c < 3 ? P[c] : 1; }},
		{16, [&](int c) { return c < 3 ? P[c] * T[c] : 1; }},
		{17, [&](int c) { return c < 3 ? T[3] : 1; }},
		{18, [&](int c) { return c < 3 ? T[c] * T[3] + P[c] * (1 - T[3]) : P[3]; }},
		{19, [&](int c) { return c < 3 ? T[c] * P[3] + P[c] * (1 - P[3]) : P[3]; }},
		{20, [&](int c) { return c < 3 ? P[c] * T[3] : P[3]; }},
		{21, [&](int c) { return T[c] * C + P[c] * (1 - C); }},
		{22, [&](int c) { return c < 3 ? T[c] * T[3] + C * (1 - T[3]) : P[3]; }},
		{23, [&](int c) { return c < 3 ? P[c] * P[c] : P[3]; }},
		{24, [&](int c) { return c < 3 ? P[c] * T[c] : T[3]; }},
	};
	// clang-format on
	for (const row& r : rows) {
		TEX_set_blend_level(0, C);
		TEX_bind_ref(tex_a, 0, r.env);
		const std::vector<float> got = draw_and_read(prim);
		for (int c = 0; c < 4; ++c)
			EXPECT_NEAR(got[c], std::min(std::max(r.want(c), 0.0f), 1.0f), 2.5f / 255) << "preset " << r.env << " channel " << c;
		EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR) << "preset " << r.env;
	}
	// Preset 23 leaves the alpha scale alone: after preset 11's 4, alpha is P.a x 4.
	TEX_bind_ref(tex_a, 0, 11);
	TEX_bind_ref(tex_a, 0, 23);
	EXPECT_NEAR(draw_and_read(prim)[3], 1.0f, 1.0f / 255);
	TEX_bind_ref(tex_a, 0, 14);
}

TEST(BindCache, SkipsWhatIsInPlaceUntilReset)
{
	gl_test_context();
	const unsigned char texel[4] = {255, 0, 0, 255};
	make_texel(tex_a, texel);
	make_texel(tex_b, texel);

	TEX_bind_ref(tex_a, 0, 17);
	glBindTexture(GL_TEXTURE_2D, tex_b);  // behind the cache's back
	TEX_bind_ref(tex_a, 0, 17);
	EXPECT_EQ(binding_on(0), (GLint)tex_b) << "a repeated bind issues no call";
	TEX_bind_ref(tex_a, 0, 25);
	EXPECT_EQ(binding_on(0), (GLint)tex_b);
	EXPECT_EQ(o_mod[0], 17) << "mode 25 leaves the environment and the cache";
	EXPECT_EQ(env_int(GL_SOURCE0_RGB), GL_TEXTURE);
	EXPECT_EQ(env_int(GL_OPERAND0_RGB), GL_SRC_ALPHA);
	TEX_reset_bind();
	TEX_bind_ref(tex_a, 0, 0);
	EXPECT_EQ(binding_on(0), (GLint)tex_a);
	EXPECT_EQ(env_int(GL_TEXTURE_ENV_MODE), GL_MODULATE);
	EXPECT_EQ(o_mod[0], GL_MODULATE);

	// Other units: unit 0 stays active; units outside 0..7 are ignored.
	TEX_bind_ref(tex_b, 3, GL_REPLACE);
	EXPECT_EQ(binding_on(3), (GLint)tex_b);
	GLint active = 0;
	glGetIntegerv(GL_ACTIVE_TEXTURE_ARB, &active);
	EXPECT_EQ(active, GL_TEXTURE0_ARB);
	for (int unit : {8, 31, -1}) {
		TEX_bind_ref(tex_b, unit, GL_REPLACE);
		EXPECT_EQ(binding_on(0), (GLint)tex_a) << unit;
		EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR) << unit;
	}
	TEX_bind_ref(0, 3, 0);
	TEX_reset_bind();

	// "perf/kill_tex" swaps every texture but the interface sheet for the placeholder.
	*gKillTex.value = 1;
	TEX_bind_ref(393, 0, 0);
	EXPECT_EQ(binding_on(0), 930);
	TEX_bind_ref(392, 0, 0);
	EXPECT_EQ(binding_on(0), 392);
	*gKillTex.value = 0;
	TEX_bind_ref(0, 0, 0);
}
