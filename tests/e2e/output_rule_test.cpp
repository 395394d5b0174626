// Every program and mode that writes a file against the outputs that destroy files elsewhere:
// its own input (by name, through a symbolic link, through a hard link), a symbolic link to
// another file (written through), a folder, devices, a score's name given to a video writer, an
// unwritable folder, a full disk and an interrupt. And every mode against a score it cannot
// read: one line on standard error, status 1. And --part in every form the README shows.

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/program_run.h"

namespace {

const std::string kData = QUORVEL_SOURCE_DIR "/tests/data/";
const std::string kPrepare = QUORVEL_BIN_DIR "/quorvel-prepare";
const std::string kFingering = QUORVEL_BIN_DIR "/quorvel-fingering";
constexpr auto kGuard = std::chrono::seconds(120);

// A folder of its own for each case, readable by the unprivileged user.
struct Folder {
    std::string dir;
    Folder() {
        char name[] = "/tmp/quorvel_output_rule_XXXXXX";
        dir = mkdtemp(name);
        chmod(dir.c_str(), 0777);
    }
    ~Folder() {
        umount(dir.c_str());  // a full-disk case mounts over it; harmless otherwise
        chmod(dir.c_str(), 0777);
        std::system(("rm -rf '" + dir + "'").c_str());
    }
    std::string path(const std::string& name) const { return dir + "/" + name; }
    // The names in the folder, sorted.
    std::vector<std::string> names() const { return namesIn(dir); }
    static std::vector<std::string> namesIn(const std::string& folder) {
        std::vector<std::string> found;
        if (DIR* d = opendir(folder.c_str())) {
            while (dirent* entry = readdir(d)) {
                const std::string name = entry->d_name;
                if (name != "." && name != "..") {
                    found.push_back(name);
                }
            }
            closedir(d);
        }
        std::sort(found.begin(), found.end());
        return found;
    }
};

void copyFile(const std::string& from, const std::string& to) {
    const std::string bytes = slurpFile(from);
    FILE* out = std::fopen(to.c_str(), "wb");
    ASSERT_NE(out, nullptr) << to;
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
    chmod(to.c_str(), 0644);
}

// A writer: the program and its arguments for an input and an output.
struct Writer {
    const char* name;
    std::function<std::vector<std::string>(const std::string& in, const std::string& out)> args;
    const char* extension;  // of a good output name
    std::string program = QUORVEL_EXE;
};

std::vector<Writer> writers() {
    return {
        {"--export",
         [](const std::string& in, const std::string& out) {
             return std::vector<std::string>{"--export", out,     "--prepare", "--mute", "--size",
                                             "320x180",  "--fps", "5",         in};
         },
         ".mp4"},
        {"--still",
         [](const std::string& in, const std::string& out) {
             return std::vector<std::string>{"--still", out,       "--at",      "1",
                                             "--size",  "640x360", "--prepare", in};
         },
         ".png"},
        {"quorvel-prepare",
         [](const std::string& in, const std::string& out) {
             return std::vector<std::string>{in, out};
         },
         ".xml", kPrepare},
        {"quorvel-fingering",
         [](const std::string& in, const std::string& out) {
             return std::vector<std::string>{in, out};
         },
         ".musicxml", kFingering},
    };
}

// One line on standard error, status 1.
void expectOneLineFailure(const ProgramRun& run, const std::string& what) {
    ASSERT_TRUE(run.ended) << what << run.err;
    EXPECT_EQ(run.status, 1) << what << "\n" << run.out << run.err;
    EXPECT_FALSE(run.err.empty()) << what;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << what << ": " << run.err;
}

}  // namespace

// Each writer, each output that must be refused: status 1, one line, the input byte for byte
// as it was, links still links, and nothing new in the folder.
TEST(OutputRule, EveryWriterRefusesOutputsThatWouldDestroyAFile) {
    for (const Writer& writer : writers()) {
        Folder folder;
        const std::string input = folder.path("song.musicxml");
        copyFile(kData + "real/pickup.musicxml", input);
        const std::string original = slurpFile(input);
        const std::string good = std::string("out") + writer.extension;
        ASSERT_EQ(symlink("song.musicxml", folder.path("link" + good).c_str()), 0);
        ASSERT_EQ(link(input.c_str(), folder.path("hard" + good).c_str()), 0);
        ASSERT_EQ(mkdir(folder.path("folder" + good).c_str(), 0755), 0);
        // Devices of our own, copies of /dev/full and /dev/null (a writer that replaced the
        // real ones would break the machine), and a named pipe.
        const std::string pipe = folder.path("pipe" + good);
        ASSERT_EQ(mkfifo(pipe.c_str(), 0666), 0);
        std::vector<std::string> specials = {pipe};
        if (mknod(folder.path("full" + good).c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0 &&
            mknod(folder.path("null" + good).c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
            specials.push_back(folder.path("full" + good));
            specials.push_back(folder.path("null" + good));
        }
        const std::vector<std::string> before = folder.names();

        std::vector<std::string> refused = {input, folder.path("link" + good),
                                            folder.path("hard" + good),
                                            folder.path("folder" + good)};
        refused.insert(refused.end(), specials.begin(), specials.end());
        if (writer.program == QUORVEL_EXE) {
            refused.push_back(folder.path("new.xml"));  // a score's name: a forgotten output
            refused.push_back(folder.path("new.mid"));
        }
        for (const std::string& output : refused) {
            const std::string what = std::string(writer.name) + " to " + output;
            ProgramRun run = runProgramWith(writer.program, writer.args(input, output), kGuard);
            expectOneLineFailure(run, what);
            EXPECT_EQ(slurpFile(input), original) << what;
            EXPECT_EQ(folder.names(), before) << what;
            struct stat info {};
            ASSERT_EQ(lstat(folder.path("link" + good).c_str(), &info), 0);
            EXPECT_TRUE(S_ISLNK(info.st_mode)) << what;
        }
        for (const std::string& special : specials) {
            struct stat device {};
            ASSERT_EQ(lstat(special.c_str(), &device), 0);
            EXPECT_TRUE(S_ISCHR(device.st_mode) || S_ISFIFO(device.st_mode)) << special;
        }
    }
}

// A symbolic link to another file is written through: the link stays, its target gets the new
// file, nothing else is left; a second run replaces it again with a complete file.
TEST(OutputRule, EveryWriterWritesThroughASymbolicLink) {
    for (const Writer& writer : writers()) {
        Folder folder;
        const std::string input = folder.path("song.musicxml");
        copyFile(kData + "real/pickup.musicxml", input);
        ASSERT_EQ(mkdir(folder.path("kept").c_str(), 0755), 0);
        const std::string target = folder.path("kept/target.bin");
        copyFile(kData + "real/pickup.mxl", target);  // an old file, to be replaced
        const std::string old = slurpFile(target);
        const std::string link = folder.path(std::string("out") + writer.extension);
        ASSERT_EQ(symlink("kept/target.bin", link.c_str()), 0);
        for (int round = 0; round < 2; ++round) {
            ProgramRun run = runProgramWith(writer.program, writer.args(input, link), kGuard);
            ASSERT_TRUE(run.ended);
            ASSERT_EQ(run.status, 0) << writer.name << "\n" << run.err;
            struct stat info {};
            ASSERT_EQ(lstat(link.c_str(), &info), 0);
            EXPECT_TRUE(S_ISLNK(info.st_mode)) << writer.name;
            const std::string written = slurpFile(target);
            EXPECT_NE(written, old) << writer.name;
            EXPECT_GT(written.size(), 100u) << writer.name;
            EXPECT_EQ(folder.names(),
                      (std::vector<std::string>{"kept", "out" + std::string(writer.extension),
                                                "song.musicxml"}))
                << writer.name;
        }
        // The temporary went beside the target, and is gone.
        EXPECT_EQ(Folder::namesIn(folder.path("kept")), std::vector<std::string>{"target.bin"})
            << writer.name;
    }
}

// An unwritable folder (as an unprivileged user) and a full disk: one line, status 1, no file.
TEST(OutputRule, EveryWriterFailsCleanlyOnAnUnwritableFolderAndAFullDisk) {
    for (const Writer& writer : writers()) {
        Folder source;
        const std::string input = source.path("song.musicxml");
        copyFile(kData + "real/divisions.musicxml", input);
        const std::string output = std::string("out") + writer.extension;

        Folder locked;
        chmod(locked.dir.c_str(), 0555);
        ProgramRun run = runProgramWith(writer.program, writer.args(input, locked.path(output)),
                                        kGuard, "", true);
        if (geteuid() == 0) {
            expectOneLineFailure(run, std::string(writer.name) + " into a read-only folder");
            EXPECT_TRUE(locked.names().empty()) << writer.name;
        }

        Folder full;
        if (mount("tmpfs", full.dir.c_str(), "tmpfs", 0, "size=8k") != 0) {
            continue;  // only root may mount; the unwritable folder above stood in
        }
        // Fill it but for a little, so that the output cannot fit.
        const std::string filler = full.path("filler");
        FILE* f = std::fopen(filler.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        const std::string block(1024, 'x');
        for (int i = 0; i < 7; ++i) {
            std::fwrite(block.data(), 1, block.size(), f);
        }
        std::fclose(f);
        run = runProgramWith(writer.program, writer.args(input, full.path(output)), kGuard);
        expectOneLineFailure(run, std::string(writer.name) + " onto a full disk");
        EXPECT_EQ(full.names(), std::vector<std::string>{"filler"}) << writer.name;
        umount(full.dir.c_str());
    }
}

// Something already under the name of a writer's temporary (the output's hidden name with the
// writer's process id): a file of the user's, or a symbolic link planted in a shared folder to
// make the writer truncate another file. Every writer, the MIDI export and the refit's probe
// before its search among them, refuses in one line, status 1, and writes through neither: the
// planted file and the file the link names are as they were, and no output is made.
TEST(OutputRule, EveryWriterLeavesWhatStandsUnderItsTemporaryName) {
    std::vector<Writer> all = writers();
    all.push_back({"--export-midi",
                   [](const std::string& in, const std::string& out) {
                       return std::vector<std::string>{"--export-midi", out, in};
                   },
                   ".mid"});
    all.push_back(
        {"quorvel-fingering-fit --out",
         [](const std::string&, const std::string& out) {
             return std::vector<std::string>{"--out", out, "--keep-weights", "--rule-rounds", "0"};
         },
         ".inc", QUORVEL_BIN_DIR "/quorvel-fingering-fit"});
    for (const Writer& writer : all) {
        for (const bool planted : {true, false}) {
            const std::string what = std::string(writer.name) +
                                     (planted ? ", a link planted" : ", a file of the user's");
            Folder folder;
            const std::string input = folder.path("song.musicxml");
            copyFile(kData + "real/pickup.musicxml", input);
            const std::string kept = folder.path("kept.txt");
            copyFile(kData + "real/pickup.mxl", kept);
            const std::string keptBytes = slurpFile(kept);
            const std::string name = std::string("out") + writer.extension;
            // In the writer's own process, before it starts: its temporary's name is known there.
            const auto plant = [&] {
                const std::string temporary =
                    folder.path("." + name + "." + std::to_string(getpid()) + ".part");
                if (planted ? symlink(kept.c_str(), temporary.c_str()) != 0
                            : link(kept.c_str(), temporary.c_str()) != 0) {
                    _exit(125);
                }
            };
            const ProgramRun run =
                runProgramWith(writer.program, writer.args(input, folder.path(name)), kGuard, "",
                               false, QUORVEL_SOURCE_DIR, plant);
            expectOneLineFailure(run, what);
            EXPECT_NE(run.err.find("already there under its temporary name"), std::string::npos)
                << what << ": " << run.err;
            EXPECT_EQ(slurpFile(kept), keptBytes) << what;
            const std::vector<std::string> names = folder.names();
            ASSERT_EQ(names.size(), 3u) << what;  // the input, the kept file and what was planted
            EXPECT_EQ(std::count(names.begin(), names.end(), name), 0) << what;
            for (const std::string& entry : names) {
                struct stat info {};
                ASSERT_EQ(lstat(folder.path(entry).c_str(), &info), 0);
                if (entry[0] == '.') {
                    EXPECT_EQ(S_ISLNK(info.st_mode), planted) << what;
                }
            }
        }
    }
}

// Ctrl-C during an export of the bundled sonata: status 1, one line, no file, nothing left;
// an existing file under the output's name is kept as it was.
TEST(OutputRule, AnInterruptedExportLeavesTheOldFileAndNothingElse) {
    Folder folder;
    const std::string output = folder.path("sonata.mp4");
    copyFile(kData + "real/pickup.mxl", output);
    const std::string old = slurpFile(output);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execl(QUORVEL_EXE, QUORVEL_EXE, "--export", output.c_str(), "--mute", "--size", "320x180",
              QUORVEL_SOURCE_DIR "/debug/OrlundePianoSonata.xml", static_cast<char*>(nullptr));
        _exit(127);
    }
    // Wait until the encoder's temporary exists, then interrupt.
    bool started = false;
    for (int i = 0; i < 600 && !started; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        started = folder.names().size() > 1;
    }
    EXPECT_TRUE(started);
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(folder.names(), std::vector<std::string>{"sonata.mp4"});
    EXPECT_EQ(slurpFile(output), old);
}

// Every mode of the program and both companions on a missing, an empty and an unreadable score:
// one line on standard error that names the file, status 1. The classic program keeps its own
// messages and status.
TEST(HonestExits, EveryModeFailsWithOneLineOnAScoreItCannotRead) {
    Folder folder;
    const std::string empty = folder.path("empty.xml");
    copyFile("/dev/null", empty);
    const std::string locked = folder.path("locked.xml");
    copyFile(kData + "real/pickup.musicxml", locked);
    chmod(locked.c_str(), 0);
    const std::string out = folder.path("out");
    const std::vector<std::vector<std::string>> modes = {
        {QUORVEL_EXE, "--play"},
        {QUORVEL_EXE, "--realtime"},
        {QUORVEL_EXE, "--prepare"},
        {QUORVEL_EXE, "--realtime", "--prepare"},
        {QUORVEL_EXE, "--export", out + ".mp4"},
        {QUORVEL_EXE, "--export", out + ".mp4", "--prepare"},
        {QUORVEL_EXE, "--still", out + ".png", "--at", "0"},
        {kPrepare},
        {kFingering},
    };
    for (const std::string& score : {folder.path("missing.xml"), empty, locked}) {
        for (const std::vector<std::string>& mode : modes) {
            std::vector<std::string> args(mode.begin() + 1, mode.end());
            args.push_back(score);
            if (mode[0] != QUORVEL_EXE) {
                args.push_back(out + ".xml");
            }
            std::string what = mode[0];
            for (const std::string& a : args) {
                what += " " + a;
            }
            ProgramRun run = runProgramWith(mode[0], args, kGuard, "", true);
            expectOneLineFailure(run, what);
            EXPECT_NE(run.err.find(score), std::string::npos) << what << ": " << run.err;
        }
        EXPECT_EQ(folder.names(), (std::vector<std::string>{"empty.xml", "locked.xml"}));
        // The classic program: its messages on standard output, status 0, as ever.
        ProgramRun classic = runProgramWith(QUORVEL_EXE, {score}, kGuard, "", true);
        ASSERT_TRUE(classic.ended);
        EXPECT_EQ(classic.status, 0) << score;
        EXPECT_EQ(classic.out.rfind(loadingHeader(score), 0), 0u) << classic.out;
    }
    // A mistyped option is not a score's name.
    ProgramRun typo = runProgramWith(QUORVEL_EXE, {"--exprt", out + ".mp4", empty}, kGuard);
    expectOneLineFailure(typo, "--exprt");
    EXPECT_EQ(typo.err, "quorvel: unknown option --exprt; see --help\n");
    EXPECT_EQ(typo.out, "");
}

// A notation program's export refused by the classic reader: its messages as ever on standard
// output, then one line of advice on standard error.
TEST(HonestExits, TheClassicReaderPointsAtPlayForAScoreOnlyPreparationReads) {
    const std::string score = kData + "real/pickup.mxl";
    ProgramRun run = runProgramWith(QUORVEL_EXE, {score}, kGuard);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind(loadingHeader(score) + "Could not load the score: ", 0), 0u) << run.out;
    EXPECT_EQ(run.err, "This score can be played with: quorvel --play " + score + "\n");
}

// --part as the README shows it, in both orders, once or twice, before or after the score, in
// all three programs.
TEST(PartOption, EveryFormIsTakenByEveryProgram) {
    const std::string score = kData + "real/twoparts.musicxml";
    Folder folder;
    const std::vector<std::vector<std::string>> forms = {
        {"--part", "P1", "--part", "P2", score},
        {score, "--part", "P1", "--part", "P2"},
        {"--part", "P1", score, "--part", "P2"},
        {"--part=1", "--part=2", score},
        {"--part", "2", score},
        {score, "--part", "P1"},
    };
    for (const std::vector<std::string>& form : forms) {
        std::string what;
        for (const std::string& a : form) {
            what += " " + a;
        }
        int parts = 0;
        for (const std::string& a : form) {
            parts += a.rfind("--part", 0) == 0;
        }
        const bool both = parts == 2;
        std::vector<std::string> still = {"--still", folder.path("part.png"), "--at", "0"};
        still.insert(still.end(), form.begin(), form.end());
        std::vector<std::string> companion = form;
        companion.push_back(folder.path("part.xml"));
        for (const auto& [program, args] :
             {std::make_pair(std::string(QUORVEL_EXE), still), std::make_pair(kPrepare, companion),
              std::make_pair(kFingering, companion)}) {
            ProgramRun run = runProgramWith(program, args, kGuard);
            ASSERT_TRUE(run.ended);
            EXPECT_EQ(run.status, 0) << program << what << "\n" << run.err;
            // Two parts are merged into the hands; one part alone is played as the piano.
            const std::string merged = "played as the right hand and";
            EXPECT_EQ(run.err.find(merged) != std::string::npos, both) << program << what << "\n"
                                                                       << run.err;
        }
    }
}
