// The power map header under its old flat name, for calreport/ and
// tests/calreport/ until they include <orvi/power_map.h>; then this folder
// and its use in the top-level CMakeLists.txt go.
#pragma once

#include <orvi/power_map.h>
