// Regulatory mode of the radio ("regulatory_mode" in the transmitter
// configuration: "off" or "fcc").
#pragma once

// A fixed underlying type, so any value read from a file or a peer is a
// valid enum value; everything that is not FCC counts as no limits.
enum RegulatoryDomain : int {
    REGULATORY_DOMAIN_NONE = 0,  // no regulatory limits ("off")
    REGULATORY_DOMAIN_FCC = 1,   // FCC rules: DFS channels off, 200 mW cap in 5180-5320 MHz
};
