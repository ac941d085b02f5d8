// orvi-calreport: what the calibration tables hold and what the transmitter
// will pick from them, as text, JSON or an SVG chart. Reads the tables only.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "chart_file.h"
#include "command_line.h"
#include "frequency_bands.h"
#include "json_report.h"
#include "svg_chart.h"
#include "table_files.h"
#include "table_analysis.h"
#include "text_report.h"

namespace {

constexpr int EXIT_USAGE = 2;

int g_output_error = 0;  // errno of the first failed write to standard output

void print(const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() && !g_output_error) {
        g_output_error = errno ? errno : EIO;
    }
}

// A deploy gates on the exit status: a report that did not reach standard
// output whole (a full disk or device, a closed pipe) must not pass it.
int finish_output(int status) {
    if (std::fflush(stdout) != 0 && !g_output_error) g_output_error = errno;
    if (std::ferror(stdout) && !g_output_error) g_output_error = EIO;
    if (std::fclose(stdout) != 0 && !g_output_error) g_output_error = errno;
    if (!g_output_error) return status;
    std::fprintf(stderr, "standard output: %s; the report is incomplete\n", std::strerror(g_output_error));
    return EXIT_USAGE;
}

std::string real_path(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

std::string parent_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Whether writing `file` would put something in `dir` or below it (links
// followed, as the file replacement follows them).
bool inside_dir(const std::string& file, const std::string& dir) {
    const std::string root = real_path(dir);
    if (root.empty()) return false;
    std::string target = real_path(file);
    target = target.empty() ? real_path(parent_of(file)) : parent_of(target);
    if (target.empty()) return false;
    return target == root || target.rfind(root == "/" ? root : root + "/", 0) == 0;
}

int run_query(const calreport_options_t& options, RegulatoryDomain domain) {
    sweep_band_t sweep;
    if (!sweep_band(options.frequency, &sweep)) {
        std::fprintf(stderr,
                     "orvi-calreport: %d MHz is in no band with a table (2300-2599, 5000-5999 MHz)\n",
                     options.frequency);
        return EXIT_USAGE;
    }
    const char* band = sweep.token;
    const std::string path = calibration_table_file(options.dir, band);
    calibration_table_t table = {};
    switch (read_calibration_table(path, band, &table)) {
        case TABLE_MISSING:
            std::fprintf(stderr, "%s: no such table\n", path.c_str());
            return EXIT_USAGE;
        case TABLE_UNREADABLE:
            return EXIT_USAGE;
        case TABLE_READ:
            break;
    }
    const PowerMap map = transmitter_power_map(table);
    const power_pick_t pick = pick_power_index(table, map, options.mcs, options.mw, options.frequency, domain,
                                               column_uncertainty_db(query_band_detector(options.dir, table),
                                                                     table, options.mcs));
    print(options.json ? json_query(pick) : text_query(pick));
    return pick_off_target(pick) ? 1 : 0;
}

int run(const calreport_options_t& options) {
    if (options.help) {
        print(help_text());
        return 0;
    }
    if (options.version) {
        print(version_text());
        return 0;
    }
    const RegulatoryDomain domain = options.fcc ? REGULATORY_DOMAIN_FCC : REGULATORY_DOMAIN_NONE;
    if (options.query) return run_query(options, domain);

    if (!options.svg_path.empty() && inside_dir(options.svg_path, options.dir)) {
        std::fprintf(stderr, "%s: in the folder of the tables, which is never written to; no chart written\n",
                     options.svg_path.c_str());
        return EXIT_USAGE;
    }
    const calibration_report_t report = build_report(options.dir, domain);
    if (report.tables.empty()) {
        std::fprintf(stderr, "orvi-calreport: no calibration table could be read in %s\n", options.dir.c_str());
    }
    int status = report.status;
    bool chart_written = false;
    if (!options.svg_path.empty() && !report.tables.empty()) {
        if (write_chart_file(options.svg_path, svg_chart(report)) == 0) {
            chart_written = true;
        } else {
            status = EXIT_USAGE;
        }
    }
    if (options.json) {
        print(json_report(report));
    } else {
        print(text_report(report));
        if (chart_written) print("chart: " + options.svg_path + "\n");
    }
    return status;
}

}  // namespace

int main(int argc, char* argv[]) {
    calreport_options_t options;
    if (parse_command_line(argc, argv, &options) != 0) return EXIT_USAGE;
    return finish_output(run(options));
}
