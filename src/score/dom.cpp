#include "score/dom.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

char reportBuffer[1024];
void (*debugOutput)(const char* text) = nullptr;
long domLiveHandles = 0;
long domCallsMade = 0;
long domFailCallNumber = 0;

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
    ++domCallsMade;
    return domFailCallNumber != 0 && domCallsMade == domFailCallNumber;
}

// The parser keeps no whitespace-only text between elements, no comments and no processing
// instructions, stores an element's leading text in the element itself, trims element texts and
// normalises attribute values. It knows only the five predefined entities and character
// references; a DOCTYPE is skipped, never followed.
constexpr unsigned kParseOptions = pugi::parse_cdata | pugi::parse_escapes | pugi::parse_eol |
                                   pugi::parse_wconv_attribute | pugi::parse_wnorm_attribute |
                                   pugi::parse_trim_pcdata | pugi::parse_embed_pcdata;

void setNode(DomNode* out, pugi::xml_node node) {
    out->node = node;
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

// Largest score file we read: 256 MiB, some twenty times the largest piano scores, and with the
// parsed tree about three times that in memory. A file beyond it, or an endless stream such as
// /dev/zero or a pipe that never closes its end, fails with EFBIG instead of filling memory.
constexpr size_t kMaxFileBytes = size_t{256} << 20;

// Reads the whole file into a malloc'd buffer. On failure returns false with errno set.
bool readWholeFile(const char* path, char** data, size_t* size) {
    *data = nullptr;
    *size = 0;
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return false;
    }
    size_t capacity = 1 << 16;
    struct stat info;
    if (fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        if (static_cast<uint64_t>(info.st_size) > kMaxFileBytes) {
            std::fclose(file);
            errno = EFBIG;
            return false;
        }
        capacity = static_cast<size_t>(info.st_size) + 1;  // +1 sees the end in one pass
    }
    char* buffer = static_cast<char*>(std::malloc(capacity));
    size_t used = 0;
    int error = 0;
    while (buffer != nullptr) {
        used += std::fread(buffer + used, 1, capacity - used, file);
        if (used < capacity) {
            break;  // end of file or an error, told apart below
        }
        if (used > kMaxFileBytes) {
            error = EFBIG;  // a stream that grew past the limit, or never ends
            break;
        }
        const size_t larger = capacity * 2 > kMaxFileBytes + 1 ? kMaxFileBytes + 1 : capacity * 2;
        char* grown = static_cast<char*>(std::realloc(buffer, larger));
        if (grown == nullptr) {
            error = ENOMEM;
            break;
        }
        buffer = grown;
        capacity = larger;
    }
    if (buffer == nullptr) {
        error = ENOMEM;
    }
    if (error == 0 && std::ferror(file) != 0) {
        error = errno;
    }
    const bool failed = error != 0;
    std::fclose(file);
    if (failed) {
        std::free(buffer);
        errno = error;
        return false;
    }
    *data = buffer;
    *size = used;
    return true;
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
    const pugi::xml_parse_result result =
        data.xml.load_buffer_inplace(data.buffer, size, kParseOptions, pugi::encoding_auto);
    if (result) {
        *loaded = true;
        return;
    }
    const std::string description = result.description();
    data.dropContents();
    char* reread = nullptr;
    if (original == nullptr && path != nullptr && readWholeFile(path, &reread, &originalSize)) {
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
    if (!readWholeFile(path, &data.buffer, &size)) {
        data.reason = std::string("the file cannot be read (") + std::strerror(errno) + ")";
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
        data.reason = std::string("the file cannot be read (") + std::strerror(EFBIG) + ")";
        return kDomOk;
    }
    // pugixml parses in place and keeps its strings in the buffer, so it gets a copy of its own;
    // the caller's bytes stay as they were and place a parse error.
    data.buffer = static_cast<char*>(std::malloc(size + 1));
    if (data.buffer == nullptr) {
        data.reason = std::string("the file cannot be read (") + std::strerror(ENOMEM) + ")";
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

DomStatus domSelectSingleNode(const DomDocument& document, const char* query, DomNode* node) {
    if (injectFailure()) {
        return kDomFailure;
    }
    if (!document || query == nullptr || node == nullptr ||
        std::strcmp(query, "//part-list[0]/*") != 0) {
        return kDomInvalidArgument;
    }
    // Document order is a preorder walk; the first part-list found is the one.
    pugi::xml_node at = document.data->xml.first_child();
    while (at && !(at.type() == pugi::node_element && std::strcmp(at.name(), "part-list") == 0)) {
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
    const pugi::xml_node first = node.node.first_child();
    setNode(child, first);
    return first ? kDomOk : kDomNothing;
}

DomStatus domNextSibling(const DomNode& node, DomNode* sibling) {
    if (!node || sibling == nullptr) {
        return kDomInvalidArgument;
    }
    const pugi::xml_node next = node.node.next_sibling();
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
    const pugi::xml_node up = node.node.parent();
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
    map->owner = node.node;
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
    if (!n.first_child()) {
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

void reportParseError(const DomDocument& document, const char* lead) {
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
