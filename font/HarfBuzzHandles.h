#pragma once

#include <memory>

// Owning handles of HarfBuzz objects. The types are only declared here, so
// that the layers above see no HarfBuzz header.
struct hb_blob_t;
struct hb_face_t;
struct hb_font_t;
struct hb_buffer_t;
struct hb_subset_input_t;
struct hb_subset_plan_t;

// Releases one reference of a HarfBuzz object.
struct CHarfBuzzRelease {
    void operator()(hb_blob_t* blob) const;
    void operator()(hb_face_t* face) const;
    void operator()(hb_font_t* font) const;
    void operator()(hb_buffer_t* buffer) const;
    void operator()(hb_subset_input_t* input) const;
    void operator()(hb_subset_plan_t* plan) const;
};

using HbBlob = std::unique_ptr<hb_blob_t, CHarfBuzzRelease>;
using HbFace = std::unique_ptr<hb_face_t, CHarfBuzzRelease>;
using HbFont = std::unique_ptr<hb_font_t, CHarfBuzzRelease>;
using HbBuffer = std::unique_ptr<hb_buffer_t, CHarfBuzzRelease>;
using HbSubsetInput = std::unique_ptr<hb_subset_input_t, CHarfBuzzRelease>;
using HbSubsetPlan = std::unique_ptr<hb_subset_plan_t, CHarfBuzzRelease>;
