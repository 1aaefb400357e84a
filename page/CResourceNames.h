#pragma once

#include <string>

// The resource names one run gives its image and graphics state.
struct CResourceNames {
    std::string image;
    std::string state;
};
