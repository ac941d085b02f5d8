// Radio and system control: chip identification, monitor mode, tuning,
// transmit power, the Realtek channel override, the ath10k noise floor,
// systemd service queries, CPU performance mode, shell commands, salts.
//
// Interface and service names reach shell command lines, so every operation
// that takes one refuses (one error line on stderr, nothing run, the
// operation's failure result) a name that is not a plain interface or unit
// name.
#pragma once

#include <string>

#include <orvi/common_export.h>
#include <orvi/regulatory_domain.h>

// Sets the transmit power index: pit_power_idx when pit_mode is set and flag
// is clear, power_idx otherwise. Status of the shell command; -1 for a bad card.
ORVI_COMMON_EXPORT int set_power(std::string card, int power_idx, int pit_power_idx, bool flag,
                                 bool pit_mode);

// Asks the CPU monitor for performance mode; result of the control command.
ORVI_COMMON_EXPORT int set_perf_mode();

// Everything `cmd` writes to its standard output; empty if it cannot start.
// The caller is responsible for the command line.
ORVI_COMMON_EXPORT std::string run_command(const std::string& cmd);

// Puts the ath radio into monitor mode on `channel` through the platform script: 0 or -1.
ORVI_COMMON_EXPORT int set_ath0_monitor_mode(int channel);

ORVI_COMMON_EXPORT bool is_service_enabled(const std::string& service);
ORVI_COMMON_EXPORT bool is_service_running(const std::string& service);

// Stops the services that would fight over the radio and puts `card` into
// monitor mode: 0, or -1 when a command could not be started (or a bad card).
ORVI_COMMON_EXPORT int set_monitor_mode(std::string card);

// Eight random lower-case hexadecimal digits; empty if no random device.
ORVI_COMMON_EXPORT std::string generate_salt();

// "rtl8812au" for the Realtek VTX driver, otherwise the driver listing of the
// interface; cached per interface for the life of the process.
ORVI_COMMON_EXPORT std::string get_chip(std::string card);

// Tunes `card` (bandwidth 20 or 40 MHz): -1 when refused, otherwise the status
// of the shell command.
ORVI_COMMON_EXPORT int set_frequency_and_bw(std::string card, int frequency, int bandwidth,
                                            RegulatoryDomain domain);

// Noise floor in dBm of an ath10k radio, 0 when not available.
ORVI_COMMON_EXPORT int get_ath10k_noise_floor(const std::string& card);

// Forces the channel of the Realtek VTX driver: 0 or -1. The second argument is ignored.
ORVI_COMMON_EXPORT int set_override_parameters(int channel, int ignored);

// Name checks applied before any command line is built.
ORVI_COMMON_EXPORT bool is_valid_interface_name(const std::string& name);
ORVI_COMMON_EXPORT bool is_valid_service_name(const std::string& name);
