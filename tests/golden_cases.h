// Helpers of the data-driven golden tests: the cases of a folder, the bytes
// of a file, and files of one-line cases.
#pragma once
#include <algorithm>
#include <cstring>
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

// A file of one-line cases, "<input> => <expected>", split at the first
// " =>" (an empty expected side may end the line there). Both sides take
// the escapes \\ \n \r \t \v \f \0 and \xHH; a backslash before any
// other byte stands for itself, so markup reads as written. A line
// "== <name>" starts a section: the cases after it carry that name. Blank
// lines and lines starting with "#" are comments.
struct GoldenLine {
    int line;
    std::string section;
    std::string input;
    std::string expected;
};

inline std::string golden_unescape(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); i += 1) {
        char next = i + 1 < text.size() ? text[i + 1] : 0;
        if (text[i] != '\\' || !next || !strchr("\\nrtvf0x", next)) {
            out += text[i];
            continue;
        }
        i += 1;
        if (next == 'x') {
            out += (char)std::stoi(text.substr(i + 1, 2), nullptr, 16);
            i += 2;
        } else {
            out += next == 'n' ? '\n' : next == 'r' ? '\r' : next == 't' ? '\t' : next == 'v' ? '\v' : next == 'f' ? '\f'
                 : next == '0' ? '\0' : '\\';
        }
    }
    return out;
}

inline std::vector<GoldenLine> golden_read_lines(const std::string &path)
{
    std::vector<GoldenLine> cases;
    std::istringstream in(golden_read_file(path));
    std::string line, section;
    for (int number = 1; std::getline(in, line); number += 1) {
        if (line.empty() || line[0] == '#') continue;
        if (line.rfind("== ", 0) == 0) {
            section = line.substr(3);
            continue;
        }
        size_t at = std::min(line.find(" =>"), line.size());
        std::string expected = line.substr(std::min(at + 3, line.size()));
        if (!expected.empty() && expected[0] == ' ') expected.erase(0, 1);
        cases.push_back({number, section, golden_unescape(line.substr(0, at)), golden_unescape(expected)});
    }
    return cases;
}

// The escaped form of `text` for a case file (the inverse of
// golden_unescape), so a failing case can print the line it would need.
inline std::string golden_escape(const std::string &text)
{
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < text.size(); i += 1) {
        unsigned char c = (unsigned char)text[i];
        char next = i + 1 < text.size() ? text[i + 1] : 0;
        const char *named = c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\t' ? "\\t" : c == '\v' ? "\\v" : c == '\f' ? "\\f" : nullptr;
        if (named) out += named;
        else if (c == '\\') out += next && strchr("\\nrtvf0x", next) ? "\\\\" : "\\";
        else if (c < 0x20 || c == 0x7f || (c == ' ' && (i == 0 || i + 1 == text.size())))
            out += std::string("\\x") + hex[c >> 4] + hex[c & 15];
        else out += (char)c;
    }
    return out;
}
