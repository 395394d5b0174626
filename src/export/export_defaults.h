#pragma once

// What an export makes unless the command line says otherwise; the options and the exporter's
// request both start from these.
constexpr int kDefaultFrameWidth = 1280;  // pixels
constexpr int kDefaultFrameHeight = 720;  // pixels
constexpr int kDefaultFps = 60;           // frames per second of a video
