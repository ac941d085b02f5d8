// The highest detector voltage that a band's conversion table converts: the
// key of its last row, as orvi-rfmon loads the table. A sweep reading above
// it stopped there, whatever output the stored level shows.
#pragma once

#include <string>

// "<dir>/<token>_mv_to_dbm.csv" for a band token ("2_4", "5_1", "5_8"); 0
// when the table cannot be read or holds no rows (nothing is printed: the
// report then only misses over-range stops).
double conversion_table_top_mv(const std::string& dir, const char* band);
