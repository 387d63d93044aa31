// Helpers of the data-driven golden tests: the cases of a folder and the
// bytes of a file.
#pragma once
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// The stems of every <name>.wyn in `folder`, sorted, so test names are stable.
inline std::vector<std::string> golden_case_names(const std::string &folder)
{
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(folder))
        if (entry.path().extension() == ".wyn") names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

inline std::string golden_read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}
