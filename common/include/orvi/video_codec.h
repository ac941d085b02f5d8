// Encoder and decoder modes shared by the naming, configuration and packetizer code.
#pragma once

typedef enum venc_mode_t { VENC_H264 = 0, VENC_H265 = 1, VENC_OTHER = 2 } venc_mode_t;
typedef enum vdec_mode_t { VDEC_H264 = 0, VDEC_H265 = 1, VDEC_OTHER = 2 } vdec_mode_t;
