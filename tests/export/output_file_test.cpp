// The output rule's writer for a file held in memory (writeOutput), as the refit writes its tables
// with it after hours of search: a file of the user's beside the output is never touched, the
// file replaced keeps its mode, a new one gets the umask's, a link is written through, nothing is
// left behind, and a folder that is not there is refused with a reason, also by the probe a
// writer makes before it starts its work (canWriteOutput).

#include "export/output_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

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

bool write(const fs::path& path, const std::string& bytes, std::string* error) {
    OutputTarget target;
    return checkOutput(path.string(), {}, &target, error) && writeOutput(target, bytes, error);
}

TEST(OutputFile, WritingLeavesTheUsersFilesAloneKeepsTheModeAndFollowsLinks) {
    const fs::path dir = fs::temp_directory_path() / ("quorvel_output_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "elsewhere");
    const fs::path costs = dir / "fitted_costs.inc";
    const fs::path second = dir / "fitted_second.inc";
    // An older table readable by the group, and the user's own files under names a writer might
    // take for its temporary.
    std::ofstream(costs) << "old table\n";
    chmod(costs.c_str(), 0640);
    for (const char* name :
         {"fitted_costs.inc.tmp", "fitted_costs.inc.XXXXXX", ".fitted_costs.inc.part"}) {
        std::ofstream(dir / name) << "mine: " << name << "\n";
    }
    // A link to a table kept in another folder.
    const fs::path target = dir / "elsewhere" / "kept.inc";
    std::ofstream(target) << "kept\n";
    chmod(target.c_str(), 0600);
    fs::create_symlink(target, dir / "linked.inc");
    const std::set<std::string> before = namesIn(dir);

    std::string error;
    ASSERT_TRUE(write(costs, "// a header line\nnew\n", &error)) << error;
    ASSERT_TRUE(write(second, "// its header\n", &error)) << error;
    ASSERT_TRUE(write(dir / "linked.inc", "through the link\n", &error)) << error;
    std::set<std::string> after = before;
    after.insert("fitted_second.inc");
    EXPECT_EQ(namesIn(dir), after) << "a temporary was left behind or a file taken away";
    EXPECT_EQ(namesIn(dir / "elsewhere"), std::set<std::string>{"kept.inc"});
    for (const char* name :
         {"fitted_costs.inc.tmp", "fitted_costs.inc.XXXXXX", ".fitted_costs.inc.part"}) {
        EXPECT_EQ(readAll(dir / name), std::string("mine: ") + name + "\n") << name;
    }
    EXPECT_EQ(readAll(costs), "// a header line\nnew\n");
    EXPECT_EQ(modeOf(costs), 0640u) << "the replaced file lost its mode";
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(modeOf(second), 0666u & ~mask) << "a new file is not made as new files are";
    EXPECT_TRUE(fs::is_symlink(dir / "linked.inc")) << "the link was replaced by a file";
    EXPECT_EQ(readAll(target), "through the link\n");
    EXPECT_EQ(modeOf(target), 0600u);

    // The probe before the work: the folder is writable, nothing is left behind, and a file of
    // the user's under the temporary's very name stays as it was: the probe and the writer both
    // refuse it, naming it, rather than write into it later.
    OutputTarget probed;
    ASSERT_TRUE(checkOutput(costs.string(), {}, &probed, &error)) << error;
    EXPECT_TRUE(canWriteOutput(probed, &error)) << error;
    EXPECT_EQ(namesIn(dir), after) << "the probe left its temporary behind";
    std::ofstream(probed.temporary) << "mine too\n";
    error.clear();
    EXPECT_FALSE(canWriteOutput(probed, &error));
    EXPECT_NE(error.find(probed.temporary), std::string::npos) << error;
    EXPECT_FALSE(writeOutput(probed, "new\n", &error));
    EXPECT_EQ(readAll(probed.temporary), "mine too\n");
    EXPECT_EQ(readAll(costs), "// a header line\nnew\n") << "the output was replaced";
    fs::remove(probed.temporary);

    // A folder that is not there: refused with a reason, and nothing made, by the probe too.
    const fs::path nowhere = dir / "no-such-folder" / "fitted_costs.inc";
    error.clear();
    EXPECT_FALSE(write(nowhere, "text\n", &error));
    EXPECT_FALSE(error.empty());
    OutputTarget missing;
    ASSERT_TRUE(checkOutput(nowhere.string(), {}, &missing, &error)) << error;
    error.clear();
    EXPECT_FALSE(canWriteOutput(missing, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(fs::exists(dir / "no-such-folder"));
    fs::remove_all(dir);
}

}  // namespace
