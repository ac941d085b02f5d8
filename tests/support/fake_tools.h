// Fake command-line tools for tests of code that runs tools through the
// shell.
#pragma once

#include <string>
#include <vector>

#include "scratch_dir.h"

// Shell scripts named like the tools, in a fresh folder under /tmp put first
// on PATH for the life of the object. Each call appends one line to a log:
// the tool's name, then every argument in brackets ("iw [dev] [wlan0]"),
// so the exact argument vector can be compared. A tool prints what
// set_output / set_error gave it and exits with set_status (0 by default).
class FakeTools {
public:
    explicit FakeTools(const std::vector<std::string>& tools);
    ~FakeTools();
    FakeTools(const FakeTools&) = delete;
    FakeTools& operator=(const FakeTools&) = delete;

    const std::string& dir() const { return dir_.path(); }
    void set_output(const std::string& tool, const std::string& text);  // to stdout
    void set_error(const std::string& tool, const std::string& text);   // to stderr
    void set_status(const std::string& tool, int status);
    void reset(const std::string& tool);  // no output, status 0

    std::vector<std::string> calls() const;
    void clear_calls();

private:
    ScratchDir dir_{"orvi-fake-tools"};
    std::string saved_path_;
};
