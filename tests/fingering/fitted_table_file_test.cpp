// The refit's table writers as the output rule wants them: a file of the user's beside the table
// is never touched, the table replaced keeps its mode, a new one gets the umask's, and nothing is
// left behind; a folder that is not there is refused with a reason.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "fingering/fitted_costs.h"
#include "fingering/fitted_second.h"

namespace {

namespace fs = std::filesystem;

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::set<std::string> namesIn(const fs::path& dir) {
    std::set<std::string> names;
    for (const fs::directory_entry& e : fs::directory_iterator(dir)) {
        names.insert(e.path().filename().string());
    }
    return names;
}

mode_t modeOf(const fs::path& path) {
    struct stat s {};
    return stat(path.c_str(), &s) == 0 ? s.st_mode & 07777 : 0;
}

TEST(FittedTableFile, WritersLeaveTheUsersFilesAloneAndKeepTheTablesMode) {
    const fs::path dir = fs::temp_directory_path() / ("quorvel_table_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path costs = dir / "fitted_costs.inc";
    const fs::path second = dir / "fitted_second.inc";
    // An older table readable by the group, and the user's own files under the names a writer
    // might have taken for its temporary.
    std::ofstream(costs) << "old table\n";
    chmod(costs.c_str(), 0640);
    for (const char* name :
         {"fitted_costs.inc.tmp", "fitted_second.inc.tmp", ".fitted_costs.inc.part"}) {
        std::ofstream(dir / name) << "mine: " << name << "\n";
    }
    const std::set<std::string> before = namesIn(dir);

    std::string error;
    ASSERT_TRUE(fitted::tableWritable(costs.string(), &error)) << error;
    ASSERT_TRUE(fitted::tableWritable(second.string(), &error)) << error;
    EXPECT_EQ(namesIn(dir), before) << "the check left a file behind or took one away";
    EXPECT_EQ(readAll(costs), "old table\n");

    ASSERT_TRUE(
        fitted::writeCosts(costs.string(), {"a header line"}, fitted::embeddedCosts(), &error))
        << error;
    ASSERT_TRUE(fitted::writeSecondOrder(second.string(), {"its header"},
                                         fitted::embeddedSecondOrder(), &error))
        << error;
    std::set<std::string> after = before;
    after.insert("fitted_second.inc");
    EXPECT_EQ(namesIn(dir), after) << "a temporary was left behind";
    for (const char* name :
         {"fitted_costs.inc.tmp", "fitted_second.inc.tmp", ".fitted_costs.inc.part"}) {
        EXPECT_EQ(readAll(dir / name), std::string("mine: ") + name + "\n") << name;
    }
    EXPECT_EQ(readAll(costs).rfind("// a header line\n", 0), 0u);
    EXPECT_EQ(readAll(second).rfind("// its header\n", 0), 0u);
    EXPECT_EQ(modeOf(costs), 0640u) << "the replaced table lost its mode";
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(modeOf(second), 0666u & ~mask) << "a new table is not made as a new file is";

    // A folder that is not there: refused with a reason, and nothing made.
    const fs::path nowhere = dir / "no-such-folder" / "fitted_costs.inc";
    error.clear();
    EXPECT_FALSE(fitted::tableWritable(nowhere.string(), &error));
    EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
    error.clear();
    EXPECT_FALSE(fitted::writeCosts(nowhere.string(), {}, fitted::embeddedCosts(), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(fs::exists(dir / "no-such-folder"));
    fs::remove_all(dir);
}

}  // namespace
