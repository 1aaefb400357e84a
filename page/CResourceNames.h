#pragma once

#include <string>

// The resource names one run gives its image and graphics state, and the
// font a text drawn by each page's own content names instead of an image.
struct CResourceNames {
    std::string image;
    std::string state;
    std::string font;
    std::string layer; // the optional content group the drawing is marked with

    // The name of variant `variant` of the image (a page of a stamp PDF for
    // each page of the input): every variant is named in every stamped
    // page's resources, since pages may share one resource dictionary.
    std::string imageVariant(int variant) const
    {
        return variant == 0 ? image : image + "_" + std::to_string(variant + 1);
    }
};
