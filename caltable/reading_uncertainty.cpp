#include "reading_uncertainty.h"

#include "conversion_tables.h"
#include "detector_trim.h"

double reading_uncertainty_db(const char* band_key, int mcs) {
    return band_reading_uncertainty_db(installed_detector_trims(), band_key, mcs);
}
