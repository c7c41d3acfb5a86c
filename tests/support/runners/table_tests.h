// GoogleTest glue for the table runners: one test per row, named after the file and line, so a
// failure points at the row. Header only, so the support library needs no GoogleTest.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "table.h"

namespace zntr::test {

// Registers one test per row of each table: `check` computes the row's actual cells, which are
// compared with the row's own from column `firstExpected` on. With ZNTR_REBUILD_GOLDEN=1 the
// computed cells are written back instead, once every row of the table has run (the table is
// rewritten by a last test of the suite). Call before RUN_ALL_TESTS, for example from main.
inline void RegisterTableRows(
    const std::string& suite, const std::vector<std::filesystem::path>& files,
    std::size_t firstExpected,
    std::function<std::vector<std::string>(const Table&, const TableRow&)> check) {
    for (const auto& file : files) {
        auto table = std::make_shared<Table>(ReadTable(file));
        auto rebuilt = std::make_shared<std::vector<TableRow>>();
        for (const TableRow& row : table->rows) {
            std::string name = file.stem().string() + "_line" + std::to_string(row.line);
            testing::RegisterTest(
                suite.c_str(), name.c_str(), nullptr, nullptr, file.string().c_str(), row.line,
                [table, row, firstExpected, check, rebuilt]() -> testing::Test* {
                    struct RowTest : testing::Test {
                        std::function<void()> body;
                        void TestBody() override { body(); }
                    };
                    auto* test = new RowTest;
                    test->body = [=] {
                        std::vector<std::string> actual = check(*table, row);
                        std::vector<std::string> cells(
                            row.cells.begin(),
                            row.cells.begin() +
                                static_cast<long>(std::min(firstExpected, row.cells.size())));
                        cells.resize(firstExpected);
                        cells.insert(cells.end(), actual.begin(), actual.end());
                        if (RebuildingGoldens()) {
                            rebuilt->push_back({row.line, cells});
                            return;
                        }
                        EXPECT_EQ(std::vector<std::string>(
                                      row.cells.begin() + static_cast<long>(std::min(
                                                              firstExpected, row.cells.size())),
                                      row.cells.end()),
                                  actual)
                            << table->Where(row);
                    };
                    return test;
                });
        }
        if (RebuildingGoldens()) {
            std::string name = file.stem().string() + "_rewrite";
            testing::RegisterTest(suite.c_str(), name.c_str(), nullptr, nullptr,
                                  file.string().c_str(), 0, [table, rebuilt]() -> testing::Test* {
                                      struct Rewrite : testing::Test {
                                          std::function<void()> body;
                                          void TestBody() override { body(); }
                                      };
                                      auto* test = new Rewrite;
                                      test->body = [=] { RewriteTable(*table, *rebuilt); };
                                      return test;
                                  });
        }
    }
}

}  // namespace zntr::test
