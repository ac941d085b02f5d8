// The codec of the transmitted stream, for naming frame types.
#pragma once

#include <orvi/video_codec.h>

// The codec named by the active profile's source pipe info, read from the
// transmitter configuration. Where that cannot be learnt, a message says so
// and the codec is H.265 (current is kept where nothing was learnt).
venc_mode_t get_encoding_scheme(venc_mode_t current);
