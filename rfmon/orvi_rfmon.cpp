#include <cstdio>

int main(int argc, char** argv) {
    (void)argc;
    std::printf("Usage: %s -d <i2c_device_number> [options]\n", argv[0]);
    return 0;
}
