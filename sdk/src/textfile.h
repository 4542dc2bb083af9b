// Reads a configuration file (device file, feature file) whole. A file that
// cannot be read is reported on stderr by its path, as every configuration
// error of the SDK is, and fails with the status the SDK's loaders return.
#pragma once

#include "status.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace vcc {

inline int readTextFile(const std::string& path, std::string& text)
{
    std::ifstream f(path);
    if (!f) {
        std::fprintf(stderr, "virtual camera SDK: %s: cannot be read\n", path.c_str());
        return err(MV_E_PARAMETER);
    }
    std::stringstream ss;
    ss << f.rdbuf();
    text = ss.str();
    return MV_OK;
}

} // namespace vcc
