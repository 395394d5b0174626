// The title and composer of a prepared score: the Piece the preparation builds carries them (the
// new look's overlay shows them for --play, --export and --still), read by the same rules as a
// strict score: the work title, else the movement title; the first creator of type composer.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "prepare/container.h"
#include "prepare/prepare.h"
#include "timeline/score_tree.h"

namespace {
// The text of the first <work-title> of a document, trimmed, found without an XML reader.
std::string workTitleInText(const std::string& xml) {
    const size_t open = xml.find("<work-title>");
    const size_t close = xml.find("</work-title>", open);
    if (open == std::string::npos || close == std::string::npos) {
        return "";
    }
    const std::string inside = xml.substr(open + 12, close - open - 12);
    const size_t first = inside.find_first_not_of(" \t\r\n");
    return first == std::string::npos
               ? ""
               : inside.substr(first, inside.find_last_not_of(" \t\r\n") - first + 1);
}

// `xml` with its first span from `open` through the `close` after it replaced by `to`.
std::string spanReplaced(std::string xml, const std::string& open, const std::string& close,
                         const std::string& to) {
    const size_t from = xml.find(open);
    const size_t end = from == std::string::npos ? from : xml.find(close, from);
    EXPECT_NE(end, std::string::npos) << open << " ... " << close;
    if (end != std::string::npos) {
        xml.replace(from, end + close.size() - from, to);
    }
    return xml;
}

Piece preparedText(const std::string& xml) {
    PrepareResult prepared;
    EXPECT_TRUE(prepareScoreText(xml, PrepareOptions(), &prepared)) << prepared.error;
    return prepared.piece;
}

// `xml` with its first occurrence of `from` replaced by `to`.
std::string replaced(std::string xml, const std::string& from, const std::string& to) {
    const size_t at = xml.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) {
        xml.replace(at, from.size(), to);
    }
    return xml;
}
}  // namespace

TEST(PreparedTitles, RealExportsCarryTheirTitleIntoThePiece) {
    std::vector<std::string> files;
    for (const char* folder : {"data/real", "data/performance", "data/ornaments", "data/repeats"}) {
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            const std::string ext = entry.path().extension().string();
            if (ext == ".musicxml" || ext == ".mxl" || ext == ".xml") {
                files.push_back(entry.path().string());
            }
        }
    }
    std::sort(files.begin(), files.end());
    size_t titled = 0;
    for (const std::string& path : files) {
        std::string text;
        std::string error;
        ASSERT_TRUE(readScoreText(path, &text, &error)) << path << ": " << error;
        PrepareResult prepared;
        if (!prepareScore(path, PrepareOptions(), &prepared)) {
            continue;  // refusals are tested on their own
        }
        const std::string expected = workTitleInText(text);
        EXPECT_EQ(prepared.piece.title, expected) << path;
        titled += expected.empty() ? 0 : 1;
        // The strict reading of the same tree names the same title and composer.
        pugi::xml_document document;
        ASSERT_TRUE(document.load_buffer(text.data(), text.size()));
        ScoreTreeReading reading;
        if (readScoreTree(document, &reading, &error)) {
            EXPECT_EQ(reading.title, prepared.piece.title) << path;
            EXPECT_EQ(reading.composer, prepared.piece.composer) << path;
        }
    }
    // Every real export of ours is titled, the archives as well as the plain documents.
    EXPECT_GE(titled, 25u);
}

TEST(PreparedTitles, MovementTitleStandsInAndTheComposerIsTheComposerCreator) {
    std::string text;
    std::string error;
    ASSERT_TRUE(readScoreText("data/real/pickup.musicxml", &text, &error)) << error;
    ASSERT_EQ(workTitleInText(text), "Pickup");
    const Piece plain = preparedText(text);
    EXPECT_EQ(plain.title, "Pickup");
    EXPECT_EQ(plain.composer, "");

    // No work title: the movement title, trimmed.
    const std::string noWork = spanReplaced(text, "<work>", "</work>", "");
    const std::string movement = replaced(noWork, "<part-list>",
                                          "<movement-title>\n  Second movement </movement-title>"
                                          "<part-list>");
    EXPECT_EQ(preparedText(movement).title, "Second movement");
    EXPECT_EQ(preparedText(noWork).title, "");

    // A work title wins over a movement title; an empty one does not.
    const std::string both =
        replaced(text, "<part-list>", "<movement-title>Other</movement-title><part-list>");
    EXPECT_EQ(preparedText(both).title, "Pickup");
    const std::string emptyWork =
        spanReplaced(both, "<work-title>", "</work-title>", "<work-title> </work-title>");
    EXPECT_EQ(preparedText(emptyWork).title, "Other");

    // The composer is the first creator of that type, not the lyricist before it.
    const std::string creators =
        replaced(text, "<identification>",
                 "<identification><creator type=\"lyricist\">Words</creator>"
                 "<creator type=\"composer\"> A. Composer </creator>"
                 "<creator type=\"composer\">Another</creator>");
    ASSERT_NE(creators, text) << "the export has an identification to add creators to";
    EXPECT_EQ(preparedText(creators).composer, "A. Composer");
}
