// The bind cache and the combiner presets, rendered by Mesa and read back.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "GenC/hl_globals.h"
#include "OGL/OGL_extensions.h"
#include "OOPS_cpp/TEX_bind.h"
#include "UTL/UTL_stats.h"
#include "gl_test_context.h"

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

struct rgba {
	float r, g, b, a;
};

void make_texel(GLuint name, const unsigned char texel[4])
{
	glBindTexture(GL_TEXTURE_2D, name);
	glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, texel);
	glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
	glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
	glBindTexture(GL_TEXTURE_2D, 0);
	TEX_reset_bind();
}

// One textured quad in the primary colour over the corner pixels; the pixel read back.
rgba draw_and_read(const unsigned char prim[4])
{
	glViewport(0, 0, 8, 8);
	glMatrixMode(GL_PROJECTION);
	glLoadIdentity();
	glMatrixMode(GL_MODELVIEW);
	glLoadIdentity();
	glDisable(GL_BLEND);
	glDisable(GL_DEPTH_TEST);
	glEnable(GL_TEXTURE_2D);
	glColor4ub(prim[0], prim[1], prim[2], prim[3]);
	glBegin(GL_QUADS);
	glTexCoord2f(0.5f, 0.5f);
	glVertex2f(-1, -1);
	glVertex2f(1, -1);
	glVertex2f(1, 1);
	glVertex2f(-1, 1);
	glEnd();
	glDisable(GL_TEXTURE_2D);
	unsigned char px[4] = {};
	glReadPixels(2, 2, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, px);
	return {px[0] / 255.f, px[1] / 255.f, px[2] / 255.f, px[3] / 255.f};
}

float sat(float v)
{
	return std::min(std::max(v, 0.0f), 1.0f);
}

}  // namespace

// Each preset against the arithmetic it stands for; on unit 0 "previous" is the
// primary colour. The environment colour is 0.3 wherever a preset leaves it.
TEST(BindCache, CombinerPresetsComputeWhatTheyStandFor)
{
	gl_test_context();
	ASSERT_TRUE(glExt.combine_avail);
	const unsigned char prim[4] = {51, 102, 153, 128}, texel[4] = {128, 64, 192, 102};
	make_texel(tex_a, texel);
	const rgba P = {51 / 255.f, 102 / 255.f, 153 / 255.f, 128 / 255.f};
	const rgba T = {128 / 255.f, 64 / 255.f, 192 / 255.f, 102 / 255.f};
	const float C = 0.3f;
	auto each = [](std::function<float(int)> f) { return rgba{sat(f(0)), sat(f(1)), sat(f(2)), 0}; };
	auto ch = [](const rgba& v, int i) { return i == 0 ? v.r : i == 1 ? v.g : v.b; };
	auto with_alpha = [](rgba v, float a) {
		v.a = sat(a);
		return v;
	};
	struct row {
		int  env;
		rgba want;
	};
	// clang-format off
	const row rows[] = {
		{0,          with_alpha(each([&](int i) { return ch(P, i) * ch(T, i); }), P.a * T.a)},
		{GL_REPLACE, T},
		{1,  with_alpha(each([&](int i) { return ch(P, i) + ch(T, i); }), P.a)},
		{2,  with_alpha(each([&](int i) { return ch(P, i) + ch(T, i); }), P.a + T.a)},
		{10, with_alpha(each([&](int i) { return ch(P, i) * ch(T, i); }), T.a)},
		{11, with_alpha(each([&](int i) { return ch(P, i); }), 4 * (T.a - P.a))},
		{12, with_alpha(each([&](int i) { return ch(P, i); }), (1 - P.a) * T.a)},
		{13, with_alpha(each([&](int i) { return ch(P, i) * (1 - P.a); }), 1)},
		{14, with_alpha(each([&](int i) { return ch(P, i); }), P.a)},
		{15, with_alpha(each([&](int i) { return ch(P, i); }), 1)},
		{16, with_alpha(each([&](int i) { return ch(P, i) * ch(T, i); }), 1)},
		{17, with_alpha(each([&](int) { return T.a; }), 1)},
		{18, with_alpha(each([&](int i) { return ch(T, i) * T.a + ch(P, i) * (1 - T.a); }), P.a)},
		{19, with_alpha(each([&](int i) { return ch(T, i) * P.a + ch(P, i) * (1 - P.a); }), P.a)},
		{20, with_alpha(each([&](int i) { return ch(P, i) * T.a; }), P.a)},
		{21, with_alpha(each([&](int i) { return ch(T, i) * C + ch(P, i) * (1 - C); }), T.a * C + P.a * (1 - C))},
		{22, with_alpha(each([&](int i) { return ch(T, i) * T.a + C * (1 - T.a); }), P.a)},
		{23, with_alpha(each([&](int i) { return ch(P, i) * ch(P, i); }), P.a)},
		{24, with_alpha(each([&](int i) { return ch(P, i) * ch(T, i); }), T.a)},
	};
	// clang-format on
	for (const row& r : rows) {
		TEX_set_blend_level(0, C);
		TEX_bind_ref(tex_a, 0, r.env);
		const rgba got = draw_and_read(prim);
		const float tol = 2.5f / 255;
		EXPECT_NEAR(got.r, r.want.r, tol) << "preset " << r.env;
		EXPECT_NEAR(got.g, r.want.g, tol) << "preset " << r.env;
		EXPECT_NEAR(got.b, r.want.b, tol) << "preset " << r.env;
		EXPECT_NEAR(got.a, r.want.a, tol) << "preset " << r.env;
		EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR) << "preset " << r.env;
	}
	// Preset 23 leaves the alpha scale alone: after preset 11's 4, alpha is P.a x 4.
	TEX_bind_ref(tex_a, 0, 11);
	TEX_bind_ref(tex_a, 0, 23);
	EXPECT_NEAR(draw_and_read(prim).a, 1.0f, 1.0f / 255);
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

TEST(BindCache, BlendLevelOnlyOnUnitsTheHardwareHas)
{
	gl_test_context();
	const int units = ren.num_tex_units;
	auto colour_on = [](int unit) {
		GLfloat c[4] = {};
		glActiveTextureARB(GL_TEXTURE0_ARB + unit);
		glGetTexEnvfv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_COLOR, c);
		glActiveTextureARB(GL_TEXTURE0_ARB);
		return c[3];
	};
	TEX_set_blend_level(1, 0.25f);
	EXPECT_FLOAT_EQ(colour_on(1), 0.25f);
	ren.num_tex_units = 1;
	TEX_set_blend_level(1, 0.5f);
	ren.num_tex_units = units;
	EXPECT_FLOAT_EQ(colour_on(1), 0.25f);
	GLint active = 0;
	glGetIntegerv(GL_ACTIVE_TEXTURE_ARB, &active);
	EXPECT_EQ(active, GL_TEXTURE0_ARB);
}
