// The uncertainty of a detector reading, per band: the one figure that the
// sweeps' power guard, the fast estimates, the power search and its FCC cap,
// and orvi-calreport's reading of the stops all take, so that they cannot
// come to disagree.
#pragma once

// dB, for the band with conversion-table key `band_key` ("2.4", "5.1",
// "5.8"). Today every band's detector is untrimmed, so this is the limits'
// untrimmed figure; a trim of the unit's detector against a power meter
// replaces it here, band by band, and with it every use.
double reading_uncertainty_db(const char* band_key);
