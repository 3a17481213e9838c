// 4 x 4 matrices of doubles in OpenGL's column-major layout: element (row r,
// column c) at index 4c + r. Vectors of three doubles.
#ifndef MATRIX_H
#define MATRIX_H

extern const double gIdentity[16];

void setIdentityMatrix(double* m);
void copyMatrix(double* m, const double* a);
void transposeMatrix(double* m, const double* a);
void addMatrices(double* m, const double* a, const double* b);
// m = a x b; m may be a or b.
void multMatrices(double* m, const double* a, const double* b);
// 0 when a is singular (m is then left alone), else 1.
int invertMatrix(double* m, const double* a);

// The matrices of glOrtho, glFrustum, gluPerspective, gluLookAt and glRotate.
void buildOrthoMatrix(double* m, double l, double r, double b, double t, double n, double f);
void buildFrustumMatrix(double* m, double l, double r, double b, double t, double n, double f);
void buildPerspectiveMatrix(double* m, double fovy, double aspect, double n, double f);
void buildLookAtMatrix(double* m, double ex, double ey, double ez, double cx, double cy, double cz, double ux,
                       double uy, double uz);
void buildRotation(double* m, double angle, double x, double y, double z);

// m = m x translation, m = m x rotation.
void applyTranslation(double* m, double x, double y, double z);
void applyRotation(double* m, double angle, double x, double y, double z);

void vec3_assign(double* v, double x, double y, double z);
// out = a x b (out may be a or b); normalising leaves a zero vector as it is.
void vec3_cross(double* out, const double* a, const double* b);
void vec3_normalise(double* v);
// The title, then the four rows, to standard output.
void printMatrix(const char* title, const double* m);

// Grows the box min..max by the part of the segment p..q whose height (index 1)
// lies within y_lo..y_hi. The box grows in single precision.
void accum_segment(double y_lo, double y_hi, const double* p, const double* q, double* min, double* max);

// m x v for a point of four doubles.
void mult_matrix_vec4(double* out, const double* m, const double* v);

#endif
