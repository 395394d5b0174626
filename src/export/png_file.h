#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writes a picture of width x height pixels, given as RGBA rows from the top edge down, as an
// 8-bit RGB PNG file (the alpha channel is dropped: the drawing's background is opaque black).
// The file appears under `path` only when complete. false with a one-line reason in *error (no
// newline) when it cannot be written; nothing is then left behind.
bool writePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgba,
              std::string* error);

// Reads an 8-bit RGB or RGBA PNG into RGB rows from the top down. false with a reason when it is
// not such a file.
bool readPng(const std::string& path, int* width, int* height, std::vector<uint8_t>* rgb,
             std::string* error);
