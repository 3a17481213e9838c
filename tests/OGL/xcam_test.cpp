// The camera and the matrix functions against Mesa's own matrix stack, GLU and GLM.
#include <GL/gl.h>
#include <GL/glu.h>
#include <gtest/gtest.h>

#include <glm/gtc/matrix_transform.hpp>
#include <glm/gtc/type_ptr.hpp>
#include <random>
#include <string>

#include "GenC/hl_globals.h"
#include "OOPS_cpp/matrix.h"
#include "OOPS_cpp/xcam.h"
#include "gl_test_context.h"

namespace {

std::mt19937 rng(20261207);
double uniform(double lo, double hi)
{
	return std::uniform_real_distribution<double>(lo, hi)(rng);
}

// Mesa's matrix after `build` ran on an identity modelview stack.
template <class F>
void mesa_matrix(double* out, F build)
{
	glMatrixMode(GL_MODELVIEW);
	glPushMatrix();
	glLoadIdentity();
	build();
	glGetDoublev(GL_MODELVIEW_MATRIX, out);
	glPopMatrix();
}

void expect_matrix(const double* got, const double* want, double tol, const std::string& what)
{
	for (int i = 0; i < 16; ++i) ASSERT_NEAR(got[i], want[i], tol * (1 + fabs(want[i]))) << what << " element " << i;
}

void expect_matrix(const double* got, const glm::dmat4& want, double tol, const std::string& what)
{
	expect_matrix(got, glm::value_ptr(want), tol, what);
}
}  // namespace

TEST(Matrix, AgreesWithMesaGluAndGlmOnRandomParameters)
{
	gl_test_context();
	double m[16], ref[16];
	for (int trial = 0; trial < 200; ++trial) {
		SCOPED_TRACE(trial);
		const double l = uniform(-50, -1), r = uniform(1, 50), b = uniform(-50, -1), t = uniform(1, 50);
		const double n = uniform(0.1, 5), f = n + uniform(1, 1000);

		buildOrthoMatrix(m, l, r, b, t, n, f);
		mesa_matrix(ref, [&] { glOrtho(l, r, b, t, n, f); });
		expect_matrix(m, ref, 1e-6, "ortho");
		expect_matrix(m, glm::ortho(l, r, b, t, n, f), 1e-12, "ortho/glm");

		buildFrustumMatrix(m, l, r, b, t, n, f);
		mesa_matrix(ref, [&] { glFrustum(l, r, b, t, n, f); });
		expect_matrix(m, ref, 1e-6, "frustum");
		expect_matrix(m, glm::frustum(l, r, b, t, n, f), 1e-12, "frustum/glm");

		const double fovy = uniform(5, 170), aspect = uniform(0.3, 3);
		buildPerspectiveMatrix(m, fovy, aspect, n, f);
		mesa_matrix(ref, [&] { gluPerspective(fovy, aspect, n, f); });
		expect_matrix(m, ref, 1e-6, "perspective");
		expect_matrix(m, glm::perspective(glm::radians(fovy), aspect, n, f), 1e-9, "perspective/glm");

		const glm::dvec3 eye(uniform(-100, 100), uniform(-100, 100), uniform(-100, 100));
		const glm::dvec3 ctr(uniform(-100, 100), uniform(-100, 100), uniform(-100, 100));
		const glm::dvec3 up(uniform(-1, 1), uniform(0.2, 1), uniform(-1, 1));
		buildLookAtMatrix(m, eye.x, eye.y, eye.z, ctr.x, ctr.y, ctr.z, up.x, up.y, up.z);
		mesa_matrix(ref, [&] { gluLookAt(eye.x, eye.y, eye.z, ctr.x, ctr.y, ctr.z, up.x, up.y, up.z); });
		expect_matrix(m, ref, 3e-5, "lookat");  // GLU and the stack work in single precision
		expect_matrix(m, glm::lookAt(eye, ctr, up), 1e-9, "lookat/glm");

		// Random axes, and now and then a single coordinate axis of either sign.
		double ax[3] = {uniform(-1, 1), uniform(-1, 1), uniform(-1, 1)};
		if (trial % 4 == 0) {
			const int keep = trial / 4 % 3;
			for (int i = 0; i < 3; ++i)
				if (i != keep) ax[i] = 0;
		}
		const double angle = uniform(-360, 360);
		buildRotation(m, angle, ax[0], ax[1], ax[2]);
		mesa_matrix(ref, [&] { glRotated(angle, ax[0], ax[1], ax[2]); });
		expect_matrix(m, ref, 1e-6, "rotation");
		expect_matrix(m, glm::rotate(glm::dmat4(1), glm::radians(angle), glm::dvec3(ax[0], ax[1], ax[2])), 1e-9,
		              "rotation/glm");

		// Products, in place, against the stack: lookat x translate x rotate.
		const double tx = uniform(-10, 10), ty = uniform(-10, 10), tz = uniform(-10, 10);
		buildLookAtMatrix(m, eye.x, eye.y, eye.z, ctr.x, ctr.y, ctr.z, up.x, up.y, up.z);
		applyTranslation(m, tx, ty, tz);
		applyRotation(m, angle, ax[0], ax[1], ax[2]);
		mesa_matrix(ref, [&] {
			gluLookAt(eye.x, eye.y, eye.z, ctr.x, ctr.y, ctr.z, up.x, up.y, up.z);
			glTranslated(tx, ty, tz);
			glRotated(angle, ax[0], ax[1], ax[2]);
		});
		expect_matrix(m, ref, 3e-5, "product");

		double inv[16], back[16], tr[16];
		ASSERT_EQ(invertMatrix(inv, m), 1);
		expect_matrix(inv, glm::inverse(glm::make_mat4(m)), 1e-9, "inverse/glm");
		multMatrices(back, m, inv);
		expect_matrix(back, gIdentity, 1e-9, "m x inverse");
		transposeMatrix(tr, m);
		expect_matrix(tr, glm::transpose(glm::make_mat4(m)), 0, "transpose");
	}
}

TEST(Matrix, EdgeCases)
{
	double m[16], v[4];
	const double x_axis[4] = {1, 0, 0, 1};
	struct {
		double angle, x, y, z;
		double want_x, want_y;  // where the x axis goes
	} rotations[] = {
		{90, 0, 0, 1, 0, 1}, {90, 0, 0, -1, 0, -1}, {90, 0, 0, 1e-5, 0, 1},  // one axis: any length
		{90, 0, 0, 0, 1, 0}, {90, 0, 1e-5, 1e-5, 1, 0},                      // too short to normalise
	};
	for (auto& c : rotations) {
		buildRotation(m, c.angle, c.x, c.y, c.z);
		mult_matrix_vec4(v, m, x_axis);
		EXPECT_NEAR(v[0], c.want_x, 1e-12) << c.y << " " << c.z;
		EXPECT_NEAR(v[1], c.want_y, 1e-12) << c.y << " " << c.z;
	}

	// A zero column, and a matrix whose first pivot is 0 but that inverts.
	double a[16];
	copyMatrix(a, gIdentity);
	a[8] = a[9] = a[10] = a[11] = 0;
	EXPECT_EQ(invertMatrix(m, a), 0);
	const double swap[16] = {0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
	EXPECT_EQ(invertMatrix(m, swap), 1);
	expect_matrix(m, swap, 0, "swap");

	// Segments and a height band 0..10: level, crossing, inside, outside, and the zero-height band.
	struct {
		double p[3], q[3], lo, hi;
		bool   grows;
		double min[3], max[3];
	} segs[] = {
		{{0, 20, 0}, {5, 30, 5}, 0, 10, false, {}, {}},
		{{0, 5, 0}, {4, 5, 2}, 0, 10, true, {0, 5, 0}, {4, 5, 2}},
		{{0, 11, 0}, {4, 11, 2}, 0, 10, false, {}, {}},
		{{20, 30, -40}, {0, -10, 0}, 0, 10, true, {5, 0, -20}, {10, 10, -10}},
		{{1, 2, 3}, {3, 4, 5}, 0, 10, true, {1, 2, 3}, {3, 4, 5}},
		{{0, 0, 0}, {10, 10, 10}, 2.5, 2.5, true, {2.5, 2.5, 2.5}, {2.5, 2.5, 2.5}},
		{{0, 0, 0}, {10, 10, 10}, 12, 12, false, {}, {}},
	};
	for (auto& s : segs) {
		double mn[3] = {9.9e9, 9.9e9, 9.9e9}, mx[3] = {-9.9e9, -9.9e9, -9.9e9};
		accum_segment(s.lo, s.hi, s.p, s.q, mn, mx);
		SCOPED_TRACE(testing::Message() << s.p[1] << ".." << s.q[1] << " in " << s.lo << ".." << s.hi);
		for (int i = 0; i < 3; ++i) {
			EXPECT_NEAR(mn[i], s.grows ? s.min[i] : 9.9e9, 1e-6) << i;
			EXPECT_NEAR(mx[i], s.grows ? s.max[i] : -9.9e9, 1e-6) << i;
		}
	}
}

TEST(Camera, SetupOrthoFrustumAndPlanes)
{
	xcam_class cam;
	cam.SetupOrtho(0, 1024, 0, 768, -1, 1);
	EXPECT_EQ(cam.near_neg, 1);
	EXPECT_EQ(cam.far_neg, -1);
	float h = 7, v = 7;
	EXPECT_EQ(cam.GetFOVHalfCosines(&h, &v), 0);
	EXPECT_EQ(h, 7);

	cam.SetupFrustum(-1, 1, -1, 1, 1, 100);
	const double left[3] = {M_SQRT1_2, 0, -M_SQRT1_2};
	for (int i = 0; i < 3; ++i) EXPECT_NEAR(cam.planes[1][i], left[i], 1e-12);
	ASSERT_EQ(cam.GetFOVHalfCosines(&h, &v), 1);
	EXPECT_NEAR(h, M_SQRT1_2, 1e-6);
	EXPECT_NEAR(v, M_SQRT1_2, 1e-6);
	for (double d : {500.0, 50.0}) {
		cam.SetFakeFarClippingPlane(d);
		EXPECT_EQ(cam.fake_far_neg, d > 100 ? -100 : -d);
	}

	// A point is inside the side planes exactly when its clip coordinates are
	// inside x and y; points near the boundary are not sampled.
	for (int trial = 0; trial < 50; ++trial) {
		const double l = uniform(-3, -0.1), r = uniform(0.1, 3), b = uniform(-3, -0.1), t = uniform(0.1, 3);
		const double n = uniform(0.1, 2), f = n + uniform(10, 100);
		cam.SetupFrustum(l, r, b, t, n, f);
		for (int k = 0; k < 200; ++k) {
			const double z = -uniform(n, f);
			const double p[4] = {uniform(-4, 4) * -z / n, uniform(-4, 4) * -z / n, z, 1};
			double c[4];
			mult_matrix_vec4(c, cam.proj, p);
			const double cx = c[0] / c[3], cy = c[1] / c[3];
			if (fabs(fabs(cx) - 1) < 1e-6 || fabs(fabs(cy) - 1) < 1e-6) continue;
			bool inside_planes = true;
			for (auto& pl : cam.planes) inside_planes &= pl[0] * p[0] + pl[1] * p[1] + pl[2] * p[2] >= 0;
			ASSERT_EQ(inside_planes, fabs(cx) < 1 && fabs(cy) < 1) << trial << " " << k;
		}
	}
}

TEST(Camera, ProjectsLikeGluAndFitsALightCamera)
{
	gl_test_context();
	mnw.org_x = mnw.org_y = 0;
	mnw.ui_scale = 1;
	glViewport(10, 20, 800, 600);
	xcam_class cam;
	for (int trial = 0; trial < 100; ++trial) {
		cam.SetupPerspective(uniform(20, 120), uniform(0.5, 2), uniform(0.5, 2), uniform(100, 1000));
		cam.LookAtPtFromDir(uniform(-50, 50), uniform(-50, 50), uniform(-50, 50), uniform(0, 360), uniform(-80, 80),
		                    uniform(5, 50));
		double world[3] = {uniform(-50, 50), uniform(-50, 50), uniform(-50, 50)}, px[2], gx, gy, gz;
		const GLint vp[4] = {10, 20, 800, 600};
		ASSERT_TRUE(gluProject(world[0], world[1], world[2], cam.mv, cam.proj, vp, &gx, &gy, &gz));
		cam.mtr_to_pix(world, px);
		ASSERT_NEAR(px[0], gx, 1e-6 * (1 + fabs(gx))) << trial;
		ASSERT_NEAR(px[1], gy, 1e-6 * (1 + fabs(gy))) << trial;

		// The light camera's box holds the whole view volume of the other camera.
		xcam_class light;
		double dir[3] = {uniform(-1, 1), -1, uniform(-1, 1)}, near_d, far_d;
		light.LookAtCamera(&cam, dir, 100, near_d, far_d);
		EXPECT_EQ(light.ortho, 1);
		double inv_p[16], inv_m[16];
		ASSERT_EQ(invertMatrix(inv_p, cam.proj), 1);
		ASSERT_EQ(invertMatrix(inv_m, cam.mv), 1);
		for (int i = 0; i < 8; ++i) {
			double v[4] = {(i & 1) ? 1. : -1., (i & 2) ? 1. : -1., (i & 4) ? 1. : -1., 1};
			mult_matrix_vec4(v, inv_p, v);
			for (double& k : v) k /= v[3];
			for (const double* m : {inv_m, light.mv, light.proj}) mult_matrix_vec4(v, m, v);
			for (int k = 0; k < 3; ++k) ASSERT_LE(fabs(v[k]), 1 + 1e-6) << trial << " corner " << i;
		}
	}

	// A new camera fetches the modelview from GL before its first direction query.
	glMatrixMode(GL_MODELVIEW);
	glLoadIdentity();
	glRotated(90, 0, 1, 0);
	xcam_class fresh;
	double d[3], u[3];
	fresh.CalcDirection(d);
	EXPECT_EQ(fresh.readback, 0);
	EXPECT_NEAR(d[0], 1, 1e-6);  // the eye turned by -90 degrees about y looks down +x
	EXPECT_NEAR(d[2], 0, 1e-6);
	fresh.CalcUp(u);
	EXPECT_NEAR(u[1], 1, 1e-6);
	glLoadIdentity();
}

TEST(Camera, FrustumBoundsInAHeightBand)
{
	// Looking straight down from 100 m over the origin: a 90-degree frustum, and a
	// 20 x 10 box 30 m deep (up is -z in the world).
	xcam_class persp, box;
	persp.SetupFrustum(-1, 1, -1, 1, 1, 1000);
	box.SetupOrtho(-10, 10, -5, 5, 0, 30);
	for (xcam_class* c : {&persp, &box}) c->LookAtPtFromPt(0, 100, 0, 0, 0, 0, 0, 0, -1);
	struct {
		xcam_class* cam;
		double      dist, y;
		bool        ok;
		double      x, z;  // half extents
	} cases[] = {{&persp, 2000, 0, true, 100, 100}, {&persp, 50, 0, false, 0, 0},  // the view ends above the ground
	             {&box, 1000, 80, true, 10, 5},     {&box, 1000, 60, false, 0, 0}};
	for (auto& c : cases) {
		double mn[3], mx[3];
		ASSERT_EQ(c.cam->GetFrustumBounds(c.dist, c.y, c.y, mn, mx), c.ok) << c.dist << " " << c.y;
		for (int i = 0; c.ok && i < 3; i += 2) {
			EXPECT_NEAR(mn[i], -(i ? c.z : c.x), 1e-3) << c.y;
			EXPECT_NEAR(mx[i], i ? c.z : c.x, 1e-3) << c.y;
		}
	}
}
