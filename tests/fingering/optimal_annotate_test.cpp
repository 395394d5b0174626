// Writing planned fingerings into a score: every played note gets one, printed ones are kept
// unless replaced, and nothing else in the text changes.

#include "fingering/optimal_annotate.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string kScale = QUORVEL_SOURCE_DIR "/tests/data/fingering/scale_f_major.xml";
// A fingering as the program writes it: the element around one digit.
const std::string kFingeringOpen = "<notations><technical><fingering>";
const std::string kFingeringClose = "</fingering></technical></notations>";

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The text without its fingerings, and the fingers they held, in document order.
std::string withoutFingerings(const std::string& text, std::vector<int>* fingers = nullptr) {
    std::string rest;
    size_t from = 0;
    for (size_t at = text.find(kFingeringOpen); at != std::string::npos;
         at = text.find(kFingeringOpen, from)) {
        const size_t digit = at + kFingeringOpen.size();
        if (digit >= text.size() || text[digit] < '0' || text[digit] > '9' ||
            text.compare(digit + 1, kFingeringClose.size(), kFingeringClose) != 0) {
            rest.append(text, from, digit - from);
            from = digit;
            continue;
        }
        rest.append(text, from, at - from);
        if (fingers != nullptr) {
            fingers->push_back(text[digit] - '0');
        }
        from = digit + 1 + kFingeringClose.size();
    }
    return rest + text.substr(from);
}

// The fingers written in a text, in document order.
std::vector<int> fingersIn(const std::string& text) {
    std::vector<int> fingers;
    withoutFingerings(text, &fingers);
    return fingers;
}

class OptimalAnnotate : public ::testing::Test {
protected:
    void TearDown() override { std::remove(path_.c_str()); }

    // Annotates `text` written to a temporary file.
    std::string annotate(const std::string& text, bool replace, size_t* fingered, size_t* kept) {
        std::ofstream(path_, std::ios::binary) << text;
        std::string output, error;
        EXPECT_TRUE(
            annotateFingering(path_, PrepareOptions{}, replace, &output, fingered, kept, &error))
            << error;
        return output;
    }

    std::string path_ = ::testing::TempDir() + "quorvel_annotate_test.xml";
};

TEST_F(OptimalAnnotate, EveryNoteGetsAFingerAndNothingElseChanges) {
    const std::string printed = readFile(kScale);
    const std::vector<int> book = fingersIn(printed);
    ASSERT_EQ(book.size(), 58u);
    const std::string bare = withoutFingerings(printed);

    size_t fingered = 0, kept = 0;
    const std::string planned = annotate(bare, false, &fingered, &kept);
    EXPECT_EQ(fingered, 58u);
    EXPECT_EQ(kept, 0u);
    const std::vector<int> fingers = fingersIn(planned);
    ASSERT_EQ(fingers.size(), 58u);
    // Taking the fingerings out again gives back the text it was given, byte for byte.
    EXPECT_EQ(withoutFingerings(planned), bare);
    size_t same = 0;
    for (size_t i = 0; i < book.size(); ++i) {
        same += fingers[i] == book[i] ? 1 : 0;
    }
    EXPECT_GE(same * 10, book.size() * 8) << same << " of " << book.size();

    // With every finger printed (here the book's, each moved on by one), nothing is replanned;
    // --replace plans them all again and gives the planner's own fingering.
    std::string odd = printed;
    size_t at = 0;
    for (int f : book) {
        at = odd.find("<fingering>", at) + 11;
        odd[at] = static_cast<char>('0' + f % 5 + 1);
    }
    const std::string keptText = annotate(odd, false, &fingered, &kept);
    EXPECT_EQ(kept, 58u);
    EXPECT_EQ(fingered, 0u);
    EXPECT_EQ(keptText, odd);
    const std::string replaced = annotate(odd, true, &fingered, &kept);
    EXPECT_EQ(fingered, 58u);
    EXPECT_EQ(fingersIn(replaced), fingers);
}

TEST_F(OptimalAnnotate, BadInputIsOneLine) {
    size_t fingered = 0, kept = 0;
    std::string output, error;
    EXPECT_FALSE(annotateFingering(path_ + ".missing", PrepareOptions{}, false, &output, &fingered,
                                   &kept, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(error.find('\n'), std::string::npos);
    std::ofstream(path_, std::ios::binary) << "<score-partwise><part-list>";
    EXPECT_FALSE(
        annotateFingering(path_, PrepareOptions{}, false, &output, &fingered, &kept, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(error.find('\n'), std::string::npos);
}

}  // namespace
