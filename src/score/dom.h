#pragma once

// The DOM layer the MusicXML reader walks: a small set of status-returning operations over a
// pugixml document, the HRCALL test of every call, and the two report routines.
//
// Every operation returns a DomStatus: negative on failure, kDomOk on success, kDomNothing on
// success with nothing found (no such child, sibling or attribute). Handles (document, node,
// attribute map, attribute, parse error) and texts are held by value in small move-only records
// that release themselves once, when they go out of scope or are overwritten; the layer counts
// the ones alive so that tests can prove nothing is left held.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <pugixml.hpp>
#include <string>

#include "base/fault_counter.h"

using DomStatus = int32_t;

constexpr DomStatus kDomOk = 0;
constexpr DomStatus kDomNothing = 1;
// A call that failed for no more particular reason (the pattern 0x80004005).
constexpr DomStatus kDomFailure = static_cast<DomStatus>(0x80004005u);
// A call given an argument it cannot act on (the pattern 0x80070057).
constexpr DomStatus kDomInvalidArgument = static_cast<DomStatus>(0x80070057u);
// A document setting this layer cannot honour (the pattern 0x80004001).
constexpr DomStatus kDomNotImplemented = static_cast<DomStatus>(0x80004001u);

// ---- Alive for the whole process. ----
extern char reportBuffer[1024];  // text of the latest report, at most 1023 characters + zero
// Second destination of every report; Linux has no debugger output channel, so it is empty
// (nullptr: the copy is dropped) unless a caller or a test installs one.
extern void (*debugOutput)(const char* text);
// Set by the reader for the length of a quiet load: reports reach debugOutput but not standard
// output.
extern bool quietReports;
extern long domLiveHandles;  // handles and texts held right now, across all documents

// ---- Test hooks: fault injection. Read and written by tests; the program leaves them at 0. ----
extern FaultCounter domFaults;   // fallible DOM calls (create, configure, load, ...)
extern long& domCallsMade;       // domFaults.made
extern long& domFailCallNumber;  // domFaults.failAt: that call fails with kDomFailure

// Keeps domLiveHandles in step with the life of one held handle or text.
struct DomHold {
    bool held = false;
    DomHold() = default;
    DomHold(const DomHold&) = delete;
    DomHold& operator=(const DomHold&) = delete;
    DomHold(DomHold&& other) noexcept : held(other.held) { other.held = false; }
    DomHold& operator=(DomHold&& other) noexcept;
    ~DomHold() { drop(); }
    void take();
    void drop();
};

struct DomDocumentData;  // the parsed document, its file buffer, settings and last load error
struct DomDocumentDataDeleter {
    void operator()(DomDocumentData* data) const;
};

// A DOM document.
struct DomDocument {
    std::unique_ptr<DomDocumentData, DomDocumentDataDeleter> data;
    DomHold hold;
    explicit operator bool() const { return data != nullptr; }
};

// A node of a document: an element, a text, or the document node itself. pugixml keeps the text
// that opens an element inside the element; such a text node is `node` with `embeddedText` set.
struct DomNode {
    pugi::xml_node node;
    bool embeddedText = false;
    DomHold hold;
    explicit operator bool() const { return hold.held; }
};

// The attributes of one element.
struct DomAttributeMap {
    pugi::xml_node owner;
    DomHold hold;
    explicit operator bool() const { return hold.held; }
};

// One attribute of an element.
struct DomAttribute {
    pugi::xml_attribute attribute;
    DomHold hold;
    explicit operator bool() const { return hold.held; }
};

// Why the last load of a document failed.
struct DomParseError {
    const std::string* reason = nullptr;  // owned by the document
    DomHold hold;
    explicit operator bool() const { return hold.held; }
};

// A text: a name, an attribute value or an element's text content. Usually a view into the
// document (valid while the document is held); text assembled from several pieces is owned.
// An absent text (never filled) reads as an empty one.
struct DomText {
    const char* chars = nullptr;  // zero-terminated
    std::string owned;            // storage when the text is not a view
    DomHold hold;
    explicit operator bool() const { return hold.held; }
    const char* c_str() const { return chars != nullptr ? chars : ""; }
};

// ---- Documents ----
DomStatus domCreateDocument(DomDocument* document);
DomStatus domSetAsync(DomDocument& document, bool async);
DomStatus domSetValidateOnParse(DomDocument& document, bool validate);
DomStatus domSetResolveExternals(DomDocument& document, bool resolve);
// Reads and parses the file at `path`; *loaded tells whether the whole file was read and is
// well-formed. A missing, unreadable or malformed file is not a failed call: it leaves *loaded
// false and a reason behind for domGetParseError.
DomStatus domLoad(DomDocument& document, const char* path, bool* loaded);
// The same for a document held in memory: `size` bytes at `bytes`, which the call copies, so
// they need not outlive it. A parse error is placed by line and column as for a file.
DomStatus domLoadBuffer(DomDocument& document, const char* bytes, size_t size, bool* loaded);
DomStatus domGetParseError(const DomDocument& document, DomParseError* error);
DomStatus domGetReason(const DomParseError& error, DomText* reason);
// Answers only the query "//part-list[0]/*": the first child element of the first part-list
// element in document order. Any other query is an invalid argument.
DomStatus domSelectSingleNode(const DomDocument& document, const char* query, DomNode* node);
// Whether the document holds an element called `name` anywhere. Not a fallible call: the reader
// asks it only to word a message after the query found nothing.
bool domHasElement(const DomDocument& document, const char* name);

// ---- Nodes. The result handle may be the argument itself (parent = parent of parent). ----
DomStatus domNodeName(const DomNode& node, DomText* name);
DomStatus domFirstChild(const DomNode& node, DomNode* child);
DomStatus domNextSibling(const DomNode& node, DomNode* sibling);  // not fault-injected
DomStatus domParentNode(const DomNode& node, DomNode* parent);
DomStatus domAttributes(const DomNode& node, DomAttributeMap* map);
DomStatus domNamedItem(const DomAttributeMap& map, const char* name, DomAttribute* attribute);
DomStatus domAttributeValue(const DomAttribute& attribute, DomText* value);
DomStatus domTypedValue(const DomNode& node, DomText* value);

// Releases a handle or text now rather than at the end of its scope.
void domRelease(DomHold& hold);

// ---- Texts ----
// Whole-text comparison ignoring the case of ASCII letters; other bytes must match exactly.
// A null pointer or an absent DomText compares like the empty text.
bool domTextEquals(const char* a, const char* b);
inline bool domTextEquals(const DomText& a, const char* b) {
    return domTextEquals(a.c_str(), b);
}
inline bool domTextEquals(const DomText& a, const DomText& b) {
    return domTextEquals(a.c_str(), b.c_str());
}
// Plain decimal text of value, with a minus sign when negative, into `text` (7 bytes suffice).
void domIntToText(int16_t value, char text[8]);

// ---- Reports ----
// Formats into reportBuffer (cut at 1023 characters), copies it to debugOutput when one is
// installed, then prints it on standard output and flushes.
void debugReport(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Tests the status of a DOM call: a negative status is reported with the file and line of the
// call, the call's message and its call text, and makes this false; 0 and 1 make it true.
bool hrCheck(DomStatus status, const char* file, int line, const char* message,
             const char* callText);
#define HRCALL(call, message, callText) hrCheck((call), __FILE__, __LINE__, (message), (callText))

// Reports why `document` did not load: the lead text, one space, the parser's reason. When
// `reason` is given it receives the parser's reason as well (left alone if none was had).
void reportParseError(const DomDocument& document, const char* lead, std::string* reason = nullptr);

// The parsed tree of a loaded document, taken out of it (the document is left empty and no
// longer counted as held): for readers that walk the tree the reader loaded instead of parsing
// the text again. Texts are trimmed and a text that opens an element is its value. Null when the
// document holds no loaded tree.
std::shared_ptr<const pugi::xml_document> domTakeTree(DomDocument& document);

// Creates a document that loads synchronously, validates nothing and fetches no external
// DTD, entity or schema. Returns an empty document (after a report) when that fails.
DomDocument createDomDocument();
