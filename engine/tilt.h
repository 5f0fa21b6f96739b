// tilt.h - projective tilt correction: a picture of a flat object plane, taken by a pinhole
// camera at an angle, re-projected so that the plane is seen square-on.
//
//   CameraModel             focal lengths and principal point in pixels
//   AngleRecord             sine and cosine of an angle and of its negative
//   TiltPlane               the object plane: coefficients, anchor, depth, pan and tilt terms
//   SetCameraModel          camera model from focal length, picture size and pixel pitch
//   AngleSinCos             folds an angle in degrees and fills an AngleRecord
//   MapThroughTiltedPlane   picture point -> corrected plane coordinates (u, v)
//   IsPlaneInFront          is the plane at depth 0 or more at three picture corners
//   SampleTenths            the tenth-pixel bilinear sample of a picture point
//   TiltCorrect             the correction of a whole picture, in place
//
// Coordinates: picture pixels, x right, y down, depth z away from the camera; the picture
// lies in z = 0 and the camera centre at (cx, cy, -(fx + fy) / 2).
#pragma once
#include <cstdint>

#include "engine/frame.h"

struct CameraModel {
  double fx, fy;  // focal length in pixels along x and y
  double cx, cy;  // principal point in pixels
};

struct AngleRecord {
  double sinQ, cosQ, sinNegQ, cosNegQ;
};

// Plane a x + b y + c z + d = 0 with unit normal (a, b, c); the anchor corner it was put
// through at depth 1; the depth Zp every plane point has in the plane frame; pan p, tilt t.
struct TiltPlane {
  double a, b, c, d;
  double anchorX, anchorY, anchorZ;
  double zp;
  double sinP, cosP, sinNegP, cosNegP, sinT, cosT, sinNegT, cosNegT;
};

// fx = focal / (pitchX / 1000), fy likewise, cx = width / 2, cy = height / 2 (focal in
// millimetres, pitches in micrometres).  1, or 0 (out untouched) for a null out or any input
// of 0 or below or not finite.
int32_t SetCameraModel(CameraModel* out, double focalMm, uint32_t width, uint32_t height, double pitchXUm,
                       double pitchYUm);

// Folds into [-180, 180] as NormalizeAngle does and stores sin, cos of q and of -q.
void AngleSinCos(AngleRecord* out, double degrees);

// The ray from the camera centre c[3] through picture point (x, y, 0) meets the plane at H;
// H turned about the vertical axis by -pan and the horizontal axis by -tilt is (X, Y, Z), and
// (u, v) is (X, Y) turned within the plane by r.  1 with u, v (and Z when asked) written; 0,
// nothing written, for a ray parallel to the plane.
int32_t MapThroughTiltedPlane(const TiltPlane* plane, const double* c, double x, double y, double* u, double* v,
                              double* Z, const AngleRecord* r);

// 1 when the depth -(a x + b y + d) / c of the plane abcd[4] is 0 or more at (width, 0),
// (0, height) and (width, height), else 0.
int32_t IsPlaneInFront(uint32_t width, uint32_t height, const double* abcd);

// The sample TiltCorrect takes at source point (sx, sy): on a grid of tenths of a pixel
// (sx x 10 within 1e-6 of an integer counts as that integer, then truncation), blended in
// integers from the neighbours whose weight is not 0, read as 8-bit (formats 1, 4, 9) or
// 16-bit gray or R, G, B; neighbours beyond the last column or row take the neighbour fill, 0
// or with white non-zero 255 or 65535.  1 with v[0..2] written (gray repeated); 0 with the
// neighbour fill in v[0..2] for a point outside the picture, not a number, or a bad picture.
int32_t SampleTenths(const CImgBuff* img, double sx, double sy, uint32_t white, uint32_t* v);

// Re-projects the picture in place: angles[3] = pan, tilt (both strictly between -90 and 90
// degrees) and a rotation within the plane; scale > 0 zooms about the centre of the fitted
// window.  Every output pixel traces back to a source point sampled on a grid of tenths of a
// pixel in integers (8 bits for formats 1, 4 and 9, 16 bits for the others; C,M,Y,K, H,S,V
// and XYZ as their R, G, B).  Points outside get the fill: 0, or with white non-zero the
// format's white.  Pan = tilt = rotation = 0 with scale 1 returns a picture of formats 1, 2,
// 4 and 5 unchanged (the others pass through the sampler's depth or R, G, B).
// 1 done; 0 (picture unchanged) for a null or empty picture, null camera or angles, values
// that are not finite, pan or tilt at or beyond +/-90, scale of 0 or below, a ray parallel to
// the plane, or no memory for the copy.
int32_t TiltCorrect(CImgBuff* img, const CameraModel* camera, const double* angles, double scale, uint32_t white);
