// diagram.h - the three fixed backgrounds of the colour distribution diagram, each a 256 x 256
// 8-bit R,G,B picture coloured inside its outline and plain outside, and the placing of a
// 16-bit hue and saturation on the hue-saturation disc.
//
//   DiagramPlotContext   the plot callback's picture and grey
//   DiagramPlotPixel     the PlotFn: one grey pixel, points outside ignored
//   DrawSpectralLocus    the closed outline of the spectral locus in xy
//   FillDiagramOutside   paints each row from both ends up to the outline
//   Make...Diagram       renders a background into a picture
//   EnsureDiagramBackgrounds  the process-wide backgrounds, made once, never freed
//   HueSatToDiscPoint    the disc position of a colour (clockwise on screen)
#pragma once
#include <cstdint>

#include "core/imgbuff.h"

struct DiagramPlotContext {
  CImgBuff* picture;
  uint8_t grey;
};

int32_t DiagramPlotPixel(int32_t x, int32_t y, void* ctx);
void DrawSpectralLocus(CImgBuff* picture, uint8_t grey);
void FillDiagramOutside(CImgBuff* picture, uint8_t grey);

// Each (re)allocates picture as 256 x 256 8-bit R,G,B and renders into it: background bg (0 or
// 255) outside the outline, the colour of every position inside and on it.  1, or 0 when the
// picture cannot be allocated (or is null).
int32_t MakeXyDiagram(CImgBuff* picture, double Y, uint8_t bg);
int32_t MakeLabDiagram(CImgBuff* picture, double L, uint8_t bg);
int32_t MakeHsvDiagram(CImgBuff* picture, uint8_t bg);

// The backgrounds every colour map shares; each stays null when it could not be made.
extern CImgBuff* XyDiagramBackground;
extern CImgBuff* LabDiagramBackground;
extern CImgBuff* HsvDiagramBackground;
// Makes every absent background (black outside: Y 0.5, L* 50); safe from several threads.
void EnsureDiagramBackgrounds();

// Always 1; px, py may be null.
int32_t HueSatToDiscPoint(uint32_t size, uint16_t hue, uint16_t sat, uint32_t* px,
                          uint32_t* py);
