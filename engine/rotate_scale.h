// rotate_scale.h - turning, scaling and mirroring a whole picture about a chosen source point.
//
//   NormalizeAngle   degrees folded into [-180, 180], returned in radians
//   RotateScale      bilinear turn and scale in place, from a copy; fill black or white
#pragma once
#include <cstdint>

#include "engine/frame.h"

// Folds into [-180, 180] as repeated steps of 360 would (540 gives pi, -540 gives -pi, 180
// stays pi), but by an exact remainder, so a huge angle costs no loop; then times
// 3.141592653589793 / 180.  A value that is not finite gives NaN.
double NormalizeAngle(double degrees);

// The source point (cx, cy) lands on the output centre ((width - 1) / 2, (height - 1) / 2);
// a source offset (1, 0) from it lands at scale x (cos angle, sin angle) from the centre, so
// a positive angle (degrees) turns the content clockwise as displayed.  Every output pixel
// blends the four source pixels around its source point in doubles and truncates; pixels
// outside take the fill: 0, or with white non-zero the maximum of the working depth (8, 16 or
// 32 bits; C,M,Y,K, H,S,V and XYZ pictures are blended as their R, G, B).  mirror non-zero
// writes output column x to width - 1 - x.  An angle that folds to a multiple of 90 degrees
// moves pixels exactly (its sine and cosine are taken as 0 within 1e-12).
// 1 done; 0 (picture unchanged) for a null or empty picture, an angle or scale that is not
// finite, a scale of 0 or below, or no memory for the copy.
int32_t RotateScale(CImgBuff* img, int32_t cx, int32_t cy, double angle, double scale, int32_t mirror,
                    uint16_t white);
