#pragma once

#include <string>

// The resource names one run gives its image and graphics state, and the
// font a text drawn by each page's own content names instead of an image.
struct CResourceNames {
    std::string image;
    std::string state;
    std::string font;
    std::string layer; // the optional content group the drawing is marked with
};
