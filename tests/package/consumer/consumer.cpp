// A program of the transmitter service's kind built against the installed
// VTX library: the library's constants are built before main, its functions
// link.
#include <cstdio>

#include <orvi/link_rates.h>
#include <orvi/vtx_constants.h>

int main() {
    std::printf("%s %s %zu %d\n", CmdStrings[5].c_str(), VTX_CONFIG_PATH, test_data->size(),
                get_max_bitrate(7, 5805, 20));
    return 0;
}
