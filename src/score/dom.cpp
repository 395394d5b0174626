#include "score/dom.h"

// The parser's DTD functions (amplification limits) are declared only with this defined.
#define XML_DTD
#include <expat.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "base/bounded_file.h"

char reportBuffer[1024];
void (*debugOutput)(const char* text) = nullptr;
long domLiveHandles = 0;
bool quietReports = false;
FaultCounter domFaults;
long& domCallsMade = domFaults.made;
long& domFailCallNumber = domFaults.failAt;

struct DomDocumentData {
    pugi::xml_document xml;
    // The file's bytes. pugixml parses them in place and keeps its strings inside them, so they
    // live exactly as long as the parsed tree.
    char* buffer = nullptr;
    // Settings a caller may ask for. Loading is always synchronous, never validates and never
    // fetches anything outside the file, so a load refuses to run while one of them is on.
    bool async = true;
    bool validateOnParse = true;
    bool resolveExternals = true;
    std::string reason;  // why the last load did not produce a document

    ~DomDocumentData() { dropContents(); }
    void dropContents() {
        xml.reset();
        std::free(buffer);
        buffer = nullptr;
    }
};

void DomDocumentDataDeleter::operator()(DomDocumentData* data) const {
    delete data;
}

DomHold& DomHold::operator=(DomHold&& other) noexcept {
    if (this != &other) {
        drop();
        held = other.held;
        other.held = false;
    }
    return *this;
}

void DomHold::take() {
    if (!held) {
        held = true;
        ++domLiveHandles;
    }
}

void DomHold::drop() {
    if (held) {
        held = false;
        --domLiveHandles;
    }
}

void domRelease(DomHold& hold) {
    hold.drop();
}

namespace {

// Counts one fallible call and tells whether the test hook wants it to fail.
bool injectFailure() {
    return domFaults.fails();
}

// The parser keeps no whitespace-only text between elements, no comments and no processing
// instructions, stores an element's leading text in the element itself, trims element texts and
// normalises attribute values. It knows only the five predefined entities and character
// references; a DOCTYPE is skipped, never followed. Every text that is kept is a child node like
// any element (the first child of <clef>G</clef> is the text "G"); a leading text stored in its
// element is handed out as a node of its own (DomNode::embeddedText).
constexpr unsigned kParseOptions = pugi::parse_cdata | pugi::parse_escapes | pugi::parse_eol |
                                   pugi::parse_wconv_attribute | pugi::parse_wnorm_attribute |
                                   pugi::parse_trim_pcdata | pugi::parse_embed_pcdata;

void setNode(DomNode* out, pugi::xml_node node, bool embeddedText = false) {
    out->node = node;
    out->embeddedText = embeddedText;
    if (node) {
        out->hold.take();
    } else {
        out->hold.drop();
    }
}

void setView(DomText* out, const char* chars) {
    out->owned.clear();
    out->chars = chars;
    out->hold.take();
}

void setOwned(DomText* out, std::string text) {
    out->owned = std::move(text);
    out->chars = out->owned.c_str();
    out->hold.take();
}

bool isXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Decodes the file's characters one by one in the encoding pugixml detected, so that a parse
// error's offset (counted in UTF-8 bytes of the text pugixml parsed) can be turned back into a
// line and a column of the file as the user sees it.
struct CharReader {
    const unsigned char* bytes;
    size_t size;
    size_t at = 0;
    pugi::xml_encoding encoding;

    // Next code point and its length in UTF-8; false at the end.
    bool next(uint32_t* codePoint, size_t* utf8Length) {
        uint32_t c = 0;
        switch (encoding) {
            case pugi::encoding_utf16_le:
            case pugi::encoding_utf16_be: {
                if (at + 2 > size) {
                    return false;
                }
                c = unit16(at);
                at += 2;
                if (c >= 0xD800 && c < 0xDC00 && at + 2 <= size) {
                    at += 2;  // a surrogate pair: one character, four UTF-8 bytes
                    *codePoint = 0x10000;
                    *utf8Length = 4;
                    return true;
                }
                break;
            }
            case pugi::encoding_utf32_le:
            case pugi::encoding_utf32_be: {
                if (at + 4 > size) {
                    return false;
                }
                const bool little = encoding == pugi::encoding_utf32_le;
                for (int i = 0; i < 4; ++i) {
                    c = (c << 8) | bytes[at + (little ? 3 - i : i)];
                }
                at += 4;
                break;
            }
            case pugi::encoding_latin1:
                if (at >= size) {
                    return false;
                }
                c = bytes[at++];
                break;
            default: {  // UTF-8: a lead byte and its continuation bytes
                if (at >= size) {
                    return false;
                }
                const size_t start = at;
                c = bytes[at++];
                while (at < size && (bytes[at] & 0xC0) == 0x80) {
                    ++at;
                }
                *utf8Length = at - start;
                const bool byteOrderMark = *utf8Length == 3 && c == 0xEF &&
                                           bytes[start + 1] == 0xBB && bytes[start + 2] == 0xBF;
                // Only line breaks and the byte order mark matter; other characters count as one.
                *codePoint = byteOrderMark ? 0xFEFF : c < 0x80 ? c : 0x80;
                return true;
            }
        }
        *codePoint = c;
        *utf8Length = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
        return true;
    }

    uint32_t unit16(size_t i) const {
        return encoding == pugi::encoding_utf16_le ? bytes[i] | (bytes[i + 1] << 8)
                                                   : (bytes[i] << 8) | bytes[i + 1];
    }
};

// Line and column (both from 1, the column in characters) of a parse error's offset.
void errorPosition(const char* data, size_t size, pugi::xml_encoding encoding, ptrdiff_t offset,
                   long* line, long* column) {
    CharReader reader{reinterpret_cast<const unsigned char*>(data), size, 0, encoding};
    *line = 1;
    *column = 1;
    size_t position = 0;
    bool afterReturn = false;
    uint32_t c;
    size_t length;
    while (position < static_cast<size_t>(offset) && reader.next(&c, &length)) {
        const bool byteOrderMark = position == 0 && c == 0xFEFF;
        position += length;
        if (c == '\n' && afterReturn) {
            afterReturn = false;  // the second half of a CR LF pair
        } else if (c == '\n' || c == '\r') {
            ++*line;
            *column = 1;
            afterReturn = c == '\r';
        } else if (!byteOrderMark) {
            ++*column;
            afterReturn = false;
        }
    }
}

// ---- Well-formedness ----
// pugixml parses fast but forgives much (text after the root element, duplicate attributes, a
// bare '&', control characters, invalid UTF-8, "--" in a comment, ...), so expat checks the
// document first and the load takes its verdict. The DOM declares and expands no entity and
// fetches nothing, and expat is set up to match: it never sees the internal subset (blanked
// out), parameter entities are never parsed, no external entity is opened, a default handler
// keeps every reference in text as it is, and should anything still be expanded, the
// amplification limit stops it at the first byte.

// The encoding pugixml will choose for these bytes, told the way it tells it: a byte order mark,
// the first character written in UTF-16 or UTF-32, or an ISO-8859-1 declaration.
pugi::xml_encoding detectEncoding(const unsigned char* b, size_t size, size_t* markLength) {
    *markLength = 0;
    if (size >= 4) {
        if (b[0] == 0 && b[1] == 0 && b[2] == 0xFE && b[3] == 0xFF) {
            *markLength = 4;
            return pugi::encoding_utf32_be;
        }
        if (b[0] == 0xFF && b[1] == 0xFE && b[2] == 0 && b[3] == 0) {
            *markLength = 4;
            return pugi::encoding_utf32_le;
        }
    }
    if (size >= 2 && b[0] == 0xFE && b[1] == 0xFF) {
        *markLength = 2;
        return pugi::encoding_utf16_be;
    }
    if (size >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
        *markLength = 2;
        return pugi::encoding_utf16_le;
    }
    if (size >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
        *markLength = 3;
        return pugi::encoding_utf8;
    }
    if (size >= 4) {
        if (b[0] == 0 && b[1] == 0 && b[2] == 0 && b[3] == 0x3C) {
            return pugi::encoding_utf32_be;
        }
        if (b[0] == 0x3C && b[1] == 0 && b[2] == 0 && b[3] == 0) {
            return pugi::encoding_utf32_le;
        }
    }
    if (size >= 2 && b[0] == 0 && b[1] == 0x3C) {
        return pugi::encoding_utf16_be;
    }
    if (size >= 2 && b[0] == 0x3C && b[1] == 0) {
        return pugi::encoding_utf16_le;
    }
    if (size >= 5 && std::memcmp(b, "<?xml", 5) == 0) {
        // The declaration's encoding, if it is one of pugixml's two names for ISO-8859-1.
        const char* text = reinterpret_cast<const char*>(b);
        const char* end = static_cast<const char*>(std::memchr(text, '>', size));
        const std::string declaration(text, end != nullptr ? end - text : size < 256 ? size : 256);
        const size_t at = declaration.find("encoding");
        const size_t quote = at == std::string::npos ? at : declaration.find_first_of("\"'", at);
        if (quote != std::string::npos) {
            const size_t close = declaration.find(declaration[quote], quote + 1);
            const std::string name = declaration.substr(quote + 1, close - quote - 1);
            if (domTextEquals(name.c_str(), "iso-8859-1") ||
                domTextEquals(name.c_str(), "latin1")) {
                return pugi::encoding_latin1;
            }
        }
    }
    return pugi::encoding_utf8;
}

// UTF-16 or UTF-32 text after its byte order mark as UTF-8. A unit that is no character (a lone
// surrogate, a value beyond U+10FFFF) becomes the byte 0xFF, which expat refuses at its place.
std::string wideToUtf8(const unsigned char* b, size_t size, pugi::xml_encoding encoding) {
    const bool wide32 = encoding == pugi::encoding_utf32_le || encoding == pugi::encoding_utf32_be;
    const bool little = encoding == pugi::encoding_utf16_le || encoding == pugi::encoding_utf32_le;
    const size_t unit = wide32 ? 4 : 2;
    const auto read = [&](size_t i) {
        uint32_t value = 0;
        for (size_t k = 0; k < unit; ++k) {
            value = (value << 8) | b[i + (little ? unit - 1 - k : k)];
        }
        return value;
    };
    std::string out;
    out.reserve(size / unit + 16);
    size_t i = 0;
    for (; i + unit <= size; i += unit) {
        uint32_t c = read(i);
        if (!wide32 && c >= 0xD800 && c < 0xDC00 && i + 4 <= size) {
            const uint32_t low = read(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000 && !(c >= 0xD800 && c < 0xE000)) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c >= 0x10000 && c <= 0x10FFFF) {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xFF));
        }
    }
    if (i < size) {
        out.push_back(static_cast<char>(0xFF));  // half a character at the end
    }
    return out;
}

bool startsAt(const char* text, size_t length, size_t at, const char* prefix) {
    const size_t n = std::strlen(prefix);
    return at + n <= length && std::memcmp(text + at, prefix, n) == 0;
}

// Position just past the first `close` at or after `at`, or `length` + 1 when there is none.
size_t pastNext(const char* text, size_t length, size_t at, const char* close) {
    const size_t n = std::strlen(close);
    for (size_t i = at; i + n <= length; ++i) {
        if (std::memcmp(text + i, close, n) == 0) {
            return i + n;
        }
    }
    return length + 1;
}

// The end of the document type declaration starting at `at`, and whether it has an internal
// subset (the only place a document can declare entities); false when it never ends.
bool doctypeEnd(const char* text, size_t length, size_t at, size_t* end, bool* subset) {
    *subset = false;
    for (size_t i = at + 9; i < length; ++i) {
        const char c = text[i];
        if (c == '"' || c == '\'') {
            const char* close =
                static_cast<const char*>(std::memchr(text + i + 1, c, length - i - 1));
            if (close == nullptr) {
                return false;
            }
            i = static_cast<size_t>(close - text);
        } else if (c == '[' && !*subset) {
            *subset = true;
            for (++i; i < length && text[i] != ']'; ++i) {
                if (startsAt(text, length, i, "<!--")) {
                    i = pastNext(text, length, i + 4, "-->") - 1;
                } else if (startsAt(text, length, i, "<?")) {
                    i = pastNext(text, length, i + 2, "?>") - 1;
                } else if (text[i] == '"' || text[i] == '\'') {
                    const char* close = static_cast<const char*>(
                        std::memchr(text + i + 1, text[i], length - i - 1));
                    if (close == nullptr) {
                        return false;
                    }
                    i = static_cast<size_t>(close - text);
                }
            }
            if (i >= length) {
                return false;
            }
        } else if (c == '>') {
            *end = i + 1;
            return true;
        }
    }
    return false;
}

// The parts of the prolog expat must not see, as [begin, end) spans: a document type
// declaration with an internal subset (the DOM declares nothing), and an XML declaration
// repeated after the start (as when two documents were pasted together), which the DOM passes
// over like any processing instruction.
std::vector<std::pair<size_t, size_t>> prologToBlank(const char* text, size_t length) {
    std::vector<std::pair<size_t, size_t>> spans;
    size_t at = 0;
    while (at < length) {
        while (at < length && isXmlSpace(text[at])) {
            ++at;
        }
        if (startsAt(text, length, at, "<!--")) {
            at = pastNext(text, length, at + 4, "-->");
        } else if (startsAt(text, length, at, "<?")) {
            const size_t end = pastNext(text, length, at + 2, "?>");
            const bool declaration = startsAt(text, length, at, "<?xml") && at + 5 < length &&
                                     (isXmlSpace(text[at + 5]) || text[at + 5] == '?');
            if (declaration && at > 0 && end <= length) {
                spans.emplace_back(at, end);
            }
            at = end;
        } else if (startsAt(text, length, at, "<!DOCTYPE")) {
            size_t end = 0;
            bool subset = false;
            if (!doctypeEnd(text, length, at, &end, &subset)) {
                break;
            }
            if (subset) {
                spans.emplace_back(at, end);
            }
            at = end;
        } else {
            break;
        }
    }
    return spans;
}

// The text with those spans blanked out: every character becomes one space, line breaks stay,
// so expat still counts lines and columns as they are in the file.
std::string blankSpans(const char* text, size_t length,
                       const std::vector<std::pair<size_t, size_t>>& spans, bool utf8) {
    std::string blanked;
    blanked.reserve(length);
    size_t from = 0;
    for (const auto& [begin, end] : spans) {
        blanked.append(text + from, begin - from);
        for (size_t i = begin; i < end; ++i) {
            const unsigned char c = static_cast<unsigned char>(text[i]);
            if (c == '\n' || c == '\r') {
                blanked.push_back(static_cast<char>(c));
            } else if (!utf8 || (c & 0xC0) != 0x80) {
                blanked.push_back(' ');
            }
        }
        from = end;
    }
    blanked.append(text + from, length - from);
    return blanked;
}

void swallow(void*, const XML_Char*, int) {}

// True when the bytes are well-formed XML; otherwise false and why, with the line and column
// (from 1, in characters, a byte order mark not counted) where expat stopped.
bool checkWellFormed(const char* data, size_t size, std::string* reason) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data);
    size_t mark = 0;
    const pugi::xml_encoding encoding = detectEncoding(bytes, size, &mark);
    std::string converted;
    const char* text = data + mark;
    size_t length = size - mark;
    const char* protocol = encoding == pugi::encoding_latin1 ? "ISO-8859-1" : "UTF-8";
    if (encoding != pugi::encoding_utf8 && encoding != pugi::encoding_latin1) {
        converted = wideToUtf8(bytes + mark, size - mark, encoding);
        text = converted.data();
        length = converted.size();
    }
    const std::vector<std::pair<size_t, size_t>> spans = prologToBlank(text, length);
    if (!spans.empty()) {
        converted = blankSpans(text, length, spans, encoding != pugi::encoding_latin1);
        text = converted.data();
        length = converted.size();
    }
    XML_Parser parser = XML_ParserCreate(protocol);
    if (parser == nullptr) {
        *reason = std::strerror(ENOMEM);
        return false;
    }
    XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_NEVER);
    XML_SetDefaultHandler(parser, swallow);
    // As if the document named an external subset that is never read: a reference to an entity
    // nobody declared is then no error (unless the document says it is standalone), and stays
    // the literal text the DOM gives it.
    XML_UseForeignDTD(parser, XML_TRUE);
    // No amplification limit of our own: the internal subset is blanked, so nothing can expand
    // beyond itself, and a limit of 1 would refuse the predefined "&amp;" of "Piano &amp; Voice".
    // Expat's own guard stays at its defaults.
    // One call per gigabyte at most: expat takes an int length.
    constexpr size_t kPiece = size_t{1} << 30;
    bool wellFormed = true;
    size_t at = 0;
    do {
        const size_t piece = length - at < kPiece ? length - at : kPiece;
        const bool last = at + piece == length;
        if (XML_Parse(parser, text + at, static_cast<int>(piece), last ? XML_TRUE : XML_FALSE) !=
            XML_STATUS_OK) {
            wellFormed = false;
            break;
        }
        at += piece;
    } while (at < length);
    if (!wellFormed) {
        char where[64];
        std::snprintf(where, sizeof where, " at line %lu, column %lu",
                      static_cast<unsigned long>(XML_GetCurrentLineNumber(parser)),
                      static_cast<unsigned long>(XML_GetCurrentColumnNumber(parser)) + 1);
        *reason = std::string(XML_ErrorString(XML_GetErrorCode(parser))) + where;
    }
    XML_ParserFree(parser);
    return wellFormed;
}

void appendTextContent(pugi::xml_node node, std::string* text) {
    // Iterative, so that deep nesting cannot exhaust the stack.
    const pugi::xml_node top = node;
    while (node) {
        if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata ||
            node.type() == pugi::node_element) {
            text->append(node.value());
        }
        if (node.first_child()) {
            node = node.first_child();
            continue;
        }
        while (node && node != top && !node.next_sibling()) {
            node = node.parent();
        }
        if (!node || node == top) {
            break;
        }
        node = node.next_sibling();
    }
}

}  // namespace

DomStatus domCreateDocument(DomDocument* document) {
    if (injectFailure()) {
        return kDomFailure;
    }
    if (document == nullptr) {
        return kDomInvalidArgument;
    }
    document->data.reset(new (std::nothrow) DomDocumentData);
    if (!document->data) {
        document->hold.drop();
        return kDomFailure;
    }
    document->hold.take();
    return kDomOk;
}

DomStatus domSetAsync(DomDocument& document, bool async) {
    if (injectFailure()) {
        return kDomFailure;
    }
    if (!document) {
        return kDomInvalidArgument;
    }
    document.data->async = async;
    return kDomOk;
}

DomStatus domSetValidateOnParse(DomDocument& document, bool validate) {
    if (injectFailure()) {
        return kDomFailure;
    }
    if (!document) {
        return kDomInvalidArgument;
    }
    document.data->validateOnParse = validate;
    return kDomOk;
}

DomStatus domSetResolveExternals(DomDocument& document, bool resolve) {
    if (injectFailure()) {
        return kDomFailure;
    }
    if (!document) {
        return kDomInvalidArgument;
    }
    document.data->resolveExternals = resolve;
    return kDomOk;
}

namespace {

// Clears the document before a load and checks that it may run; false with the status to return.
bool beginLoad(DomDocument& document, bool argumentsGiven, bool* loaded, DomStatus* status) {
    if (injectFailure()) {
        *status = kDomFailure;
        return false;
    }
    if (!document || !argumentsGiven || loaded == nullptr) {
        *status = kDomInvalidArgument;
        return false;
    }
    DomDocumentData& data = *document.data;
    if (data.async || data.validateOnParse || data.resolveExternals) {
        *status = kDomNotImplemented;
        return false;
    }
    *loaded = false;
    data.dropContents();
    data.reason.clear();
    return true;
}

// Parses the `size` bytes of data.buffer in place. A parse error is placed by line and column
// in `original` (the same bytes as they were before the parse), or, when that is null, in the
// bytes of the file at `path` read again.
void parseLoaded(DomDocumentData& data, size_t size, const char* original, size_t originalSize,
                 const char* path, bool* loaded) {
    // expat reads the bytes before pugixml parses them in place. When both refuse the document,
    // pugixml's reason is the one given, as it always was.
    std::string malformed;
    const bool wellFormed = checkWellFormed(data.buffer, size, &malformed);
    const pugi::xml_parse_result result =
        data.xml.load_buffer_inplace(data.buffer, size, kParseOptions, pugi::encoding_auto);
    if (result && wellFormed) {
        *loaded = true;
        return;
    }
    if (result) {
        data.dropContents();
        data.reason = malformed;
        return;
    }
    const std::string description = result.description();
    data.dropContents();
    char* reread = nullptr;
    if (original == nullptr && path != nullptr && readBoundedFile(path, &reread, &originalSize)) {
        original = reread;
    }
    if (original != nullptr) {
        long line;
        long column;
        errorPosition(original, originalSize, result.encoding, result.offset, &line, &column);
        char where[64];
        std::snprintf(where, sizeof where, " at line %ld, column %ld", line, column);
        data.reason = description + where;
    } else {
        data.reason = description;
    }
    std::free(reread);
}

}  // namespace

DomStatus domLoad(DomDocument& document, const char* path, bool* loaded) {
    DomStatus status = kDomOk;
    if (!beginLoad(document, path != nullptr, loaded, &status)) {
        return status;
    }
    DomDocumentData& data = *document.data;
    size_t size = 0;
    if (!readBoundedFile(path, &data.buffer, &size)) {
        data.reason = unreadableFile(errno);
        return kDomOk;
    }
    // The parse writes into the buffer; the file is read again to place an error.
    parseLoaded(data, size, nullptr, 0, path, loaded);
    return kDomOk;
}

DomStatus domLoadBuffer(DomDocument& document, const char* bytes, size_t size, bool* loaded) {
    DomStatus status = kDomOk;
    if (!beginLoad(document, bytes != nullptr || size == 0, loaded, &status)) {
        return status;
    }
    DomDocumentData& data = *document.data;
    if (size > kMaxFileBytes) {
        data.reason = unreadableFile(EFBIG);
        return kDomOk;
    }
    // pugixml parses in place and keeps its strings in the buffer, so it gets a copy of its own;
    // the caller's bytes stay as they were and place a parse error.
    data.buffer = static_cast<char*>(std::malloc(size + 1));
    if (data.buffer == nullptr) {
        data.reason = unreadableFile(ENOMEM);
        return kDomOk;
    }
    if (size != 0) {
        std::memcpy(data.buffer, bytes, size);
    }
    parseLoaded(data, size, bytes, size, nullptr, loaded);
    return kDomOk;
}

DomStatus domGetParseError(const DomDocument& document, DomParseError* error) {
    if (injectFailure()) {
        return kDomFailure;
    }
    if (!document || error == nullptr) {
        return kDomInvalidArgument;
    }
    error->reason = &document.data->reason;
    error->hold.take();
    return kDomOk;
}

DomStatus domGetReason(const DomParseError& error, DomText* reason) {
    if (injectFailure()) {
        return kDomFailure;
    }
    if (!error || reason == nullptr) {
        return kDomInvalidArgument;
    }
    setOwned(reason, *error.reason);
    return kDomOk;
}

namespace {

// The first element called `name` in document order (a preorder walk), or none.
pugi::xml_node firstElementNamed(const DomDocument& document, const char* name) {
    pugi::xml_node at = document.data->xml.first_child();
    while (at && !(at.type() == pugi::node_element && std::strcmp(at.name(), name) == 0)) {
        if (at.first_child()) {
            at = at.first_child();
            continue;
        }
        while (at && !at.next_sibling()) {
            at = at.parent();
        }
        if (at) {
            at = at.next_sibling();
        }
    }
    return at;
}

}  // namespace

bool domHasElement(const DomDocument& document, const char* name) {
    return document && name != nullptr && firstElementNamed(document, name);
}

DomStatus domSelectSingleNode(const DomDocument& document, const char* query, DomNode* node) {
    if (injectFailure()) {
        return kDomFailure;
    }
    if (!document || query == nullptr || node == nullptr ||
        std::strcmp(query, "//part-list[0]/*") != 0) {
        return kDomInvalidArgument;
    }
    const pugi::xml_node at = firstElementNamed(document, "part-list");
    pugi::xml_node entry = at ? at.first_child() : pugi::xml_node();
    while (entry && entry.type() != pugi::node_element) {
        entry = entry.next_sibling();
    }
    setNode(node, entry);
    return entry ? kDomOk : kDomNothing;
}

DomStatus domNodeName(const DomNode& node, DomText* name) {
    if (injectFailure()) {
        return kDomFailure;
    }
    if (!node || name == nullptr) {
        return kDomInvalidArgument;
    }
    // Names of nodes other than elements start with '#', which no element name can.
    if (node.embeddedText) {
        setView(name, "#text");
        return kDomOk;
    }
    switch (node.node.type()) {
        case pugi::node_element:
            setView(name, node.node.name());
            break;
        case pugi::node_pcdata:
            setView(name, "#text");
            break;
        case pugi::node_cdata:
            setView(name, "#cdata-section");
            break;
        case pugi::node_comment:
            setView(name, "#comment");
            break;
        case pugi::node_document:
            setView(name, "#document");
            break;
        default:
            setView(name, "#other");
            break;
    }
    return kDomOk;
}

DomStatus domFirstChild(const DomNode& node, DomNode* child) {
    if (injectFailure()) {
        return kDomFailure;
    }
    if (!node || child == nullptr) {
        return kDomInvalidArgument;
    }
    const pugi::xml_node at = node.node;
    if (!node.embeddedText && at.type() == pugi::node_element && at.value()[0] != '\0') {
        setNode(child, at, true);  // the leading text the element holds
        return kDomOk;
    }
    const pugi::xml_node first = node.embeddedText ? pugi::xml_node() : at.first_child();
    setNode(child, first);
    return first ? kDomOk : kDomNothing;
}

DomStatus domNextSibling(const DomNode& node, DomNode* sibling) {
    if (!node || sibling == nullptr) {
        return kDomInvalidArgument;
    }
    // After an element's leading text comes the element's first child node.
    const pugi::xml_node next =
        node.embeddedText ? node.node.first_child() : node.node.next_sibling();
    setNode(sibling, next);
    return next ? kDomOk : kDomNothing;
}

DomStatus domParentNode(const DomNode& node, DomNode* parent) {
    if (injectFailure()) {
        return kDomFailure;
    }
    if (!node || parent == nullptr) {
        return kDomInvalidArgument;
    }
    const pugi::xml_node up = node.embeddedText ? node.node : node.node.parent();
    setNode(parent, up);
    return up ? kDomOk : kDomNothing;
}

DomStatus domAttributes(const DomNode& node, DomAttributeMap* map) {
    if (injectFailure()) {
        return kDomFailure;
    }
    if (!node || map == nullptr) {
        return kDomInvalidArgument;
    }
    map->owner = node.embeddedText ? pugi::xml_node() : node.node;  // a text has none
    map->hold.take();
    return kDomOk;
}

DomStatus domNamedItem(const DomAttributeMap& map, const char* name, DomAttribute* attribute) {
    if (injectFailure()) {
        return kDomFailure;
    }
    if (!map || name == nullptr || attribute == nullptr) {
        return kDomInvalidArgument;
    }
    attribute->attribute = map.owner.attribute(name);
    if (!attribute->attribute) {
        attribute->hold.drop();
        return kDomNothing;
    }
    attribute->hold.take();
    return kDomOk;
}

DomStatus domAttributeValue(const DomAttribute& attribute, DomText* value) {
    if (injectFailure()) {
        return kDomFailure;
    }
    if (!attribute || value == nullptr) {
        return kDomInvalidArgument;
    }
    setView(value, attribute.attribute.value());
    return kDomOk;
}

DomStatus domTypedValue(const DomNode& node, DomText* value) {
    if (injectFailure()) {
        return kDomFailure;
    }
    if (!node || value == nullptr) {
        return kDomInvalidArgument;
    }
    const pugi::xml_node n = node.node;
    if (!n.first_child() || node.embeddedText) {
        setView(value, n.value());  // the common case: a leaf holding its own trimmed text
        return kDomOk;
    }
    std::string text;
    appendTextContent(n, &text);
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && isXmlSpace(text[begin])) {
        ++begin;
    }
    while (end > begin && isXmlSpace(text[end - 1])) {
        --end;
    }
    setOwned(value, text.substr(begin, end - begin));
    return kDomOk;
}

namespace {
unsigned char foldAscii(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}
}  // namespace

bool domTextEquals(const char* a, const char* b) {
    a = a != nullptr ? a : "";
    b = b != nullptr ? b : "";
    // The reader compares every element name it meets against a few candidates, so equal bytes
    // are passed over without folding and folding is done only where the bytes differ.
    for (;; ++a, ++b) {
        const unsigned char x = static_cast<unsigned char>(*a);
        const unsigned char y = static_cast<unsigned char>(*b);
        if (x != y && foldAscii(x) != foldAscii(y)) {
            return false;
        }
        if (x == 0) {
            return true;
        }
    }
}

void domIntToText(int16_t value, char text[8]) {
    // By hand rather than through snprintf: the reader converts every number of the score.
    int magnitude = value < 0 ? -static_cast<int>(value) : value;
    char digits[6];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude > 0);
    int at = 0;
    if (value < 0) {
        text[at++] = '-';
    }
    while (count > 0) {
        text[at++] = digits[--count];
    }
    text[at] = '\0';
}

void debugReport(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    // vsnprintf cuts at sizeof - 1 characters and always writes the terminating zero.
    std::vsnprintf(reportBuffer, sizeof reportBuffer, format, arguments);
    va_end(arguments);
    if (debugOutput != nullptr) {
        debugOutput(reportBuffer);
    }
    if (quietReports) {
        return;
    }
    std::printf("%s", reportBuffer);
    std::fflush(stdout);
}

bool hrCheck(DomStatus status, const char* file, int line, const char* message,
             const char* callText) {
    if (status >= 0) {
        return true;
    }
    debugReport("%s:%d  HRCALL Failed: %s\n  0x%.8x = %s\n", file, line, message,
                static_cast<unsigned>(status), callText);
    return false;
}

void reportParseError(const DomDocument& document, const char* lead, std::string* reason) {
    DomParseError pXMLErr;
    if (!HRCALL(domGetParseError(document, &pXMLErr),
                "dom->get_parseError: ", "pDom->get_parseError(&pXMLErr)")) {
        return;
    }
    DomText bstrReason;
    if (!HRCALL(domGetReason(pXMLErr, &bstrReason),
                "parseError->get_reason: ", "pXMLErr->get_reason(&bstrReason)")) {
        return;
    }
    debugReport("%s %s\n", lead, bstrReason.c_str());
    if (reason != nullptr) {
        *reason = bstrReason.c_str();
    }
}

DomDocument createDomDocument() {
    DomDocument pxmldoc;
    if (!HRCALL(domCreateDocument(&pxmldoc), "Create a new DOMDocument",
                "CoCreateInstance(__uuidof(MSXML2::DOMDocument30), NULL, CLSCTX_INPROC_SERVER, "
                "__uuidof(IXMLDOMDocument), (void**)&pxmldoc)")) {
        return DomDocument{};
    }
    if (!HRCALL(domSetAsync(pxmldoc, false), "should never fail",
                "pxmldoc->put_async(VARIANT_FALSE)")) {
        return DomDocument{};
    }
    if (!HRCALL(domSetValidateOnParse(pxmldoc, false), "should never fail",
                "pxmldoc->put_validateOnParse(VARIANT_FALSE)")) {
        return DomDocument{};
    }
    if (!HRCALL(domSetResolveExternals(pxmldoc, false), "should never fail",
                "pxmldoc->put_resolveExternals(VARIANT_FALSE)")) {
        return DomDocument{};
    }
    return pxmldoc;
}

std::shared_ptr<const pugi::xml_document> domTakeTree(DomDocument& document) {
    if (!document || !document.data->xml.first_child()) {
        return nullptr;
    }
    // The tree and the buffer its strings live in leave together, and go together.
    std::shared_ptr<DomDocumentData> owner(document.data.release(), DomDocumentDataDeleter());
    document.hold.drop();
    return std::shared_ptr<const pugi::xml_document>(owner, &owner->xml);
}
