// Tables of test data: the files behind the data-driven runners. A table is text: lines that
// begin with "#" are its legend (or comments between rows), blank lines are ignored, and every
// other line is one row whose cells are separated by "|" (a literal "|" in a cell is written
// "\|"). Cells are trimmed of surrounding spaces, so columns may be aligned by hand.
//
// A runner reads the input cells of each row, computes what the system gives, and compares it
// with the row's expected cells; with ZNTR_REBUILD_GOLDEN=1 it writes the computed cells back
// instead (RewriteTable), and the diff is reviewed in the commit.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace zntr::test {

struct TableRow {
    int line = 0;  // 1-based line number in the file, for messages
    std::vector<std::string> cells;

    // The cell at `index`, or "" when the row is shorter.
    const std::string& operator[](std::size_t index) const;
};

struct Table {
    std::filesystem::path path;
    std::vector<std::string> lines;  // every line of the file, for rewriting
    std::vector<TableRow> rows;

    // "file:line" of a row, for test names and failure messages.
    std::string Where(const TableRow& row) const;
};

// Reads a table; throws std::runtime_error when the file cannot be read.
Table ReadTable(const std::filesystem::path& path);

// Writes the table back with each row's cells replaced by `rows` (matched by line number);
// comments and blank lines stay where they were. Columns are padded to a common width.
void RewriteTable(const Table& table, const std::vector<TableRow>& rows);

// Whether this run rewrites golden data instead of comparing (ZNTR_REBUILD_GOLDEN=1).
bool RebuildingGoldens();

// Whole-file goldens: compares `actual` with the file's text, or writes it there when rebuilding.
// Returns "" when they agree (or after a rewrite), else a message naming the first differing line.
std::string CompareWithGoldenFile(const std::filesystem::path& golden, const std::string& actual);

// All of a file's text; throws std::runtime_error when it cannot be read.
std::string ReadTextFile(const std::filesystem::path& path);

// The files in `folder` whose names end in `ending`, sorted.
std::vector<std::filesystem::path> FilesEndingIn(const std::filesystem::path& folder,
                                                 const std::string& ending);

}  // namespace zntr::test
