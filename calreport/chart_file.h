// Writing the chart: only ever a regular file (or a new one), replaced as a
// whole, so that a device, a FIFO or the report's own output is never
// clobbered and a failed write leaves the old chart in place.
#pragma once

#include <string>

// 0 once `path` holds `text`; -1 after one message "PATH: ..." on standard
// error, with nothing changed. A link to a regular file is followed and
// the file it names is replaced (the link stays); a link that leads nowhere
// or to anything else is refused.
int write_chart_file(const std::string& path, const std::string& text);
