#include "reading_uncertainty.h"

#include "safety_limits.h"

double reading_uncertainty_db(const char* band_key) {
    return untrimmed_reading_uncertainty_db(band_key);
}
