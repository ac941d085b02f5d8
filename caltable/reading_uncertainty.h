// The uncertainty of a detector reading, per band: the one figure that the
// sweeps' power guard, the fast estimates, the power search and its FCC cap,
// and orvi-calreport's reading of the stops all take, so that they cannot
// come to disagree.
#pragma once

// dB, for the band with conversion-table key `band_key` ("2.4", "5.1",
// "5.8"): the trim's (its residual plus the meter's accuracy) where the
// board's trim file trims the band, the limits' untrimmed figure otherwise.
// A trim's uncertainty holds for the MCS it was taken at; the other MCS read
// through its correction too, but their columns of the conversion table were
// not checked against the meter, so their guard stays the untrimmed one.
double reading_uncertainty_db(const char* band_key, int mcs);
