// The configuration loaders (profiles with levels, endpoint lists, camera
// codec) over arbitrary file contents, read through the JSON file library.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <orvi/brannic_json.h>
#include <orvi/video_profiles.h>
#include <orvi/vtx_config.h>

namespace {

// The camera lookup reads a fixed path; only write there inside the
// hermetic runner, which gives /etc/quillon a private tmpfs.
bool may_write_etc() { return std::getenv("ORVI_SIM_INSIDE") != nullptr; }

bool write_file(const char* path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path, "w");
    if (!f) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/orvi-fuzz-config-" + std::to_string(getpid()) + ".conf";
    if (!write_file(path.c_str(), data, size)) return 0;
    if (cJSON* root = json_read_file(path.c_str())) {
        vtx_config_t vtx;
        vtx.bandwidth = 20;
        std::vector<int> powers(3, 7);
        const int n = load_vtx_profiles(&vtx, powers, root);
        if (n > 0 && (powers.size() < static_cast<size_t>(n) || vtx.profiles.size() > static_cast<size_t>(n))) {
            std::abort();
        }
        if (powers.size() < 3) std::abort();
        for (const auto& p : vtx.profiles) {
            if (p.mtu < 1 || p.mtu > 1342) std::abort();
            for (const auto& level : p.adaptive_link_levels) {
                if (level.mcs < 0 || level.mcs > 7 || level.fps < 0 || level.fps > 60) std::abort();
            }
        }
        load_vtx_udp_configs(&vtx, root);
        vrx_config_t vrx;
        load_vrx_udp_configs(&vrx, root);
        for (const auto& e : vtx.udp_receiver_configs) {
            if (!e || e->ip.empty() || static_cast<uint32_t>(e->port) > 65534) std::abort();
        }
        cJSON_Delete(root);
    }
    if (may_write_etc() && write_file(CAMERA_SERVER_CONFIG_PATH, data, size)) {
        const venc_mode_t mode = get_stream_codec("hires_misp_large_encoded");
        if (mode < 0 || mode > 2) std::abort();
    }
    return 0;
}
