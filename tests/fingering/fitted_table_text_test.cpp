// The committed tables are what the refit's writers make of the numbers compiled in from them,
// with their own header: so a refit that changes nothing writes the same files, and a writer that
// lost a digit, a row or a comment line is caught here rather than by a table that no longer
// compiles or quietly plans otherwise.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fingering/fitted_costs.h"
#include "fingering/fitted_second.h"

namespace {

std::string readTable(const std::string& name) {
    std::ifstream in(std::string(QUORVEL_SOURCE_DIR) + "/data/fingering/" + name);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The comment lines before the line `body` starts with, without their "// ".
std::vector<std::string> headerOf(const std::string& table, const std::string& body) {
    std::vector<std::string> header;
    std::istringstream lines(table);
    for (std::string line; std::getline(lines, line) && line.rfind(body, 0) != 0;) {
        header.push_back(line.size() > 3 ? line.substr(3) : "");
    }
    return header;
}

TEST(FittedTableText, TheCommittedTablesAreWhatTheWritersMakeOfTheirNumbers) {
    const std::string costs = readTable("fitted_costs.inc");
    const std::vector<std::string> header = headerOf(costs, "// weights:");
    ASSERT_GT(header.size(), 5u);
    ASSERT_LT(header.size(), 40u) << "no body found";
    EXPECT_EQ(fitted::tableHeader({"a line", "", "another"}), "// a line\n//\n// another\n");
    EXPECT_EQ(fitted::costsText(header, fitted::embeddedCosts()), costs);

    const std::string second = readTable("fitted_second.inc");
    const std::vector<std::string> secondHeader = headerOf(second, "// weight, smoothing");
    ASSERT_GT(secondHeader.size(), 5u);
    EXPECT_EQ(fitted::secondOrderText(secondHeader, fitted::embeddedSecondOrder()), second);
}

}  // namespace
