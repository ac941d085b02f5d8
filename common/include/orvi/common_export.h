// What liborvi-common exports: exactly the declarations that carry
// ORVI_COMMON_EXPORT in its public headers. The library is built with hidden
// visibility, so anything else in it stays internal and may change freely.
#pragma once

#define ORVI_COMMON_EXPORT __attribute__((visibility("default")))
