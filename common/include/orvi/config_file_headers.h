// The comment blocks written at the top of the transmitter and receiver
// configuration files: a reader's guide to every key, its type and range.
#pragma once

#include <orvi/common_export.h>

extern ORVI_COMMON_EXPORT const char* const VTX_CONFIG_FILE_HEADER;
extern ORVI_COMMON_EXPORT const char* const VRX_CONFIG_FILE_HEADER;
