#include "OOPS_cpp/matrix.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

const double gIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

void setIdentityMatrix(double* m)
{
	copyMatrix(m, gIdentity);
}

void copyMatrix(double* m, const double* a)
{
	memmove(m, a, 16 * sizeof(double));
}

void transposeMatrix(double* m, const double* a)
{
	double t[16];
	for (int r = 0; r < 4; ++r)
		for (int c = 0; c < 4; ++c) t[4 * c + r] = a[4 * r + c];
	copyMatrix(m, t);
}

void addMatrices(double* m, const double* a, const double* b)
{
	for (int i = 0; i < 16; ++i) m[i] = a[i] + b[i];
}

void multMatrices(double* m, const double* a, const double* b)
{
	double t[16];
	for (int c = 0; c < 4; ++c)
		for (int r = 0; r < 4; ++r) {
			double s = 0;
			for (int k = 0; k < 4; ++k) s += a[4 * k + r] * b[4 * c + k];
			t[4 * c + r] = s;
		}
	copyMatrix(m, t);
}

void mult_matrix_vec4(double* out, const double* m, const double* v)
{
	double t[4];
	for (int r = 0; r < 4; ++r) t[r] = m[r] * v[0] + m[4 + r] * v[1] + m[8 + r] * v[2] + m[12 + r] * v[3];
	memcpy(out, t, sizeof(t));
}

int invertMatrix(double* m, const double* a)
{
	// Gauss-Jordan on [a | I], rows as arrays of eight.
	double w[4][8];
	for (int r = 0; r < 4; ++r)
		for (int c = 0; c < 4; ++c) {
			w[r][c] = a[4 * c + r];
			w[r][4 + c] = r == c ? 1 : 0;
		}
	for (int c = 0; c < 4; ++c) {
		int best = c;
		for (int r = c + 1; r < 4; ++r)
			if (fabs(w[r][c]) > fabs(w[best][c])) best = r;
		if (w[best][c] == 0) return 0;
		if (best != c) std::swap(w[best], w[c]);
		const double p = w[c][c];
		for (int k = 0; k < 8; ++k) w[c][k] /= p;
		for (int r = 0; r < 4; ++r) {
			if (r == c || w[r][c] == 0) continue;
			const double f = w[r][c];
			for (int k = 0; k < 8; ++k) w[r][k] -= f * w[c][k];
		}
	}
	for (int r = 0; r < 4; ++r)
		for (int c = 0; c < 4; ++c) m[4 * c + r] = w[r][4 + c];
	return 1;
}

void buildOrthoMatrix(double* m, double l, double r, double b, double t, double n, double f)
{
	setIdentityMatrix(m);
	m[0] = 2 / (r - l);
	m[5] = 2 / (t - b);
	m[10] = -2 / (f - n);
	m[12] = -(r + l) / (r - l);
	m[13] = -(t + b) / (t - b);
	m[14] = -(f + n) / (f - n);
}

void buildFrustumMatrix(double* m, double l, double r, double b, double t, double n, double f)
{
	memset(m, 0, 16 * sizeof(double));
	m[0] = 2 * n / (r - l);
	m[5] = 2 * n / (t - b);
	m[8] = (r + l) / (r - l);
	m[9] = (t + b) / (t - b);
	m[10] = -(f + n) / (f - n);
	m[11] = -1;
	m[14] = -2 * f * n / (f - n);
}

void buildPerspectiveMatrix(double* m, double fovy, double aspect, double n, double f)
{
	const double y = tan(fovy * M_PI / 360.0) * n;
	buildFrustumMatrix(m, -y * aspect, y * aspect, -y, y, n, f);
}

void vec3_cross(double* out, const double* a, const double* b)
{
	double t[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
	memcpy(out, t, sizeof(t));
}

void vec3_normalise(double* v)
{
	const double len = sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
	if (len > 0)
		for (int i = 0; i < 3; ++i) v[i] /= len;
}

void buildLookAtMatrix(double* m, double ex, double ey, double ez, double cx, double cy, double cz, double ux,
                       double uy, double uz)
{
	double z[3] = {ex - cx, ey - cy, ez - cz}, up[3] = {ux, uy, uz}, x[3], y[3];
	const double eye[3] = {ex, ey, ez};
	vec3_normalise(z);
	vec3_cross(x, up, z);
	vec3_cross(y, z, x);
	vec3_normalise(x);
	vec3_normalise(y);
	const double* rows[3] = {x, y, z};
	setIdentityMatrix(m);
	for (int r = 0; r < 3; ++r) {
		for (int c = 0; c < 3; ++c) m[4 * c + r] = rows[r][c];
		m[12 + r] = -(rows[r][0] * eye[0] + rows[r][1] * eye[1] + rows[r][2] * eye[2]);
	}
}

void buildRotation(double* m, double angle, double x, double y, double z)
{
	setIdentityMatrix(m);
	const double a = angle * M_PI / 180.0;
	double s = sin(a);
	const double c = cos(a);

	// One coordinate axis: the plain rotation, turned by the component's sign.
	const int nonzero = (x != 0) + (y != 0) + (z != 0);
	if (nonzero == 1) {
		int i = x != 0 ? 1 : y != 0 ? 2 : 0;  // the two coordinates that turn: i, j
		int j = x != 0 ? 2 : y != 0 ? 0 : 1;
		if ((x != 0 ? x : y != 0 ? y : z) < 0) s = -s;
		m[5 * i] = c;
		m[5 * j] = c;
		m[4 * i + j] = s;
		m[4 * j + i] = -s;
		return;
	}
	const double len = sqrt(x * x + y * y + z * z);
	if (!(len > 0.0001)) return;
	x /= len;
	y /= len;
	z /= len;
	const double k = 1 - c;
	m[0] = x * x * k + c;
	m[1] = y * x * k + z * s;
	m[2] = x * z * k - y * s;
	m[4] = x * y * k - z * s;
	m[5] = y * y * k + c;
	m[6] = y * z * k + x * s;
	m[8] = x * z * k + y * s;
	m[9] = y * z * k - x * s;
	m[10] = z * z * k + c;
}

void applyTranslation(double* m, double x, double y, double z)
{
	for (int r = 0; r < 4; ++r) m[12 + r] += x * m[r] + y * m[4 + r] + z * m[8 + r];
}

void applyRotation(double* m, double angle, double x, double y, double z)
{
	double rot[16];
	buildRotation(rot, angle, x, y, z);
	multMatrices(m, m, rot);
}

void vec3_assign(double* v, double x, double y, double z)
{
	v[0] = x;
	v[1] = y;
	v[2] = z;
}

void printMatrix(const char* title, const double* m)
{
	printf("%s\n", title);
	for (int r = 0; r < 4; ++r) printf(" [ %f %f %f %f ]\n", m[r], m[4 + r], m[8 + r], m[12 + r]);
	printf("\n");
}

static void take_in(const double* p, double* min, double* max)
{
	for (int i = 0; i < 3; ++i) {
		const float v = (float)p[i];
		if (v < (float)min[i]) min[i] = v;
		if (v > (float)max[i]) max[i] = v;
	}
}

// The point of p..q at height y (p.y < q.y), x and z kept within the segment.
static void point_at_height(double y, const double* p, const double* q, double* out)
{
	const double f = (y - p[1]) / (q[1] - p[1]);
	for (int i = 0; i < 3; i += 2) {
		double v = p[i] + f * (q[i] - p[i]);
		const double lo = p[i] < q[i] ? p[i] : q[i], hi = p[i] < q[i] ? q[i] : p[i];
		out[i] = v < lo ? lo : v > hi ? hi : v;
	}
	out[1] = y;
}

void accum_segment(double y_lo, double y_hi, const double* p, const double* q, double* min, double* max)
{
	if (p[1] > q[1]) std::swap(p, q);
	double pt[3];
	if (p[1] == q[1]) {
		if (y_lo <= p[1] && p[1] <= y_hi) {
			take_in(p, min, max);
			take_in(q, min, max);
		}
		return;
	}
	if (y_lo == y_hi) {
		if (p[1] <= y_lo && y_lo <= q[1]) {
			point_at_height(y_lo, p, q, pt);
			take_in(pt, min, max);
		}
		return;
	}
	if (y_lo <= p[1] && p[1] <= y_hi) take_in(p, min, max);
	if (y_lo <= q[1] && q[1] <= y_hi) take_in(q, min, max);
	for (double y : {y_lo, y_hi})
		if (p[1] < y && y < q[1]) {
			point_at_height(y, p, q, pt);
			take_in(pt, min, max);
		}
}
