#include <orvi/wifibroadcast_spdlog.h>

#include <mutex>

#include <spdlog/sinks/stdout_color_sinks.h>

namespace wifibroadcast::log {

namespace {
std::mutex g_logger_mutex;
}

std::shared_ptr<spdlog::logger> create_or_get(const std::string& name) {
    std::lock_guard<std::mutex> lock(g_logger_mutex);
    if (auto existing = spdlog::get(name)) return existing;
    std::shared_ptr<spdlog::logger> created;
    try {
        created = spdlog::stdout_color_mt(name);
    } catch (const std::exception&) {
        // Registered behind our back (spdlog's own registry is public): use that one.
        if (auto existing = spdlog::get(name)) return existing;
        try {
            // The registry refused the name: an unregistered logger still logs.
            created = std::make_shared<spdlog::logger>(
                name, std::make_shared<spdlog::sinks::stdout_color_sink_mt>());
        } catch (const std::exception&) {
            return nullptr;
        }
    }
    created->set_level(spdlog::level::debug);
    return created;
}

std::shared_ptr<spdlog::logger> get_default() { return create_or_get("KZR"); }

}  // namespace wifibroadcast::log
