#include "score/dom.h"

#include <gtest/gtest.h>

#include <string>

#include "score_support.h"

namespace {

DomDocument loadedDocument(const std::string& name, const std::string& xml) {
    DomDocument document = createDomDocument();
    bool loaded = false;
    EXPECT_EQ(domLoad(document, writeTemp(name, xml).c_str(), &loaded), kDomOk);
    EXPECT_TRUE(loaded);
    return document;
}

std::string parseReason(const std::string& name, const std::string& bytes) {
    DomDocument document = createDomDocument();
    bool loaded = true;
    EXPECT_EQ(domLoad(document, writeTemp(name, bytes).c_str(), &loaded), kDomOk);
    EXPECT_FALSE(loaded);
    DomParseError error;
    EXPECT_EQ(domGetParseError(document, &error), kDomOk);
    DomText reason;
    EXPECT_EQ(domGetReason(error, &reason), kDomOk);
    return reason.c_str();
}

std::string utf16le(const std::string& ascii) {
    std::string bytes = "\xFF\xFE";
    for (char c : ascii) {
        bytes += c;
        bytes += '\0';
    }
    return bytes;
}

}  // namespace

TEST(Dom, TextsCompareIgnoringAsciiCaseAndAbsentIsEmpty) {
    EXPECT_TRUE(domTextEquals("GRAND piano", "Grand Piano"));
    EXPECT_FALSE(domTextEquals("Piano 1", "Piano"));
    EXPECT_FALSE(domTextEquals("Pian", "Piano"));
    EXPECT_TRUE(domTextEquals(nullptr, ""));
    EXPECT_FALSE(domTextEquals(nullptr, "1"));
    DomText absent;
    EXPECT_TRUE(domTextEquals(absent, ""));
    // Beyond ASCII the bytes must match exactly.
    EXPECT_TRUE(domTextEquals("Fl\xC3\xBCgel", "FL\xC3\xBCGEL"));
    EXPECT_FALSE(domTextEquals("\xC3\xBC", "\xC3\x9C"));

    char text[8];
    domIntToText(-2, text);
    EXPECT_STREQ(text, "-2");
    domIntToText(4999, text);
    EXPECT_STREQ(text, "4999");
    domIntToText(-32768, text);
    EXPECT_STREQ(text, "-32768");
}

TEST(Dom, NavigatesElementsAndTextsAsTheReaderExpects) {
    const long before = domLiveHandles;
    {
        DomDocument document = loadedDocument(
            "navigate.xml",
            "<?xml version=\"1.0\"?>\n<!-- leading comment -->\n<score>\n  <work/>\n"
            "  <part-list>\n    <!-- no node -->\n    <part-group type=\"start\"/>\n"
            "    <score-part id=\"  P1 \">\n      <score-instrument id=\"I1\">\n"
            "        <instrument-name>\n          Grand Piano\n        </instrument-name>\n"
            "      </score-instrument>\n    </score-part>\n  </part-list>\n"
            "  <step><![CDATA[ C ]]></step>\n  <mixed>A<b>B</b>C</mixed>\n</score>\n");
        DomNode entry;
        ASSERT_EQ(domSelectSingleNode(document, "//part-list[0]/*", &entry), kDomOk);
        DomText name;
        ASSERT_EQ(domNodeName(entry, &name), kDomOk);
        EXPECT_STREQ(name.c_str(), "part-group");  // comments are not nodes

        // An attribute the element lacks: success with nothing found.
        DomAttributeMap attributes;
        ASSERT_EQ(domAttributes(entry, &attributes), kDomOk);
        DomAttribute id;
        EXPECT_EQ(domNamedItem(attributes, "id", &id), kDomNothing);
        EXPECT_FALSE(id);
        // An element without children: success with nothing found.
        DomNode child;
        EXPECT_EQ(domFirstChild(entry, &child), kDomNothing);
        EXPECT_FALSE(child);

        ASSERT_EQ(domNextSibling(entry, &entry), kDomOk);
        ASSERT_EQ(domAttributes(entry, &attributes), kDomOk);
        ASSERT_EQ(domNamedItem(attributes, "id", &id), kDomOk);
        DomText value;
        ASSERT_EQ(domAttributeValue(id, &value), kDomOk);
        EXPECT_STREQ(value.c_str(), "P1");  // attribute values are trimmed

        // White space between elements is not a node: score-instrument, then instrument-name.
        ASSERT_EQ(domFirstChild(entry, &child), kDomOk);
        ASSERT_EQ(domFirstChild(child, &child), kDomOk);
        ASSERT_EQ(domNodeName(child, &name), kDomOk);
        EXPECT_STREQ(name.c_str(), "instrument-name");
        ASSERT_EQ(domTypedValue(child, &value), kDomOk);
        EXPECT_STREQ(value.c_str(), "Grand Piano");  // element texts are trimmed

        DomNode sibling;
        EXPECT_EQ(domNextSibling(entry, &sibling), kDomNothing);
        EXPECT_FALSE(sibling);

        DomNode up;
        ASSERT_EQ(domParentNode(entry, &up), kDomOk);
        ASSERT_EQ(domNodeName(up, &name), kDomOk);
        EXPECT_STREQ(name.c_str(), "part-list");
        ASSERT_EQ(domParentNode(up, &up), kDomOk);  // the result may replace the argument
        ASSERT_EQ(domNodeName(up, &name), kDomOk);
        EXPECT_STREQ(name.c_str(), "score");

        // Text content: CDATA counts, nested texts are joined.
        DomNode at;
        ASSERT_EQ(domFirstChild(up, &at), kDomOk);
        for (int i = 0; i < 2; ++i) {
            ASSERT_EQ(domNextSibling(at, &at), kDomOk);
        }
        ASSERT_EQ(domNodeName(at, &name), kDomOk);
        EXPECT_STREQ(name.c_str(), "step");
        ASSERT_EQ(domTypedValue(at, &value), kDomOk);
        EXPECT_STREQ(value.c_str(), "C");
        ASSERT_EQ(domFirstChild(at, &child), kDomOk);
        ASSERT_EQ(domNodeName(child, &name), kDomOk);
        EXPECT_EQ(name.c_str()[0], '#');  // never equal to an element name
        ASSERT_EQ(domNextSibling(at, &at), kDomOk);
        ASSERT_EQ(domTypedValue(at, &value), kDomOk);
        EXPECT_STREQ(value.c_str(), "ABC");

        EXPECT_GT(domLiveHandles, before);
        // Only the one query is understood.
        EXPECT_EQ(domSelectSingleNode(document, "//part", &at), kDomInvalidArgument);
        // Operations on a node that is not there fail instead of reading through it.
        DomNode none;
        EXPECT_LT(domFirstChild(none, &child), 0);
        EXPECT_LT(domNodeName(none, &name), 0);
    }
    EXPECT_EQ(domLiveHandles, before);
}

TEST(Dom, SelectFindsNothingWithoutPartListOrEntries) {
    DomDocument document = loadedDocument("nolist.xml", "<score><part id=\"P1\"/></score>");
    DomNode node;
    EXPECT_EQ(domSelectSingleNode(document, "//part-list[0]/*", &node), kDomNothing);
    EXPECT_FALSE(node);
    DomDocument empty =
        loadedDocument("emptylist.xml", "<score><a><part-list>text</part-list></a></score>");
    EXPECT_EQ(domSelectSingleNode(empty, "//part-list[0]/*", &node), kDomNothing);
    DomDocument nested =
        loadedDocument("nested.xml",
                       "<score><a><b/><part-list><x "
                       "id=\"1\"/></part-list></a><part-list><y/></part-list></score>");
    ASSERT_EQ(domSelectSingleNode(nested, "//part-list[0]/*", &node), kDomOk);
    DomText name;
    ASSERT_EQ(domNodeName(node, &name), kDomOk);
    EXPECT_STREQ(name.c_str(), "x");
}

TEST(Dom, LoadReportsWhyAFileDidNotLoadWithLineAndColumn) {
    EXPECT_EQ(parseReason("bad.xml", "<a>\n  <b>x</c>\n</a>\n"),
              "Start-end tags mismatch at line 2, column 9");
    // A byte order mark is not a column; CR LF is one line break.
    EXPECT_EQ(parseReason("bom.xml", "\xEF\xBB\xBF<a>\r\n\xC3\xA9<b></c></a>"),
              "Start-end tags mismatch at line 2, column 7");
    EXPECT_EQ(parseReason("utf16bad.xml", utf16le("<a>\n<b></c></a>")),
              "Start-end tags mismatch at line 2, column 6");
    EXPECT_EQ(parseReason("empty.xml", ""), "No document element found at line 1, column 1");
    // An unfinished document is placed on its last character.
    EXPECT_EQ(parseReason("truncated.xml", "<a><b>"),
              "Start-end tags mismatch at line 1, column 6");

    DomDocument document = createDomDocument();
    bool loaded = true;
    EXPECT_EQ(domLoad(document, "/nonexistent/score.xml", &loaded), kDomOk);
    EXPECT_FALSE(loaded);
    Captured report = capture([&] { reportParseError(document, "Could not load:"); });
    EXPECT_EQ(report.out, "Could not load: the file cannot be read (No such file or directory)\n");
    EXPECT_EQ(report.err, "");
}

TEST(Dom, LoadsUtf16AndSkipsAnExternalDoctypeWithoutFetchingIt) {
    // The DTD's address cannot be reached, so fetching it would fail the load.
    DomDocument document = loadedDocument(
        "doctype.xml",
        "<?xml version=\"1.0\"?>\n<!DOCTYPE score-partwise PUBLIC \"-//X//DTD X//EN\" "
        "\"http://unreachable.invalid/partwise.dtd\" [ <!ENTITY ext SYSTEM "
        "\"file:///etc/passwd\"> ]>\n<score-partwise><part-list><p id=\"&ext;\"/></part-list>"
        "</score-partwise>");
    DomNode node;
    ASSERT_EQ(domSelectSingleNode(document, "//part-list[0]/*", &node), kDomOk);
    DomAttributeMap map;
    DomAttribute id;
    DomText value;
    ASSERT_EQ(domAttributes(node, &map), kDomOk);
    ASSERT_EQ(domNamedItem(map, "id", &id), kDomOk);
    ASSERT_EQ(domAttributeValue(id, &value), kDomOk);
    EXPECT_STREQ(value.c_str(), "&ext;");  // an external entity is never expanded

    DomDocument wide = loadedDocument(
        "wide.xml",
        utf16le("<?xml version=\"1.0\" encoding=\"UTF-16\"?><part-list><x/></part-list>"));
    ASSERT_EQ(domSelectSingleNode(wide, "//part-list[0]/*", &node), kDomOk);
}

TEST(Dom, LoadRefusesSettingsItCannotHonour) {
    DomDocument document;
    ASSERT_EQ(domCreateDocument(&document), kDomOk);
    const std::string path = writeTemp("fine.xml", "<a/>");
    bool loaded = true;
    // A fresh document asks for asynchronous, validating loads that resolve externals.
    EXPECT_EQ(domLoad(document, path.c_str(), &loaded), kDomNotImplemented);
    ASSERT_EQ(domSetAsync(document, false), kDomOk);
    ASSERT_EQ(domSetValidateOnParse(document, false), kDomOk);
    EXPECT_EQ(domLoad(document, path.c_str(), &loaded), kDomNotImplemented);
    ASSERT_EQ(domSetResolveExternals(document, false), kDomOk);
    EXPECT_EQ(domLoad(document, path.c_str(), &loaded), kDomOk);
    EXPECT_TRUE(loaded);
}

TEST(Dom, ReportsAreCutAt1023CharactersOnBothChannels) {
    static std::string copied;
    copied.clear();
    debugOutput = [](const char* text) { copied = text; };
    const std::string longText(3000, 'x');
    Captured captured = capture([&] { debugReport("%s|%d", longText.c_str(), 5); });
    debugOutput = nullptr;
    EXPECT_EQ(captured.out, std::string(1023, 'x'));
    EXPECT_EQ(copied, std::string(1023, 'x'));
    EXPECT_EQ(reportBuffer[1023], '\0');

    // The text is printed, never taken as a format.
    captured = capture([] { debugReport("%s", "100% %s %d"); });
    EXPECT_EQ(captured.out, "100% %s %d");
    EXPECT_EQ(captured.err, "");
}

TEST(Dom, HrcallPassesZeroAndOneAndReportsNegativeStatuses) {
    Captured captured = capture([] {
        EXPECT_TRUE(HRCALL(kDomOk, "m", "c"));
        EXPECT_TRUE(HRCALL(kDomNothing, "m", "c"));
    });
    EXPECT_EQ(captured.out, "");

    bool passed = true;
    int line = 0;
    captured = capture([&] { passed = (line = __LINE__, HRCALL(-2, "msg: ", "p->call(&x)")); });
    EXPECT_FALSE(passed);
    EXPECT_EQ(captured.out, std::string(__FILE__) + ":" + std::to_string(line) +
                                "  HRCALL Failed: msg: \n  0xfffffffe = p->call(&x)\n");
    captured = capture([&] { passed = HRCALL(kDomInvalidArgument, "m", "c"); });
    EXPECT_NE(captured.out.find("\n  0x80070057 = c\n"), std::string::npos);
}

TEST(Dom, EveryStepOfCreatingADocumentCanFailAndIsReported) {
    const std::string steps[][2] = {
        {"Create a new DOMDocument",
         "CoCreateInstance(__uuidof(MSXML2::DOMDocument30), NULL, CLSCTX_INPROC_SERVER, "
         "__uuidof(IXMLDOMDocument), (void**)&pxmldoc)"},
        {"should never fail", "pxmldoc->put_async(VARIANT_FALSE)"},
        {"should never fail", "pxmldoc->put_validateOnParse(VARIANT_FALSE)"},
        {"should never fail", "pxmldoc->put_resolveExternals(VARIANT_FALSE)"},
    };
    const long before = domLiveHandles;
    for (int n = 1; n <= 4; ++n) {
        resetModel();
        domFailCallNumber = n;
        bool created = true;
        Captured captured = capture([&] { created = static_cast<bool>(createDomDocument()); });
        domFailCallNumber = 0;
        EXPECT_FALSE(created);
        HrcallReport report;
        ASSERT_TRUE(parseHrcallReport(captured.out, &report)) << captured.out;
        EXPECT_EQ(report.file.substr(report.file.size() - 18), "/src/score/dom.cpp");
        EXPECT_EQ(report.status, "80004005");
        EXPECT_EQ(report.message, steps[n - 1][0]);
        EXPECT_EQ(report.callText, steps[n - 1][1]);
        EXPECT_EQ(domLiveHandles, before);
    }
    resetModel();
    EXPECT_TRUE(static_cast<bool>(createDomDocument()));
    EXPECT_EQ(domCallsMade, 4);
}

TEST(Dom, AFailingParseErrorCallIsReportedInsteadOfTheReason) {
    const std::string path = writeTemp("broken.xml", "<a><b></a>");
    const std::pair<std::string, std::string> expected[] = {
        {"dom->get_parseError: ", "pDom->get_parseError(&pXMLErr)"},
        {"parseError->get_reason: ", "pXMLErr->get_reason(&bstrReason)"},
    };
    for (int i = 0; i < 2; ++i) {
        resetModel();
        DomDocument document = createDomDocument();
        bool loaded = true;
        ASSERT_EQ(domLoad(document, path.c_str(), &loaded), kDomOk);
        ASSERT_FALSE(loaded);
        const long held = domLiveHandles;
        domFailCallNumber = domCallsMade + 1 + i;
        Captured captured = capture([&] { reportParseError(document, "lead"); });
        domFailCallNumber = 0;
        EXPECT_NE(captured.out.find("  HRCALL Failed: " + expected[i].first +
                                    "\n  0x80004005 = " + expected[i].second + "\n"),
                  std::string::npos)
            << captured.out;
        EXPECT_EQ(captured.out.find("lead"), std::string::npos);
        EXPECT_EQ(domLiveHandles, held);
    }
}
