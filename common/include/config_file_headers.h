// The comment blocks written at the top of the transmitter and receiver
// configuration files: a reader's guide to every key, its type and range.
#pragma once

extern const char* const VTX_CONFIG_FILE_HEADER;
extern const char* const VRX_CONFIG_FILE_HEADER;
