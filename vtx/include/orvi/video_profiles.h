// Loading the transmitter's video profiles and their adaptive-link levels.
#pragma once

#include <cjson/cJSON.h>

#include <vector>

#include <orvi/vtx_config.h>
#include <orvi/vtx_export.h>

// Appends one profile per readable entry of root's "profiles" array, each
// completed from its camera pipe's info file and clamped to safe values.
// powers[i] receives the mW of entry i (the vector grows, never shrinks).
// Returns the number of entries, or -1 (nothing touched) when there are none.
ORVI_VTX_EXPORT int load_vtx_profiles(vtx_config_t* config, std::vector<int>& powers, cJSON* root);
