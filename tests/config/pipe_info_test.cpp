// Lookups that need running pipe servers: camera presence and the image
// description of a server's info record.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "brannic_json.h"
#include "brannic_pipe.h"
#include "config_helpers.h"
#include "test_files.h"
#include "vtx_config.h"

namespace {

class RunningPipes : public ConfigFiles {
protected:
    void TearDown() override { pipe_server_close_all(); }
};

TEST_F(RunningPipes, CameraStatusBits) {
    struct Case {
        std::vector<const char*> pipes;
        uint8_t mask;
    };
    const Case cases[] = {
        {{}, 0},
        {{"lepton0_raw"}, 16},
        {{"lepton_raw"}, 16},
        {{"lepton_raw", "lepton0_raw"}, 16},
        {{"hires_misp_encoded"}, 1},
        {{"boson_misp_encoded", "tracking_down_misp_encoded"}, 2 | 8},
        {{"hires_misp_encoded", "boson_misp_encoded", "tracking_front_misp_encoded",
          "tracking_down_misp_encoded", "lepton0_raw", "hires_large_encoded"},
         31},
    };
    for (const auto& c : cases) {
        int ch = 0;
        for (const char* name : c.pipes) {
            ASSERT_EQ(pipe_server_create(ch++, name, "camera_image_metadata_t", "config_tests"),
                      0)
                << name;
        }
        EXPECT_EQ(check_cameras_status(), c.mask) << c.pipes.size();
        pipe_server_close_all();
    }
    // A folder left behind without a server does not count.
    write_pipe_info("lepton0_raw", "{}");
    EXPECT_EQ(check_cameras_status(), 0);
}

TEST_F(RunningPipes, UpdatePipeJson) {
    Captured o = capture_output([] { EXPECT_EQ(UpdatePipeJson(3, IMAGE_FORMAT_H264, 1, 1, 1, false), -1); });
    EXPECT_EQ(o.out, "ERROR: got NULL pointer in UpdatePipeJson\n");

    ASSERT_EQ(pipe_server_create(3, "hires_misp_encoded", "camera_image_metadata_t", "cam"), 0);
    auto image_members = [] {
        cJSON* info = json_read_file("/run/zpx/hires_misp_encoded/info");
        std::string s;
        cJSON* item = nullptr;
        cJSON_ArrayForEach(item, info) {
            const std::string key = item->string;
            if (key == "string_format") s += key + "=" + item->valuestring + " ";
            if (key == "int_format" || key == "width" || key == "height" || key == "framerate") {
                s += key + "=" + std::to_string(item->valueint) + " ";
            }
        }
        cJSON_Delete(info);
        return s;
    };
    EXPECT_EQ(image_members(), "");

    // Replacing before anything was added changes nothing.
    EXPECT_EQ(UpdatePipeJson(3, IMAGE_FORMAT_H264, 1920, 1080, 30, true), 0);
    EXPECT_EQ(image_members(), "");

    EXPECT_EQ(UpdatePipeJson(3, IMAGE_FORMAT_H264, 1920, 1080, 30, false), 0);
    EXPECT_EQ(image_members(),
              "string_format=H264 int_format=4 width=1920 height=1080 framerate=30 ");

    EXPECT_EQ(UpdatePipeJson(3, IMAGE_FORMAT_H265, 1280, 720, 60, true), 0);
    EXPECT_EQ(image_members(),
              "string_format=H265 int_format=5 width=1280 height=720 framerate=60 ");

    // Adding again leaves two members of each name.
    EXPECT_EQ(UpdatePipeJson(3, IMAGE_FORMAT_H264, 640, 480, 90, false), 0);
    EXPECT_EQ(image_members(),
              "string_format=H265 int_format=5 width=1280 height=720 framerate=60 "
              "string_format=H264 int_format=4 width=640 height=480 framerate=90 ");
}

}  // namespace
