#include "export/png_file.h"

#include <png.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>

#include "export/faults.h"
#include "export/output_file.h"

namespace {
// libpng reports its errors by jumping back here; the message is kept for the caller.
struct PngJump {
    std::jmp_buf jump;
    char message[200];
};

void onPngError(png_structp png, png_const_charp message) {
    PngJump* jump = static_cast<PngJump*>(png_get_error_ptr(png));
    std::snprintf(jump->message, sizeof jump->message, "%s", message);
    std::longjmp(jump->jump, 1);
}

void onPngWarning(png_structp, png_const_charp) {}

// Writes the rows into an open file. Only plain data lives in this function's frame, because
// libpng leaves it with a long jump on failure. Returns 0, or the errno of a failed write
// (EIO when libpng failed without one), with libpng's message in jump->message.
int writeRows(std::FILE* file, int width, int height, const uint8_t* rgba, uint8_t* row,
              PngJump* jump) {
    png_structp png = nullptr;
    png_infop info = nullptr;
    if (exportCallFails() || (png = png_create_write_struct(PNG_LIBPNG_VER_STRING, jump, onPngError,
                                                            onPngWarning)) == nullptr) {
        std::snprintf(jump->message, sizeof jump->message, "libpng could not start");
        return ENOMEM;
    }
    if (exportCallFails() || (info = png_create_info_struct(png)) == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        std::snprintf(jump->message, sizeof jump->message, "libpng could not start");
        return ENOMEM;
    }
    if (setjmp(jump->jump) != 0) {
        png_destroy_write_struct(&png, &info);
        return errno != 0 ? errno : EIO;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) {
        const uint8_t* source = rgba + static_cast<size_t>(y) * width * 4;
        for (int x = 0; x < width; ++x) {
            row[x * 3] = source[x * 4];
            row[x * 3 + 1] = source[x * 4 + 1];
            row[x * 3 + 2] = source[x * 4 + 2];
        }
        if (exportCallFails()) {
            errno = EIO;
            png_error(png, "writing a row failed");
        }
        png_write_row(png, row);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return 0;
}
}  // namespace

bool writePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgba,
              std::string* error) {
    if (width <= 0 || height <= 0 ||
        rgba.size() != static_cast<size_t>(width) * static_cast<size_t>(height) * 4) {
        *error = "the picture has no pixels or the wrong number of them";
        return false;
    }
    const std::string temporary = temporaryPathFor(path);
    const int fd = createTemporary(temporary, error);
    if (fd < 0) {
        return false;
    }
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        *error = systemReason(errno);
        close(fd);
        discardOutput(temporary.c_str());
        return false;
    }
    std::vector<uint8_t> row(static_cast<size_t>(width) * 3);
    PngJump jump;
    jump.message[0] = '\0';
    errno = 0;
    int failed = writeRows(file, width, height, rgba.data(), row.data(), &jump);
    // A full disk often shows only when the buffered tail is written out.
    if (failed == 0) {
        if (exportCallFails()) {
            failed = ENOSPC;
        } else if (std::fflush(file) != 0) {
            failed = errno != 0 ? errno : EIO;
        }
    }
    if (std::fclose(file) != 0 && failed == 0) {
        failed = errno != 0 ? errno : EIO;
    }
    if (failed != 0) {
        discardOutput(temporary.c_str());
        *error = systemReason(failed);
        return false;
    }
    std::string reason;
    if (!publishOutput(temporary, path, &reason)) {
        *error = reason;
        return false;
    }
    return true;
}

bool readPng(const std::string& path, int* width, int* height, std::vector<uint8_t>* rgb,
             std::string* error) {
    png_image image = {};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path.c_str()) == 0) {
        *error = "cannot read " + path + ": " + image.message;
        return false;
    }
    image.format = PNG_FORMAT_RGB;
    rgb->assign(PNG_IMAGE_SIZE(image), 0);
    if (png_image_finish_read(&image, nullptr, rgb->data(), 0, nullptr) == 0) {
        *error = "cannot read " + path + ": " + image.message;
        png_image_free(&image);
        return false;
    }
    *width = static_cast<int>(image.width);
    *height = static_cast<int>(image.height);
    return true;
}
