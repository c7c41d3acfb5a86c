#include "table.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

namespace zntr::test {

namespace {

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::vector<std::string> SplitCells(const std::string& line) {
    std::vector<std::string> cells;
    std::string cell;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == '|') {
            cell += '|';
            ++i;
        } else if (line[i] == '|') {
            cells.push_back(Trim(cell));
            cell.clear();
        } else {
            cell += line[i];
        }
    }
    cells.push_back(Trim(cell));
    return cells;
}

std::string EscapeCell(const std::string& cell) {
    std::string escaped;
    for (char c : cell) {
        if (c == '|') {
            escaped += '\\';
        }
        escaped += c;
    }
    return escaped;
}

bool IsRow(const std::string& line) {
    const std::string trimmed = Trim(line);
    return !trimmed.empty() && trimmed[0] != '#';
}

}  // namespace

const std::string& TableRow::operator[](std::size_t index) const {
    static const std::string kEmpty;
    return index < cells.size() ? cells[index] : kEmpty;
}

std::string Table::Where(const TableRow& row) const {
    return path.filename().string() + ":" + std::to_string(row.line);
}

std::string ReadTextFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

Table ReadTable(const std::filesystem::path& path) {
    Table table;
    table.path = path;
    std::istringstream in(ReadTextFile(path));
    std::string line;
    while (std::getline(in, line)) {
        table.lines.push_back(line);
        if (IsRow(line)) {
            table.rows.push_back({static_cast<int>(table.lines.size()), SplitCells(line)});
        }
    }
    return table;
}

void RewriteTable(const Table& table, const std::vector<TableRow>& rows) {
    std::map<int, const TableRow*> byLine;
    std::vector<std::size_t> widths;
    for (const TableRow& row : rows) {
        byLine[row.line] = &row;
        widths.resize(std::max(widths.size(), row.cells.size()));
        for (std::size_t i = 0; i < row.cells.size(); ++i) {
            widths[i] = std::max(widths[i], EscapeCell(row.cells[i]).size());
        }
    }
    std::ofstream out(table.path, std::ios::binary | std::ios::trunc);
    for (std::size_t index = 0; index < table.lines.size(); ++index) {
        const auto found = byLine.find(static_cast<int>(index + 1));
        if (found == byLine.end()) {
            out << table.lines[index] << "\n";
            continue;
        }
        std::string line;
        const std::vector<std::string>& cells = found->second->cells;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            std::string cell = EscapeCell(cells[i]);
            if (i + 1 < cells.size()) {
                cell.resize(widths[i], ' ');
                cell += " | ";
            }
            line += cell;
        }
        out << line << "\n";
    }
    if (!out) {
        throw std::runtime_error("cannot write " + table.path.string());
    }
}

bool RebuildingGoldens() {
    const char* value = std::getenv("ZNTR_REBUILD_GOLDEN");
    return value != nullptr && std::string(value) == "1";
}

std::string CompareWithGoldenFile(const std::filesystem::path& golden, const std::string& actual) {
    if (RebuildingGoldens()) {
        std::ofstream out(golden, std::ios::binary | std::ios::trunc);
        out << actual;
        return out ? "" : "cannot write " + golden.string();
    }
    std::string expected;
    try {
        expected = ReadTextFile(golden);
    } catch (const std::exception& error) {
        return std::string(error.what()) + " (ZNTR_REBUILD_GOLDEN=1 writes it)";
    }
    if (expected == actual) {
        return "";
    }
    std::istringstream expectedLines(expected);
    std::istringstream actualLines(actual);
    std::string want;
    std::string got;
    for (int line = 1;; ++line) {
        const bool moreWanted = static_cast<bool>(std::getline(expectedLines, want));
        const bool moreGot = static_cast<bool>(std::getline(actualLines, got));
        if (!moreWanted && !moreGot) {
            return golden.filename().string() + ": the files differ in their line ends";
        }
        if (!moreWanted || !moreGot || want != got) {
            return golden.filename().string() + ":" + std::to_string(line) + ": expected\n  " +
                   (moreWanted ? want : "(end of file)") + "\nbut got\n  " +
                   (moreGot ? got : "(end of output)");
        }
    }
}

std::vector<std::filesystem::path> FilesEndingIn(const std::filesystem::path& folder,
                                                 const std::string& ending) {
    std::vector<std::filesystem::path> files;
    std::error_code absent;
    for (const auto& entry : std::filesystem::directory_iterator(folder, absent)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > ending.size() &&
            name.compare(name.size() - ending.size(), ending.size(), ending) == 0) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace zntr::test
