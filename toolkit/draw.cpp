// draw.cpp - filled rectangles, framed rectangles, bevels and triangles in window pixels.
// Rectangles pass their inclusive corners as x0, y0 and x1 + 1, y1 + 1 through the
// screen's coordinate rules.
#include "toolkit/draw.h"

#include <GL/gl.h>

void FgFillRect(CFgScreen* screen, int32_t x0, int32_t y0, int32_t x1, int32_t y1, double red,
                double green, double blue) {
  if (!screen) return;
  double gx0 = screen->PixelToGlX(x0), gx1 = screen->PixelToGlX(double(x1) + 1);
  double gy0 = screen->PixelToGlY(y0), gy1 = screen->PixelToGlY(double(y1) + 1);
  glColor3d(red, green, blue);
  glBegin(GL_QUADS);
  glVertex2d(gx0, gy0);
  glVertex2d(gx1, gy0);
  glVertex2d(gx1, gy1);
  glVertex2d(gx0, gy1);
  glEnd();
}

void FgFillFramedRect(CFgScreen* screen, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                      double fillRed, double fillGreen, double fillBlue, double frameRed,
                      double frameGreen, double frameBlue) {
  FgFillRect(screen, x0, y0, x1, y1, frameRed, frameGreen, frameBlue);
  FgFillRect(screen, x0 + 1, y0 + 1, x1 - 1, y1 - 1, fillRed, fillGreen, fillBlue);
}

void FgDrawBevel(CFgScreen* screen, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                 double faceRed, double faceGreen, double faceBlue, double topLeftGrey,
                 double bottomRightGrey) {
  FgFillRect(screen, x0, y0, x1, y1, 0.5, 0.5, 0.5);
  FgFillRect(screen, x0, y0, x1 - 1, y1 - 1, topLeftGrey, topLeftGrey, topLeftGrey);
  FgFillRect(screen, x0 + 1, y0 + 1, x1, y1, bottomRightGrey, bottomRightGrey,
             bottomRightGrey);
  FgFillRect(screen, x0 + 1, y0 + 1, x1 - 1, y1 - 1, faceRed, faceGreen, faceBlue);
}

void FgFillTriangle(CFgScreen* screen, double x0, double y0, double x1, double y1, double x2,
                    double y2, double red, double green, double blue) {
  if (!screen) return;
  glColor3d(red, green, blue);
  glBegin(GL_TRIANGLES);
  glVertex2d(screen->PixelToGlX(x0), screen->PixelToGlY(y0));
  glVertex2d(screen->PixelToGlX(x1), screen->PixelToGlY(y1));
  glVertex2d(screen->PixelToGlX(x2), screen->PixelToGlY(y2));
  glEnd();
}
