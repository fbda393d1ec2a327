// Whole files in and out, for tests that prepare or check a file on disk.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace hwtest {

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

inline void WriteFile(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

}  // namespace hwtest
