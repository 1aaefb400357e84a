#include "font/GlyphOutline.h"

#include <hb.h>

#include "font/CFontFace.h"
#include "pdf/PdfFormat.h"

namespace {

// Where the pen is, and how a point in font units becomes one in points.
struct CPathState {
    std::string path;
    double scale, x, y;
    float penX = 0, penY = 0;

    void point(float fontX, float fontY)
    {
        appendFixed(path, x + fontX * scale, 3);
        path += ' ';
        appendFixed(path, y + fontY * scale, 3);
        path += ' ';
    }
};

void moveTo(hb_draw_funcs_t*, void* data, hb_draw_state_t*, float x, float y, void*)
{
    CPathState& state = *static_cast<CPathState*>(data);
    state.point(x, y);
    state.path += "m\n";
    state.penX = x, state.penY = y;
}

void lineTo(hb_draw_funcs_t*, void* data, hb_draw_state_t*, float x, float y, void*)
{
    CPathState& state = *static_cast<CPathState*>(data);
    state.point(x, y);
    state.path += "l\n";
    state.penX = x, state.penY = y;
}

// PDF paths have no quadratic curve: the cubic with the same shape.
void quadraticTo(hb_draw_funcs_t*, void* data, hb_draw_state_t*, float controlX, float controlY, float x, float y,
                 void*)
{
    CPathState& state = *static_cast<CPathState*>(data);
    state.point(state.penX + 2.0f / 3 * (controlX - state.penX), state.penY + 2.0f / 3 * (controlY - state.penY));
    state.point(x + 2.0f / 3 * (controlX - x), y + 2.0f / 3 * (controlY - y));
    state.point(x, y);
    state.path += "c\n";
    state.penX = x, state.penY = y;
}

void cubicTo(hb_draw_funcs_t*, void* data, hb_draw_state_t*, float control1X, float control1Y, float control2X,
             float control2Y, float x, float y, void*)
{
    CPathState& state = *static_cast<CPathState*>(data);
    state.point(control1X, control1Y);
    state.point(control2X, control2Y);
    state.point(x, y);
    state.path += "c\n";
    state.penX = x, state.penY = y;
}

void closePath(hb_draw_funcs_t*, void* data, hb_draw_state_t*, void*) { static_cast<CPathState*>(data)->path += "h\n"; }

// Made once: the functions never change, and HarfBuzz keeps them immutable.
hb_draw_funcs_t* drawFunctions()
{
    static hb_draw_funcs_t* const functions = [] {
        hb_draw_funcs_t* made = hb_draw_funcs_create();
        hb_draw_funcs_set_move_to_func(made, moveTo, nullptr, nullptr);
        hb_draw_funcs_set_line_to_func(made, lineTo, nullptr, nullptr);
        hb_draw_funcs_set_quadratic_to_func(made, quadraticTo, nullptr, nullptr);
        hb_draw_funcs_set_cubic_to_func(made, cubicTo, nullptr, nullptr);
        hb_draw_funcs_set_close_path_func(made, closePath, nullptr, nullptr);
        hb_draw_funcs_make_immutable(made);
        return made;
    }();
    return functions;
}

} // namespace

std::string glyphOutline(const CFontFace& face, uint32_t glyph, double scale, double x, double y)
{
    CPathState state{std::string(), scale, x, y};
    hb_font_get_glyph_shape(face.harfBuzzFont(), glyph, drawFunctions(), &state);
    return state.path;
}
