// Named console loggers shared across the process.
#pragma once

#include <memory>
#include <string>

#include <spdlog/spdlog.h>

namespace wifibroadcast::log {

// The logger registered under name, created on first use as a colour
// console logger on stdout at debug level. Safe to call from any thread:
// concurrent callers get the same logger.
std::shared_ptr<spdlog::logger> create_or_get(const std::string& name);

// The process's default logger, "KZR".
std::shared_ptr<spdlog::logger> get_default();

}  // namespace wifibroadcast::log
