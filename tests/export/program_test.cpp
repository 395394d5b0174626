// The program itself, with no X display: --export and --still from the command line.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "export_fixture.h"

using namespace export_test;

namespace {
// Runs the program with the arguments, DISPLAY unset; standard error into errPath.
int runProgram(const std::string& arguments, const std::string& errPath) {
    const std::string command = "env -u DISPLAY '" + std::string(QUORVEL_EXE) + "' " + arguments +
                                " > /dev/null 2> '" + errPath + "'";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
}  // namespace

TEST(ExportProgram, WritesAMutedVideoAndAStillWithoutADisplay) {
    const std::string folder = makeFolder();
    const std::string score = folder + "/score.xml";
    std::ofstream(score) << oneNoteASecond();
    const std::string err = folder + ".err";

    const std::string video = folder + "/out.mp4";
    ASSERT_EQ(
        runProgram("--export '" + video + "' --mute --size 320x180 --fps 10 --to 1 '" + score + "'",
                   err),
        0)
        << slurp(err);
    // Muted: a video stream and no sound track; the first measure, a second before and after.
    EXPECT_EQ(commandOutput("ffprobe -v error -show_entries stream=codec_type,width,height -of "
                            "csv=p=0 '" +
                            video + "'"),
              "video,320,180\n");
    const std::string frames = commandOutput(
        "ffprobe -v error -count_frames -show_entries stream=nb_read_frames -of csv=p=0 '" + video +
        "'");
    EXPECT_GE(std::atoi(frames.c_str()), 55) << frames;
    EXPECT_LE(std::atoi(frames.c_str()), 66) << frames;

    const std::string png = folder + "/still.png";
    ASSERT_EQ(runProgram("--still '" + png + "' --at m2 --camera side '" + score + "'", err), 0)
        << slurp(err);
    EXPECT_EQ(slurp(png).substr(1, 3), "PNG");

    // A position past the end: one line, status 1, no file.
    const std::string late = folder + "/late.png";
    EXPECT_EQ(runProgram("--still '" + late + "' --at 99 '" + score + "'", err), 1);
    EXPECT_EQ(slurp(err), "Could not save the picture " + late +
                              ": --at 99 lies past the end of the score, which is 8 quarter "
                              "notes long\n");
    std::remove(err.c_str());
    EXPECT_EQ(folderEntries(folder).size(), 3u);  // the score, the video, the still
    removeFolder(folder);
}
