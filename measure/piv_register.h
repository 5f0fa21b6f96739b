// piv_register.h - the registration of the PIV tool with the filter registry.
//
//   RegisterPivFilter  hands the PIV class (FilterId 10033, key "piv") to the registry
#pragma once
#include "filters/common/scaffold.h"

void RegisterPivFilter(FilterRegisterFn add, void* user);
