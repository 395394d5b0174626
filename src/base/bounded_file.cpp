#include "base/bounded_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// A buffer that grows to a capacity and is cut to what was read: a std::string, or malloc'd
// memory for a caller that hands it on.
struct TextBuffer {
    std::string* text;
    char* grow(size_t capacity) {
        text->resize(capacity);
        return &(*text)[0];
    }
    void finish(size_t used) { text->resize(used); }
    void drop() {
        text->clear();
        text->shrink_to_fit();
    }
};

struct MallocBuffer {
    char* data = nullptr;
    char* grow(size_t capacity) {
        char* grown = static_cast<char*>(std::realloc(data, capacity));
        if (grown != nullptr) {
            data = grown;
        }
        return grown;
    }
    void finish(size_t) {}
    void drop() {
        std::free(data);
        data = nullptr;
    }
};

// Reads the file whole, in one read when its size is known: the buffer is sized to the file and
// one byte more, so that the end is seen without a second allocation.
template <typename Buffer>
bool readInto(const char* path, Buffer* buffer, size_t* size) {
    *size = 0;
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return false;
    }
    size_t capacity = size_t{1} << 16;
    struct stat info;
    if (fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        if (static_cast<uint64_t>(info.st_size) > kMaxFileBytes) {
            std::fclose(file);
            errno = EFBIG;
            return false;
        }
        capacity = static_cast<size_t>(info.st_size) + 1;
    }
    char* data = buffer->grow(capacity);
    size_t used = 0;
    int error = 0;
    while (data != nullptr) {
        used += std::fread(data + used, 1, capacity - used, file);
        if (used < capacity) {
            break;  // end of file or an error, told apart below
        }
        if (used > kMaxFileBytes) {
            error = EFBIG;  // a stream that grew past the limit, or never ends
            break;
        }
        const size_t larger = capacity * 2 > kMaxFileBytes + 1 ? kMaxFileBytes + 1 : capacity * 2;
        data = buffer->grow(larger);
        if (data == nullptr) {
            error = ENOMEM;
            break;
        }
        capacity = larger;
    }
    if (data == nullptr) {
        error = ENOMEM;
    }
    if (error == 0 && std::ferror(file) != 0) {
        error = errno != 0 ? errno : EIO;
    }
    std::fclose(file);
    if (error != 0) {
        buffer->drop();
        errno = error;
        return false;
    }
    buffer->finish(used);
    *size = used;
    return true;
}

}  // namespace

bool readBoundedFile(const char* path, std::string* bytes) {
    bytes->clear();
    TextBuffer buffer{bytes};
    size_t size = 0;
    return readInto(path, &buffer, &size);
}

bool readBoundedFile(const char* path, char** data, size_t* size) {
    MallocBuffer buffer;
    const bool read = readInto(path, &buffer, size);
    *data = read ? buffer.data : nullptr;
    if (read) {
        (*data)[*size] = '\0';  // a read stops short of its buffer's capacity
    }
    return read;
}

std::string unreadableFile(int errorNumber) {
    return std::string("the file cannot be read (") + std::strerror(errorNumber) + ")";
}
