#pragma once
// Marks the few functions that the shipped module exports; everything else
// in the module stays hidden (the build also hides by default and the
// linker's version script keeps only the exports).
#include "native.h"
