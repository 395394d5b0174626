// Documents that are not well-formed XML get the parse-error report with the place of the fault,
// from a file and from memory alike; entities stay unexpanded however they are used; text is a
// child node like any element; an empty part list is named as such.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "score_support.h"

namespace {

// A score that loads, split where a defect is put in: line 1 is the declaration, line 2 opens
// the root, line 3 holds the part list and the part.
const std::string kHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<score-partwise>\n";
std::string body(const std::string& inMeasure = "") {
    return "<part-list>" + pianoPartList() + "</part-list><part id=\"P1\"><measure>" +
           pianoAttributes(1) + inMeasure + note("C", 4, 1, 1) + "</measure></part>";
}
const std::string kTail = "\n</score-partwise>\n";

LoadRun loadBytes(const std::string& bytes) {
    resetModel();
    LoadRun run{0, {}, "memory"};
    run.output =
        capture([&] { run.result = loadScoreFromBuffer(bytes.data(), bytes.size(), nullptr); });
    return run;
}

std::string toUtf16(const std::string& ascii) {
    std::string bytes = "\xFF\xFE";
    for (char c : ascii) {
        bytes += c;
        bytes += '\0';
    }
    return bytes;
}

std::string repeat(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) {
        out += text;
    }
    return out;
}

// True for one line "Could not load the score: <reason> at line L, column C".
bool isParseErrorReport(const std::string& report) {
    const std::string lead = "Could not load the score: ";
    const size_t at = report.rfind(" at line ");
    if (report.rfind(lead, 0) != 0 || at == std::string::npos || at <= lead.size() ||
        report.find('\n') != report.size() - 1) {
        return false;
    }
    unsigned long line = 0;
    unsigned long column = 0;
    char end = 0;
    return std::sscanf(report.c_str() + at, " at line %lu, column %lu%c", &line, &column, &end) ==
               3 &&
           end == '\n' && line > 0 && column > 0;
}

struct Malformed {
    const char* what;
    std::string bytes;
    std::string reason;  // the parser's words, then " at line L, column C"
};

}  // namespace

TEST(WellFormed, EveryKindOfMalformedDocumentIsRefusedWithItsPlace) {
    const std::string good = kHead + body() + kTail;
    const std::vector<Malformed> cases = {
        {"element after the root", good + "<extra/>\n",
         "junk after document element at line 5, column 1"},
        {"text after the root", good + "trailing",
         "junk after document element at line 5, column 1"},
        {"duplicate attribute", kHead + "<part-list id=\"a\" id=\"b\">" + body().substr(11) + kTail,
         "duplicate attribute at line 3, column 19"},
        {"< in an attribute value", kHead + "<part-list id=\"a<b\">" + body().substr(11) + kTail,
         "not well-formed (invalid token) at line 3, column 17"},
        {"bare ampersand", kHead + body("<words>Tom & Jerry</words>") + kTail,
         "not well-formed (invalid token)"},
        {"control character", kHead + body("<words>\x01</words>") + kTail,
         "not well-formed (invalid token)"},
        {"invalid UTF-8 byte", kHead + body("<words>\xFF</words>") + kTail,
         "not well-formed (invalid token)"},
        {"overlong UTF-8", kHead + body("<words>\xC0\xAF</words>") + kTail,
         "not well-formed (invalid token)"},
        {"cut UTF-8 sequence", kHead + body("<words>\xE2\x82</words>") + kTail,
         "not well-formed (invalid token)"},
        {"-- inside a comment", kHead + "<!-- a -- b -->" + body() + kTail,
         "not well-formed (invalid token) at line 3, column 10"},
        {"UTF-16, element after the root", toUtf16(good + "<extra/>"),
         "junk after document element at line 5, column 1"},
        {"byte order mark, CR LF, duplicate attribute",
         "\xEF\xBB\xBF<score-partwise>\r\n<part-list x='1' x='2'/></score-partwise>",
         "duplicate attribute at line 2, column 18"},
    };
    LoadRun run = loadXml("wellformed_good.xml", good);
    ASSERT_EQ(run.result, 0) << run.output.out << run.output.err;

    for (const Malformed& malformed : cases) {
        SCOPED_TRACE(malformed.what);
        run = loadXml("wellformed_bad.xml", malformed.bytes);
        EXPECT_EQ(run.result, -1);
        EXPECT_EQ(run.output.err, "");
        EXPECT_TRUE(rightNotes.empty());
        EXPECT_EQ(domLiveHandles, 0);
        ASSERT_EQ(run.output.out.compare(0, header(run.path).size(), header(run.path)), 0);
        const std::string report = run.output.out.substr(header(run.path).size());
        EXPECT_TRUE(isParseErrorReport(report)) << report;
        EXPECT_EQ(report.rfind("Could not load the score: " + malformed.reason, 0), 0u) << report;
        // From memory: the same report.
        const LoadRun fromMemory = loadBytes(malformed.bytes);
        EXPECT_EQ(fromMemory.result, -1);
        EXPECT_EQ(fromMemory.output.out, "Loading MusicXML file...\n" + report);
    }
}

TEST(WellFormed, EntitiesStayUnexpandedEvenInAttributes) {
    // The bomb's largest entity names the piano's part in both places; were it expanded (or
    // refused), the score would not load, let alone at once.
    std::string bomb =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE score-partwise [\n<!ENTITY lol \"lol\">\n";
    for (int level = 1; level <= 9; ++level) {
        std::string previous = level == 1 ? "lol" : "lol" + std::to_string(level - 1);
        bomb += "<!ENTITY lol" + std::to_string(level) + " \"" + repeat("&" + previous + ";", 10) +
                "\">\n";
    }
    bomb += "<!ENTITY ext SYSTEM \"file:///etc/passwd\">\n]>\n";
    std::string partList = pianoPartList();
    partList.replace(partList.find("\"P1\""), 4, "\"&lol9;\"");
    const std::string xml = bomb + "<score-partwise><part-list>" + partList +
                            "</part-list><part id=\"&lol9;\"><measure>" + pianoAttributes(1) +
                            "<direction><direction-type><words font-family=\"&ext;\">&ext;</words>"
                            "</direction-type></direction>" +
                            note("D", 4, 1, 1) + "</measure></part></score-partwise>";
    for (const LoadRun& run : {loadXml("attribute_bomb.xml", xml), loadBytes(xml)}) {
        ASSERT_EQ(run.result, 0) << run.output.out << run.output.err;
        EXPECT_EQ(run.output.err, "");
        ASSERT_EQ(rightNotes.size(), 1u);
        EXPECT_EQ(rightNotes[0].slot[0].key, 41);
    }
    // A second XML declaration after the document type (two files pasted together) is passed
    // over like any processing instruction; one inside the root element is an error.
    const std::string pasted = bomb + kHead + body() + kTail;
    ASSERT_EQ(loadBytes(pasted).result, 0);
    EXPECT_EQ(loadBytes(kHead + body("<?xml version=\"1.0\"?>") + kTail).result, -1);

    // The predefined entities and character references are ordinary text, many times over.
    std::string named = pianoPartList();
    named.replace(named.find("\"P1\""), 4, "\"P&amp;1&#38;\"");
    const std::string predefined =
        kHead + "<part-list>" + named + "</part-list><part id=\"P&amp;1&#38;\"><measure>" +
        pianoAttributes(1) + "<direction><direction-type><words>" +
        repeat("rit. &amp; dim. &lt;&gt;&quot;&apos; ", 200) +
        "</words></direction-type></direction>" + note("C", 4, 1, 1) + "</measure></part>" + kTail;
    const LoadRun withPredefined = loadBytes(predefined);
    EXPECT_EQ(withPredefined.result, 0) << withPredefined.output.out;
    EXPECT_EQ(rightNotes.size(), 1u);

    // A document that calls itself standalone cannot lean on declarations nobody reads.
    const std::string standalone = "<?xml version=\"1.0\" standalone=\"yes\"?>\n<a>&nbsp;</a>";
    const LoadRun run = loadXml("standalone.xml", standalone);
    EXPECT_EQ(run.result, -1);
    EXPECT_NE(
        run.output.out.find("Could not load the score: undefined entity at line 2, column 4\n"),
        std::string::npos)
        << run.output.out;
}

TEST(WellFormed, TextIsAChildNodeLikeAnyElement) {
    // A clef whose first child is its text, and an instrument named by its text.
    const std::string attributes =
        "<attributes><divisions>1</divisions><clef number=\"1\">G</clef>"
        "<clef number=\"2\">F<sign>G</sign></clef></attributes>";
    const std::string partList =
        "<score-part id=\"P1\"><score-instrument id=\"i\">Piano</score-instrument></score-part>";
    LoadRun run = loadXml(
        "text_children.xml",
        scoreXml("<measure>" + attributes + note("C", 4, 1, 1) + note("C", 3, 1, 2) + "</measure>",
                 partList));
    ASSERT_EQ(run.result, 0) << run.output.out << run.output.err;
    ASSERT_EQ(rightNotes.size(), 2u);
    EXPECT_EQ(rightNotes[0].slot[0].key, 39);
    EXPECT_EQ(leftNotes[1].slot[0].key, 27);

    // Text before the name element is the first child: "Organ" is no piano.
    run = loadXml("text_first.xml",
                  scoreXml("<measure>" + pianoAttributes(1) + note("C", 4, 1, 1) + "</measure>",
                           "<score-part id=\"P1\"><score-instrument>Organ<instrument-name>Piano"
                           "</instrument-name></score-instrument></score-part>"));
    EXPECT_EQ(run.result, -1);
    EXPECT_EQ(run.output.err, formatMessage("Piano Part ID could not be found: Program exited\n"));

    // In the DOM: text, element, text, in document order, each with the element as parent.
    DomDocument document = createDomDocument();
    const std::string xml = "<part-list><a>one<b>two</b>three</a></part-list>";
    bool loaded = false;
    ASSERT_EQ(domLoadBuffer(document, xml.data(), xml.size(), &loaded), kDomOk);
    ASSERT_TRUE(loaded);
    DomNode a;
    ASSERT_EQ(domSelectSingleNode(document, "//part-list[0]/*", &a), kDomOk);
    DomNode child;
    ASSERT_EQ(domFirstChild(a, &child), kDomOk);
    std::vector<std::string> seen;
    for (int guard = 0; child && guard < 10; ++guard) {
        DomText name;
        DomText value;
        ASSERT_EQ(domNodeName(child, &name), kDomOk);
        ASSERT_EQ(domTypedValue(child, &value), kDomOk);
        seen.push_back(std::string(name.c_str()) + "=" + value.c_str());
        DomNode parent;
        ASSERT_EQ(domParentNode(child, &parent), kDomOk);
        EXPECT_EQ(parent.node, a.node);
        DomAttributeMap map;
        DomAttribute attribute;
        ASSERT_EQ(domAttributes(child, &map), kDomOk);
        EXPECT_EQ(domNamedItem(map, "x", &attribute), kDomNothing);
        if (domNextSibling(child, &child) != kDomOk) {
            break;
        }
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"#text=one", "b=two", "#text=three"}));
    DomText whole;
    ASSERT_EQ(domTypedValue(a, &whole), kDomOk);
    EXPECT_STREQ(whole.c_str(), "onetwothree");
}

TEST(WellFormed, AnEmptyPartListIsNamedAsSuch) {
    for (const std::string& list :
         {std::string(""), std::string("<!-- nothing -->"), std::string("just words")}) {
        const LoadRun run = loadXml("empty_list.xml", scoreXml("<measure/>", list));
        EXPECT_EQ(run.result, -1);
        EXPECT_EQ(run.output.err, formatMessage("Unexpected Format: the part-list is empty\n"));
    }
    const LoadRun run =
        loadXml("no_list.xml", "<score-partwise><part id=\"P1\"/></score-partwise>");
    EXPECT_EQ(run.output.err, formatMessage("Unexpected Format: the score has no part-list\n"));
}

// A pitch without a step starts from no key (-1) and still adds its octave and alter, so it
// plays a real key unless that sum leaves the keyboard.
TEST(WellFormed, APitchWithoutAStepPlaysTheKeyItsOctaveGives) {
    LoadRun run = loadXml("no_step.xml",
                          pianoScore("<note><pitch><octave>4</octave></pitch><duration>1</duration>"
                                     "<staff>1</staff></note>"
                                     "<note><pitch><alter>1</alter><octave>0</octave></pitch>"
                                     "<duration>1</duration><staff>1</staff></note>"));
    ASSERT_EQ(run.result, 0) << run.output.err;
    ASSERT_EQ(rightNotes.size(), 2u);
    EXPECT_EQ(rightNotes[0].slot[0].key, -1 + 12 * 3 + 2);  // 37, G sharp 3
    EXPECT_EQ(rightNotes[1].slot[0].key, kNoKey);           // -1 + 1 - 10 = -10: a rest
    EXPECT_EQ(run.output.err,
              formatMessage("Note outside the keyboard played as a rest: key -10 (the keys run "
                            "from 0, A0, to 87, C8)\n"));
}
