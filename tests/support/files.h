// Whole-file reads and writes, and text split into lines.
#pragma once

#include <string>
#include <vector>

// The file's bytes; "" when it cannot be read.
std::string read_file(const std::string& path);
// Replaces the file with `text`; a failure fails the running test.
void write_file(const std::string& path, const std::string& text);
bool file_exists(const std::string& path);
// The folder and any missing parents; a failure fails the running test.
void make_dirs(const std::string& path);
// The lines of a text, without their newlines.
std::vector<std::string> lines_of(const std::string& text);
