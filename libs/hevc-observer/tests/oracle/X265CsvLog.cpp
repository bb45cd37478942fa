#include "oracle/X265CsvLog.h"

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace vexilo::hevc::oracle {

namespace {

constexpr const char* kPocColumn = "POC";
constexpr const char* kQpColumn = "QP";

std::vector<std::string> cells(const std::string& line)
{
    std::vector<std::string> result;
    std::stringstream stream(line);
    std::string cell;
    while (std::getline(stream, cell, ',')) {
        const auto begin = cell.find_first_not_of(' ');
        const auto end = cell.find_last_not_of(' ');
        result.push_back(begin == std::string::npos ? std::string() : cell.substr(begin, end - begin + 1));
    }
    return result;
}

std::optional<std::size_t> columnOf(const std::vector<std::string>& header, const std::string& name)
{
    for (std::size_t i = 0; i < header.size(); ++i) {
        if (header[i] == name) {
            return i;
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<std::map<std::int32_t, double>> readX265AverageQpByPoc(const std::filesystem::path& csv)
{
    std::ifstream in(csv);
    std::string line;
    if (!std::getline(in, line)) {
        return std::nullopt;
    }
    const auto header = cells(line);
    const auto poc = columnOf(header, kPocColumn);
    const auto qp = columnOf(header, kQpColumn);
    if (!poc || !qp) {
        return std::nullopt;
    }
    std::map<std::int32_t, double> averages;
    while (std::getline(in, line)) {
        const auto row = cells(line);
        if (row.size() > std::max(*poc, *qp) && !row[*poc].empty()) {
            averages[std::stoi(row[*poc])] = std::stod(row[*qp]);
        }
    }
    return averages;
}

} // namespace vexilo::hevc::oracle
