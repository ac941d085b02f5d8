// A fresh folder under /tmp for one test, removed with everything in it
// when the object goes.
#pragma once

#include <string>

class ScratchDir {
public:
    explicit ScratchDir(const std::string& prefix = "orvi-test");
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    // `name` inside the folder.
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};
