// The uncertainty of a detector reading, per band: the one figure that the
// sweeps' power guard, the fast estimates, the power search and its FCC cap,
// and orvi-calreport's reading of the stops all take, so that they cannot
// come to disagree.
#pragma once

// dB, for the band with conversion-table key `band_key` ("2.4", "5.1",
// "5.8"): the trim's (its residual plus the meter's accuracy) where the
// board's trim file trims the band, the limits' untrimmed figure otherwise.
double reading_uncertainty_db(const char* band_key);
