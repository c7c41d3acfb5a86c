// What the programs' tables of tests/data/wire share: their folder, a file's bytes, and the
// scenario tables (host.table, class_extension.table) whose rows are steps run in order against
// a recording double.
#pragma once

#include <filesystem>
#include <map>
#include <memory>

#include "call_recorder.h"
#include "table_tests.h"

namespace zntr::test {

using Bytes = std::vector<std::uint8_t>;
using Outcomes = std::vector<std::vector<std::string>>;

inline const std::filesystem::path kWire = ZNTR_WIRE_DATA;

inline Bytes ReadBytes(const std::filesystem::path& path) {
    const std::string text = ReadTextFile(path);
    return Bytes(text.begin(), text.end());
}

// The calls recorded from the `before`th on, separated by spaces.
inline std::string CallsSince(const CallRecorder& recorder, std::size_t before) {
    std::string calls;
    const auto all = recorder.Calls();
    for (auto call = all.begin() + static_cast<long>(before); call < all.end(); ++call) {
        calls += (calls.empty() ? "" : " ") + *call;
    }
    return calls;
}

// One test per row of a scenario table, whose column 0 names the scenario and column 1 is one of
// its steps: each scenario runs once, when the first of its rows is tested (`run` takes its steps
// and gives each step's outcome cells), and each row is the test of its step's outcome.
inline void RegisterScenarioRows(const std::string& suite, const std::string& file,
                                 std::function<Outcomes(const std::vector<std::string>&)> run) {
    auto outcomes = std::make_shared<std::map<int, Outcomes>>();  // by the scenario's first line
    RegisterTableRows(suite, {kWire / file}, 2, [=](const Table& table, const TableRow& row) {
        auto named = [&](const TableRow& r) { return r[0] == row[0]; };
        const auto first = std::find_if(table.rows.begin(), table.rows.end(), named);
        const auto end = std::find_if_not(first, table.rows.end(), named);
        if (outcomes->count(first->line) == 0) {
            std::vector<std::string> steps;
            std::transform(first, end, std::back_inserter(steps), [](auto& r) { return r[1]; });
            (*outcomes)[first->line] = run(steps);
        }
        const auto step =
            std::find_if(first, end, [&](const TableRow& r) { return r.line == row.line; });
        return (*outcomes)[first->line].at(static_cast<std::size_t>(step - first));
    });
}

// The sensor messages and the class extension (tests/class_extension/class_extension_test.cpp).
std::string AsRequest(const Bytes& bytes);
std::string AsAnswer(const Bytes& bytes);
Outcomes RunClassExtensionScenario(const std::vector<std::string>& steps);

}  // namespace zntr::test
