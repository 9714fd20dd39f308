#include <pango/pangocairo.h>

#include <algorithm>
#include <vector>

#include "../runtime.h"
#include "../toplevel.h"
#include "uilib/core.h"

namespace UiLib {

namespace {

cairo_t* Cairo(HDC hdc) { return hdc ? hdc->cr : nullptr; }

void SetColor(cairo_t* cr, DWORD argb) {
    cairo_set_source_rgba(cr, ((argb >> 16) & 0xFF) / 255.0, ((argb >> 8) & 0xFF) / 255.0, (argb & 0xFF) / 255.0,
                          ((argb >> 24) & 0xFF) / 255.0);
}

}  // namespace

void CRenderEngine::DrawColor(HDC hdc, const RECT& rc, DWORD argb) {
    cairo_t* cr = Cairo(hdc);
    if (!cr || IsRectEmpty(rc) || (argb >> 24) == 0) return;
    cairo_save(cr);
    SetColor(cr, argb);
    cairo_rectangle(cr, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top);
    cairo_fill(cr);
    cairo_restore(cr);
}

void CRenderEngine::DrawText(HDC hdc, const RECT& rc, const wchar_t* text, DWORD argb, int fontSize, bool center) {
    cairo_t* cr = Cairo(hdc);
    if (!cr || !text || !*text || IsRectEmpty(rc)) return;
    cairo_save(cr);
    cairo_rectangle(cr, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top);
    cairo_clip(cr);
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoFontDescription* font = pango_font_description_from_string("Sans");
    pango_font_description_set_absolute_size(font, std::max(fontSize, 1) * PANGO_SCALE);
    pango_layout_set_font_description(layout, font);
    pango_font_description_free(font);
    std::string utf8 = detail::ToUtf8(text);
    pango_layout_set_text(layout, utf8.c_str(), -1);
    pango_layout_set_width(layout, (rc.right - rc.left) * PANGO_SCALE);
    pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
    pango_layout_set_alignment(layout, center ? PANGO_ALIGN_CENTER : PANGO_ALIGN_LEFT);
    int width = 0, height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    double y = rc.top + ((rc.bottom - rc.top) - height) / 2.0;
    cairo_move_to(cr, rc.left, y);
    SetColor(cr, argb);
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
    cairo_restore(cr);
}

void CRenderEngine::DrawImage(HDC hdc, const unsigned char* pixels, int width, int height, int stride,
                              const RECT& dest) {
    cairo_t* cr = Cairo(hdc);
    if (!cr || !pixels || width <= 0 || height <= 0 || stride < width * 4 || IsRectEmpty(dest)) return;
    int cairoStride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, width);
    std::vector<unsigned char> copy;
    const unsigned char* source = pixels;
    if (cairoStride != stride) {
        copy.resize(static_cast<std::size_t>(cairoStride) * height);
        for (int row = 0; row < height; ++row) {
            std::copy_n(pixels + static_cast<std::size_t>(row) * stride, width * 4,
                        copy.data() + static_cast<std::size_t>(row) * cairoStride);
        }
        source = copy.data();
    }
    // Cairo only reads the pixels here; the surface does not outlive the call.
    cairo_surface_t* surface = cairo_image_surface_create_for_data(const_cast<unsigned char*>(source),
                                                                   CAIRO_FORMAT_ARGB32, width, height, cairoStride);
    cairo_save(cr);
    cairo_rectangle(cr, dest.left, dest.top, dest.right - dest.left, dest.bottom - dest.top);
    cairo_clip(cr);
    cairo_translate(cr, dest.left, dest.top);
    cairo_scale(cr, static_cast<double>(dest.right - dest.left) / width,
                static_cast<double>(dest.bottom - dest.top) / height);
    cairo_set_source_surface(cr, surface, 0, 0);
    cairo_paint(cr);
    cairo_restore(cr);
    cairo_surface_destroy(surface);
}

}  // namespace UiLib
