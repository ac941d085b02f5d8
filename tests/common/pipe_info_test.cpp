// The image description a pipe server publishes in its info record.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <orvi/brannic_json.h>
#include <orvi/brannic_pipe.h>
#include <orvi/config_helpers.h>
#include "config_files.h"

namespace {

class RunningPipes : public ConfigFiles {
protected:
    void TearDown() override { pipe_server_close_all(); }
};

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
