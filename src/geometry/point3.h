#pragma once

// A point or vector in scene or palm coordinates, single precision.
struct Point3 {
    float x;
    float y;
    float z;
};

// Euclidean length, computed in single precision.
float length(Point3 p);
