#include "prepare/container.h"

#include <zip.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pugixml.hpp>
#include <utility>

#include "base/bounded_file.h"

FaultCounter containerZipFaults;
long& containerZipCallsMade = containerZipFaults.made;
long& containerFailZipCall = containerZipFaults.failAt;

namespace {

// Where an archive names its root file.
constexpr const char* kContainerName = "META-INF/container.xml";
// Largest container.xml we read: a few hundred bytes in practice.
constexpr size_t kMaxContainerBytes = size_t{1} << 20;
// Bytes inflated per read from an archive's entry.
constexpr size_t kReadChunk = size_t{64} << 10;

// Counts one libzip call and tells whether the test hook wants it to fail.
bool zipCallFails() {
    return containerZipFaults.fails();
}

std::string zipCodeText(int code) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    std::string text = zip_error_strerror(&error);
    zip_error_fini(&error);
    return text;
}

const std::string& injectedText() {
    static const std::string text = zipCodeText(ZIP_ER_INTERNAL);
    return text;
}

bool fail(std::string* error, const std::string& reason) {
    *error = reason;
    return false;
}

std::string quoted(const std::string& name) {
    return "\"" + name + "\"";
}

bool startsWith(const std::string& text, const char* prefix, size_t length) {
    return text.size() >= length && std::memcmp(text.data(), prefix, length) == 0;
}

bool endsWithIgnoringCase(const std::string& text, const std::string& suffix) {
    if (text.size() < suffix.size()) {
        return false;
    }
    for (size_t i = 0; i < suffix.size(); ++i) {
        char c = text[text.size() - suffix.size() + i];
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        if (c != suffix[i]) {
            return false;
        }
    }
    return true;
}

bool isZip(const std::string& bytes) {
    return startsWith(bytes, "PK\x03\x04", 4) || startsWith(bytes, "PK\x05\x06", 4);
}

// ---- Text encodings ----

enum class Encoding { Utf8, Utf16Le, Utf16Be, Utf32Le, Utf32Be };

// The encoding of a text from its byte order mark or, without one, from how its first
// character "<" is written; *skip is the length of the mark.
Encoding detectEncoding(const std::string& bytes, size_t* skip) {
    const auto at = [&](size_t i) -> int {
        return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : -1;
    };
    *skip = 0;
    if (at(0) == 0x00 && at(1) == 0x00 && at(2) == 0xFE && at(3) == 0xFF) {
        *skip = 4;
        return Encoding::Utf32Be;
    }
    if (at(0) == 0xFF && at(1) == 0xFE && at(2) == 0x00 && at(3) == 0x00) {
        *skip = 4;
        return Encoding::Utf32Le;
    }
    if (at(0) == 0xFE && at(1) == 0xFF) {
        *skip = 2;
        return Encoding::Utf16Be;
    }
    if (at(0) == 0xFF && at(1) == 0xFE) {
        *skip = 2;
        return Encoding::Utf16Le;
    }
    if (at(0) == 0x00 && at(1) == 0x00 && at(2) == 0x00 && at(3) == 0x3C) {
        return Encoding::Utf32Be;
    }
    if (at(0) == 0x3C && at(1) == 0x00 && at(2) == 0x00 && at(3) == 0x00) {
        return Encoding::Utf32Le;
    }
    if (at(0) == 0x00 && at(1) == 0x3C) {
        return Encoding::Utf16Be;
    }
    if (at(0) == 0x3C && at(1) == 0x00) {
        return Encoding::Utf16Le;
    }
    return Encoding::Utf8;
}

void appendUtf8(uint32_t c, std::string* out) {
    if (c < 0x80) {
        out->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (c >> 6)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (c >> 12)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (c >> 18)));
        out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// The text from byte `start` on, in UTF-16 or UTF-32, as UTF-8.
bool wideToUtf8(const std::string& bytes, size_t start, Encoding encoding, std::string* out,
                std::string* error) {
    const bool wide32 = encoding == Encoding::Utf32Le || encoding == Encoding::Utf32Be;
    const bool little = encoding == Encoding::Utf16Le || encoding == Encoding::Utf32Le;
    const size_t unit = wide32 ? 4 : 2;
    const char* name = wide32 ? "UTF-32" : "UTF-16";
    if ((bytes.size() - start) % unit != 0) {
        return fail(error, std::string("the score's ") + name + " text ends in half a character");
    }
    const auto read = [&](size_t i) {
        uint32_t value = 0;
        for (size_t k = 0; k < unit; ++k) {
            const uint32_t byte =
                static_cast<unsigned char>(bytes[i + (little ? unit - 1 - k : k)]);
            value = (value << 8) | byte;
        }
        return value;
    };
    out->clear();
    out->reserve((bytes.size() - start) / unit + 16);
    for (size_t i = start; i < bytes.size(); i += unit) {
        uint32_t c = read(i);
        if (!wide32 && c >= 0xD800 && c < 0xDC00 && i + 2 < bytes.size()) {
            const uint32_t low = read(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if ((c >= 0xD800 && c < 0xE000) || c > 0x10FFFF) {
            char where[96];
            std::snprintf(where, sizeof where,
                          "the score's %s text holds an invalid character at byte %zu", name, i);
            out->clear();
            return fail(error, where);
        }
        appendUtf8(c, out);
    }
    return true;
}

// Makes the XML declaration at the start of `xml`, if it names an encoding, name UTF-8.
void declareUtf8(std::string* xml) {
    if (xml->compare(0, 5, "<?xml") != 0) {
        return;
    }
    const size_t end = xml->find("?>");
    const size_t name = xml->find("encoding", 5);
    if (end == std::string::npos || name == std::string::npos || name > end) {
        return;
    }
    size_t at = name + 8;
    while (at < end && ((*xml)[at] == ' ' || (*xml)[at] == '\t' || (*xml)[at] == '\r' ||
                        (*xml)[at] == '\n' || (*xml)[at] == '=')) {
        ++at;
    }
    if (at >= end || ((*xml)[at] != '"' && (*xml)[at] != '\'')) {
        return;
    }
    const size_t close = xml->find((*xml)[at], at + 1);
    if (close == std::string::npos || close > end) {
        return;
    }
    xml->replace(at + 1, close - at - 1, "UTF-8");
}

// The text as UTF-8: UTF-8 as it is, UTF-16 and UTF-32 converted.
bool textToUtf8(const std::string& bytes, std::string* xml, std::string* error) {
    size_t skip = 0;
    const Encoding encoding = detectEncoding(bytes, &skip);
    if (encoding == Encoding::Utf8) {
        *xml = bytes;
        return true;
    }
    if (!wideToUtf8(bytes, skip, encoding, xml, error)) {
        return false;
    }
    declareUtf8(xml);
    return true;
}

// ---- Archives ----

// An archive opened over bytes in memory; discarded (never written) when it goes.
struct Archive {
    zip_t* zip = nullptr;
    Archive() = default;
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;
    ~Archive() {
        if (zip != nullptr) {
            zip_discard(zip);
        }
    }
};

// One entry opened for reading.
struct EntryReader {
    zip_file_t* file = nullptr;
    EntryReader() = default;
    EntryReader(const EntryReader&) = delete;
    EntryReader& operator=(const EntryReader&) = delete;
    ~EntryReader() {
        if (file != nullptr) {
            zip_fclose(file);
        }
    }
};

bool openArchive(const std::string& bytes, Archive* archive, std::string* error) {
    const std::string lead = "the compressed score is not a readable zip archive (";
    zip_error_t zipError;
    zip_error_init(&zipError);
    if (zipCallFails()) {
        return fail(error, lead + injectedText() + ")");
    }
    zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &zipError);
    if (source == nullptr) {
        const std::string text = zip_error_strerror(&zipError);
        zip_error_fini(&zipError);
        return fail(error, lead + text + ")");
    }
    if (zipCallFails()) {
        zip_source_free(source);
        return fail(error, lead + injectedText() + ")");
    }
    archive->zip = zip_open_from_source(source, ZIP_RDONLY, &zipError);
    if (archive->zip == nullptr) {
        zip_source_free(source);
        const std::string text = zip_error_strerror(&zipError);
        zip_error_fini(&zipError);
        return fail(error, lead + text + ")");
    }
    zip_error_fini(&zipError);
    return true;
}

// A name that stays inside the archive: relative, without a ".." step.
bool isSafeName(const std::string& name) {
    if (name.empty() || name[0] == '/' || name[0] == '\\' || (name.size() >= 2 && name[1] == ':')) {
        return false;
    }
    size_t begin = 0;
    while (begin <= name.size()) {
        size_t end = name.find_first_of("/\\", begin);
        if (end == std::string::npos) {
            end = name.size();
        }
        if (name.compare(begin, end - begin, "..") == 0 && end - begin == 2) {
            return false;
        }
        begin = end + 1;
    }
    return true;
}

// Inflates entry `index` (called `name`) into *text, refusing more than `limit` bytes whatever
// its header claims.
bool readEntry(Archive& archive, zip_uint64_t index, const std::string& name, size_t limit,
               std::string* text, std::string* error) {
    const std::string lead = "the file " + quoted(name) + " in the compressed score ";
    zip_stat_t info;
    zip_stat_init(&info);
    if (zipCallFails()) {
        return fail(error, lead + "cannot be read (" + injectedText() + ")");
    }
    if (zip_stat_index(archive.zip, index, 0, &info) != 0) {
        return fail(error, lead + "cannot be read (" +
                               zip_error_strerror(zip_get_error(archive.zip)) + ")");
    }
    if ((info.valid & ZIP_STAT_ENCRYPTION_METHOD) != 0 && info.encryption_method != ZIP_EM_NONE) {
        return fail(error, lead + "is encrypted");
    }
    if ((info.valid & ZIP_STAT_SIZE) != 0 && info.size > limit) {
        return fail(error, lead + "inflates to more than " + std::to_string(limit) + " bytes");
    }
    EntryReader entry;
    if (zipCallFails()) {
        return fail(error, lead + "cannot be read (" + injectedText() + ")");
    }
    entry.file = zip_fopen_index(archive.zip, index, 0);
    if (entry.file == nullptr) {
        return fail(error, lead + "cannot be read (" +
                               zip_error_strerror(zip_get_error(archive.zip)) + ")");
    }
    text->clear();
    if ((info.valid & ZIP_STAT_SIZE) != 0) {
        text->reserve(static_cast<size_t>(info.size));
    }
    char chunk[kReadChunk];
    for (;;) {
        if (zipCallFails()) {
            text->clear();
            return fail(error, lead + "cannot be read (" + injectedText() + ")");
        }
        const zip_int64_t got = zip_fread(entry.file, chunk, sizeof chunk);
        if (got < 0) {
            text->clear();
            return fail(error, lead + "cannot be read (" +
                                   zip_error_strerror(zip_file_get_error(entry.file)) + ")");
        }
        if (got == 0) {
            return true;
        }
        if (text->size() + static_cast<size_t>(got) > limit) {
            text->clear();
            text->shrink_to_fit();
            return fail(error, lead + "inflates to more than " + std::to_string(limit) + " bytes");
        }
        text->append(chunk, static_cast<size_t>(got));
    }
}

// Index of the entry called `name`: true and *found false when there is none.
bool locate(Archive& archive, const char* name, zip_uint64_t* index, bool* found,
            std::string* error) {
    if (zipCallFails()) {
        return fail(error,
                    std::string("the compressed score cannot be read (") + injectedText() + ")");
    }
    const zip_int64_t at = zip_name_locate(archive.zip, name, 0);
    *found = at >= 0;
    if (at >= 0) {
        *index = static_cast<zip_uint64_t>(at);
        return true;
    }
    if (zip_error_code_zip(zip_get_error(archive.zip)) != ZIP_ER_NOENT) {
        return fail(error, std::string("the compressed score cannot be read (") +
                               zip_error_strerror(zip_get_error(archive.zip)) + ")");
    }
    return true;
}

// The root file's name from container.xml.
bool rootFromContainer(const std::string& container, std::string* root, std::string* error) {
    pugi::xml_document document;
    if (!document.load_buffer(container.data(), container.size())) {
        return fail(error, std::string(kContainerName) + " is not well-formed XML");
    }
    const pugi::xml_node rootfile = document.find_node([](pugi::xml_node node) {
        const char* name = node.name();
        const char* colon = std::strrchr(name, ':');
        return node.type() == pugi::node_element &&
               std::strcmp(colon != nullptr ? colon + 1 : name, "rootfile") == 0;
    });
    *root = rootfile.attribute("full-path").value();
    if (root->empty()) {
        return fail(error, std::string(kContainerName) + " names no root file");
    }
    return true;
}

// Without container.xml: the first MusicXML file outside META-INF.
bool firstScoreEntry(Archive& archive, zip_uint64_t* index, std::string* root, std::string* error) {
    if (zipCallFails()) {
        return fail(error,
                    std::string("the compressed score cannot be read (") + injectedText() + ")");
    }
    const zip_int64_t count = zip_get_num_entries(archive.zip, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        if (zipCallFails()) {
            return fail(
                error, std::string("the compressed score cannot be read (") + injectedText() + ")");
        }
        const char* name = zip_get_name(archive.zip, static_cast<zip_uint64_t>(i), 0);
        if (name == nullptr) {
            return fail(error, std::string("the compressed score cannot be read (") +
                                   zip_error_strerror(zip_get_error(archive.zip)) + ")");
        }
        const std::string entry = name;
        if (entry.compare(0, 9, "META-INF/") == 0 ||
            !(endsWithIgnoringCase(entry, ".xml") || endsWithIgnoringCase(entry, ".musicxml"))) {
            continue;
        }
        *index = static_cast<zip_uint64_t>(i);
        *root = entry;
        return true;
    }
    return fail(error, "the compressed score holds no MusicXML file");
}

bool readArchive(const std::string& bytes, std::string* xml, std::string* error) {
    Archive archive;
    if (!openArchive(bytes, &archive, error)) {
        return false;
    }
    zip_uint64_t index = 0;
    bool found = false;
    if (!locate(archive, kContainerName, &index, &found, error)) {
        return false;
    }
    std::string root;
    if (found) {
        std::string container;
        if (!readEntry(archive, index, kContainerName, kMaxContainerBytes, &container, error) ||
            !rootFromContainer(container, &root, error)) {
            return false;
        }
        if (!isSafeName(root)) {
            return fail(error, "the root file " + quoted(root) + " lies outside the archive");
        }
        if (!locate(archive, root.c_str(), &index, &found, error)) {
            return false;
        }
        if (!found) {
            return fail(error, "the root file " + quoted(root) + " named by " + kContainerName +
                                   " is not in the archive");
        }
    } else if (!firstScoreEntry(archive, &index, &root, error)) {
        return false;
    } else if (!isSafeName(root)) {
        return fail(error, "the root file " + quoted(root) + " lies outside the archive");
    }
    std::string text;
    if (!readEntry(archive, index, root, kMaxScoreTextBytes, &text, error)) {
        return false;
    }
    return textToUtf8(text, xml, error);
}

}  // namespace

bool readScoreBytes(const std::string& path, std::string* bytes, std::string* error) {
    if (!readBoundedFile(path.c_str(), bytes)) {
        return fail(error, unreadableFile(errno));
    }
    return true;
}

bool readScoreTextFromMemory(const std::string& bytes, std::string* xml, std::string* error) {
    xml->clear();
    error->clear();
    const bool read = isZip(bytes) ? readArchive(bytes, xml, error) : textToUtf8(bytes, xml, error);
    if (!read) {
        xml->clear();
    }
    return read;
}

bool readScoreText(const std::string& path, std::string* xml, std::string* error) {
    xml->clear();
    error->clear();
    std::string bytes;
    if (!readScoreBytes(path, &bytes, error)) {
        return false;
    }
    if (endsWithIgnoringCase(path, ".mxl") && !isZip(bytes)) {
        return fail(error, "the file is named .mxl but is not a compressed score (zip archive)");
    }
    size_t skip = 0;
    if (!isZip(bytes) && detectEncoding(bytes, &skip) == Encoding::Utf8) {
        *xml = std::move(bytes);  // UTF-8 text as it is: handed on, not copied
        return true;
    }
    return readScoreTextFromMemory(bytes, xml, error);
}

ScoreText::~ScoreText() {
    std::free(read_);
}

bool readScoreText(const std::string& path, ScoreText* text, std::string* error) {
    std::free(text->read_);
    text->read_ = nullptr;
    text->readSize_ = 0;
    text->converted_.clear();
    error->clear();
    char* data = nullptr;
    size_t size = 0;
    if (!readBoundedFile(path.c_str(), &data, &size)) {
        return fail(error, unreadableFile(errno));
    }
    // Whether it is an archive and how it is encoded shows in its first four bytes.
    const std::string head(data, size < 4 ? size : 4);
    size_t skip = 0;
    if (endsWithIgnoringCase(path, ".mxl") && !isZip(head)) {
        std::free(data);
        return fail(error, "the file is named .mxl but is not a compressed score (zip archive)");
    }
    if (!isZip(head) && detectEncoding(head, &skip) == Encoding::Utf8 && size > 0) {
        text->read_ = data;  // UTF-8 text as it is: handed on, not copied
        text->readSize_ = size;
        return true;
    }
    const std::string bytes(data, size);
    std::free(data);
    if (!readScoreTextFromMemory(bytes, &text->converted_, error)) {
        text->converted_.clear();
        return false;
    }
    return true;
}
