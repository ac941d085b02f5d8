// FEC overhead per frame: frame plus FEC must fit the link's byte budget;
// what a frame cannot afford is borrowed from the frames after it.
#pragma once

#include <orvi/vtx_config.h>
#include <orvi/vtx_export.h>

// Sets config->fec_percent (75 up to 200, or 100 above 30 fps) for one frame
// of `frame_bytes` with `capacity_bytes` of link capacity for it. `period` and
// `position` place the frame in its group of pictures; the debt is spread
// over the frames left in the group and cleared by an IDR frame (`nal_type`
// 5 for H.264, 19 for H.265). Leaves fec_percent alone for an unusable
// profile (no MTU) or an empty frame.
ORVI_VTX_EXPORT void adjust_fec(int capacity_bytes, int frame_bytes, vtx_config_t* config,
                                int nal_type, int period, int position);
