// Named console loggers shared across the process.
#pragma once

#include <spdlog/spdlog.h>

#include <memory>
#include <string>

#include <orvi/common_export.h>

namespace wifibroadcast::log {

// The logger registered under name, created on first use as a colour
// console logger on stdout at debug level. Safe to call from any thread:
// concurrent callers get the same logger.
ORVI_COMMON_EXPORT std::shared_ptr<spdlog::logger> create_or_get(const std::string& name);

// The process's default logger, "KZR".
ORVI_COMMON_EXPORT std::shared_ptr<spdlog::logger> get_default();

}  // namespace wifibroadcast::log
