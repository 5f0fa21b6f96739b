// piv_register.cpp - the PIV tool's entry for the filter registry.
#include "measure/piv_register.h"

#include <new>

#include "measure/piv.h"

namespace {

CImgFilter* MakePiv() { return new (std::nothrow) CLfPiv; }

}  // namespace

void RegisterPivFilter(FilterRegisterFn add, void* user)
{
  if (!add) return;
  add(FilterClassEntry{kFilterIdPiv, L"piv", &MakePiv}, user);
}
