#include "font/HarfBuzzHandles.h"

#include <hb-subset.h>
#include <hb.h>

void CHarfBuzzRelease::operator()(hb_blob_t* blob) const { hb_blob_destroy(blob); }

void CHarfBuzzRelease::operator()(hb_face_t* face) const { hb_face_destroy(face); }

void CHarfBuzzRelease::operator()(hb_font_t* font) const { hb_font_destroy(font); }

void CHarfBuzzRelease::operator()(hb_buffer_t* buffer) const { hb_buffer_destroy(buffer); }

void CHarfBuzzRelease::operator()(hb_subset_input_t* input) const { hb_subset_input_destroy(input); }

void CHarfBuzzRelease::operator()(hb_subset_plan_t* plan) const { hb_subset_plan_destroy(plan); }
