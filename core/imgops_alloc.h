// imgops_alloc.h - picture allocation of the whole-picture operations (imgops.cpp,
// rotate.cpp), with a hook that lets tests make one of them fail as if memory ran out.
#pragma once
#include <cstdint>

class C_ImgBuff;

// C_ImgBuff::Allocate, unless the failure hook says this one fails (the record is then
// emptied, as a refused Allocate leaves it).
int32_t AllocateForImgOps(C_ImgBuff* record, int32_t width, int32_t height, int32_t format);
// The same through C_ImgBuff::AllocateUncleared, for operations that write every pixel byte.
int32_t AllocateUnclearedForImgOps(C_ImgBuff* record, int32_t width, int32_t height, int32_t format);

// Test hook: the n-th allocation made through AllocateForImgOps from now on fails
// (1 = the next one); 0 switches the hook off.
void FailImgOpsAllocationForTesting(int32_t n);
