#include "OOPS_cpp/xcam.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "GenC/hl_globals.h"
#include "OOPS_cpp/matrix.h"
#include "UTL/UTL_stats.h"

static UTL_stat kill_cull("perf/kill_cull", stat_perf_tuning, 0);
static UTL_stat kill_clip("perf/kill_clip", stat_perf_tuning, 0);
static UTL_stat extra_near("shadow/extra_near", stat_perf_tuning, 0);

xcam_class::xcam_class()
{
	setIdentityMatrix(proj);
	setIdentityMatrix(mv);
	ortho = 1;
	changed = 1;
	readback = 1;
}

xcam_class::xcam_class(const xcam_class& other)
{
	memcpy((void*)this, (const void*)&other, sizeof(*this));
}

xcam_class::xcam_class(const xcam_class* other) : xcam_class()
{
	if (other) memcpy((void*)this, (const void*)other, sizeof(*this));
}

xcam_class& xcam_class::operator=(const xcam_class& other)
{
	if (this != &other) memcpy((void*)this, (const void*)&other, sizeof(*this));
	return *this;
}

void xcam_class::SetupOrtho(double l, double r, double b, double t, double n, double f)
{
	ortho = 1;
	buildOrthoMatrix(proj, l, r, b, t, n, f);
	bound_t = t;
	bound_l = l;
	bound_r = r;
	bound_b = b;
	near_neg = -n;
	far_neg = fake_far_neg = -f;
	changed = 1;
}

// The central tenth of lo..hi, kept within the pair.
static void central_tenth(double& lo, double& hi)
{
	const double a = std::min(lo, hi), b = std::max(lo, hi);
	const double nlo = std::clamp(lo + 0.45 * (hi - lo), a, b), nhi = std::clamp(lo + 0.55 * (hi - lo), a, b);
	lo = nlo;
	hi = nhi;
}

void xcam_class::SetupFrustum(double l, double r, double b, double t, double n, double f)
{
	ortho = 0;
	double cl = l, cr = r, cb = b, ct = t;
	central_tenth(cl, cr);
	central_tenth(cb, ct);
	if (*kill_clip.value != 0)
		buildFrustumMatrix(proj, cl, cr, cb, ct, n, f);
	else
		buildFrustumMatrix(proj, l, r, b, t, n, f);

	if (*kill_cull.value != 0) {
		l = cl, r = cr, b = cb, t = ct;
	}
	double tl[3] = {l, t, -n}, tr[3] = {r, t, -n}, bl[3] = {l, b, -n}, br[3] = {r, b, -n};
	for (double* v : {tl, tr, bl, br}) vec3_normalise(v);
	vec3_cross(planes[0], tl, tr);
	vec3_cross(planes[1], bl, tl);
	vec3_cross(planes[2], tr, br);
	vec3_cross(planes[3], br, bl);
	for (double* p : planes) vec3_normalise(p);

	near_neg = -n;
	far_neg = fake_far_neg = -f;
	changed = 1;
}

void xcam_class::SetupPerspective(double fovy, double aspect, double n, double f)
{
	const double y = tan(M_PI * fovy / 360.0) * n;
	SetupFrustum(-y * aspect, y * aspect, -y, y, n, f);
}

void xcam_class::SetFakeFarClippingPlane(double d)
{
	fake_far_neg = std::max(-d, far_neg);
}

void xcam_class::ResetFakeFarClippingPlane()
{
	fake_far_neg = far_neg;
}

void xcam_class::Identity()
{
	setIdentityMatrix(mv);
	changed = 1;
}

void xcam_class::Translate(double x, double y, double z)
{
	applyTranslation(mv, x, y, z);
	changed = 1;
}

void xcam_class::Rotate(double angle, double x, double y, double z)
{
	double r[16];
	buildRotation(r, angle, x, y, z);
	multMatrices(mv, mv, r);
	changed = 1;
}

void xcam_class::LookAtPtFromPt(double ex, double ey, double ez, double cx, double cy, double cz, double ux,
                                double uy, double uz)
{
	buildLookAtMatrix(mv, ex, ey, ez, cx, cy, cz, ux, uy, uz);
	changed = 1;
}

void xcam_class::LookAtPtFromDir(double x, double y, double z, double azimuth, double elevation, double d)
{
	const double a = azimuth * M_PI / 180.0, e = elevation * M_PI / 180.0;
	LookAtPtFromPt(x + d * cos(e) * cos(a), y + d * sin(e), z + d * cos(e) * sin(a), x, y, z, 0, 1, 0);
}

int xcam_class::GetFOVHalfCosines(float* h, float* v)
{
	if (ortho) return 0;
	if (h) *h = (float)((planes[1][0] - planes[2][0]) / 2);
	if (v) *v = (float)((planes[3][1] - planes[0][1]) / 2);
	return 1;
}

// vec3_normalise(transpose(mv) x (v, 1)), first three components.
static void through_transpose(double* out, xcam_class& cam, const double* v)
{
	if (cam.readback) {
		cam.readback = 0;
		cam.changed = 1;
		glGetDoublev(GL_MODELVIEW_MATRIX, cam.mv);
	}
	double t[16], p[4] = {v[0], v[1], v[2], 1}, r[4];
	transposeMatrix(t, cam.mv);
	mult_matrix_vec4(r, t, p);
	vec3_normalise(r);
	memcpy(out, r, 3 * sizeof(double));
}

void xcam_class::CalcUp(double* out)
{
	static const double up[3] = {0, 1, 0};
	through_transpose(out, *this, up);
}

void xcam_class::CalcDirection(double* out)
{
	static const double ahead[3] = {0, 0, -1};
	through_transpose(out, *this, ahead);
}

void xcam_class::CalcRight(double* out)
{
	double d[3], u[3];
	CalcDirection(d);
	CalcUp(u);
	vec3_cross(out, d, u);
}

void xcam_class::CalcBillboardGround(float* right, float* up)
{
	double d[3], r[3], u[3];
	static const double y[3] = {0, 1, 0};
	CalcDirection(d);
	vec3_cross(r, d, y);
	vec3_normalise(r);
	vec3_cross(u, r, d);
	vec3_normalise(u);
	for (int i = 0; i < 3; ++i) {
		right[i] = (float)r[i];
		up[i] = (float)u[i];
	}
}

void xcam_class::CalcBillboardCamera(float* right, float* up)
{
	double u[3], d[3], r[3];
	CalcUp(u);
	CalcDirection(d);
	vec3_cross(r, d, u);
	vec3_normalise(r);
	for (int i = 0; i < 3; ++i) {
		right[i] = (float)r[i];
		up[i] = (float)u[i];
	}
}

void xcam_class::mtr_to_pix(double* world, double* out)
{
	double p[4] = {world[0], world[1], world[2], 1}, e[4], c[4];
	mult_matrix_vec4(e, mv, p);
	mult_matrix_vec4(c, proj, e);
	if (c[3] != 0) {
		c[0] /= c[3];
		c[1] /= c[3];
	}
	GLint vp[4] = {};
	glGetIntegerv(GL_VIEWPORT, vp);
	const double px = (c[0] + 1) * 0.5 * vp[2] + vp[0];
	const double py = (c[1] + 1) * 0.5 * vp[3] + vp[1];
	out[0] = (px - mnw.org_x) / mnw.ui_scale;
	out[1] = (py - mnw.org_y) / mnw.ui_scale;
}

// A corner (+-1, +-1, +-1) of the clip cube: bit 0 x, bit 1 y, bit 2 z.
static void clip_corner(int i, double* out)
{
	out[0] = (i & 1) ? 1 : -1;
	out[1] = (i & 2) ? 1 : -1;
	out[2] = (i & 4) ? 1 : -1;
	out[3] = 1;
}

static void through_divided(double* out, const double* m, const double* v)
{
	mult_matrix_vec4(out, m, v);
	if (out[3] != 0)
		for (int k = 0; k < 3; ++k) out[k] /= out[3];
	out[3] = 1;
}

void xcam_class::LookAtCamera(xcam_class* other, double* dir, double dist, double& near_out, double& far_out)
{
	double inv_proj[16], inv_mv[16];
	invertMatrix(inv_proj, other->proj);
	invertMatrix(inv_mv, other->mv);
	double origin[4] = {0, 0, 0, 1}, eye[4];
	mult_matrix_vec4(eye, inv_mv, origin);
	LookAtPtFromPt(eye[0] - dist * dir[0], eye[1] - dist * dir[1], eye[2] - dist * dir[2], eye[0], eye[1], eye[2],
	               0, 1, 0);

	double lo[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, hi[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
	for (int i = 0; i < 8; ++i) {
		double c[4], e[4], w[4], l[4];
		clip_corner(i, c);
		through_divided(e, inv_proj, c);
		mult_matrix_vec4(w, inv_mv, e);
		mult_matrix_vec4(l, mv, w);
		for (int k = 0; k < 3; ++k) {
			lo[k] = std::min(lo[k], l[k]);
			hi[k] = std::max(hi[k], l[k]);
		}
	}
	const double n = -(hi[2] + *extra_near.value), f = -lo[2];
	SetupOrtho(lo[0], hi[0], lo[1], hi[1], n, f);
	near_out = n;
	far_out = f;
}

bool xcam_class::GetFrustumBounds(double dist, double y_lo, double y_hi, double* min, double* max)
{
	double inv_mv[16];
	invertMatrix(inv_mv, mv);
	const double limit = std::min(-far_neg, dist);

	double world[8][4];
	if (!ortho) {
		double inv_proj[16];
		invertMatrix(inv_proj, proj);
		for (int i = 0; i < 8; ++i) {
			double c[4], e[4];
			clip_corner(i, c);
			through_divided(e, inv_proj, c);
			if (-e[2] > dist) {  // pulled back along its ray to depth dist
				const double k = dist / -e[2];
				for (int j = 0; j < 3; ++j) e[j] *= k;
			}
			mult_matrix_vec4(world[i], inv_mv, e);
		}
	} else {
		for (int i = 0; i < 8; ++i) {
			double e[4] = {(i & 1) ? bound_r : bound_l, (i & 2) ? bound_t : bound_b, (i & 4) ? -limit : near_neg, 1};
			mult_matrix_vec4(world[i], inv_mv, e);
		}
	}

	vec3_assign(min, 9.9e9, 9.9e9, 9.9e9);
	vec3_assign(max, -9.9e9, -9.9e9, -9.9e9);
	for (int i = 0; i < 8; ++i)
		for (int bit = 1; bit < 8; bit <<= 1)
			if (!(i & bit)) accum_segment(y_lo, y_hi, world[i], world[i | bit], min, max);
	return max[0] >= min[0];
}
