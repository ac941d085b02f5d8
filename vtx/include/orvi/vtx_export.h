// What liborvi-vtx-helpers exports: exactly the declarations that carry
// ORVI_VTX_EXPORT in its public headers. The library is built with hidden
// visibility, so anything else in it stays internal and may change freely.
#pragma once

#define ORVI_VTX_EXPORT __attribute__((visibility("default")))
