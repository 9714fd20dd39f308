/* Saves the whole X screen (or one pixel's colour) for tests and benchmarks:
     qm_xshot <file.png>     the root window as PNG
     qm_xshot --pixel X Y    prints "R G B" of one screen pixel
     qm_xshot --rect X Y W H prints "R G B" of each pixel of a rectangle,
                             a line each, row by row                        */
#include <gdk/gdk.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: xshot <file.png> | --pixel X Y | --rect X Y W H\n");
        return 2;
    }
    gdk_set_allowed_backends("x11");
    if (!gdk_init_check(&argc, &argv)) {
        fprintf(stderr, "xshot: no display\n");
        return 1;
    }
    GdkWindow* root = gdk_get_default_root_window();
    int w = gdk_window_get_width(root), h = gdk_window_get_height(root);
    if (strcmp(argv[1], "--pixel") == 0 && argc >= 4) {
        int x = atoi(argv[2]), y = atoi(argv[3]);
        GdkPixbuf* one = gdk_pixbuf_get_from_window(root, x, y, 1, 1);
        if (!one) return 1;
        const guchar* p = gdk_pixbuf_get_pixels(one);
        printf("%d %d %d\n", p[0], p[1], p[2]);
        g_object_unref(one);
        return 0;
    }
    if (strcmp(argv[1], "--rect") == 0 && argc >= 6) {
        int x = atoi(argv[2]), y = atoi(argv[3]), rw = atoi(argv[4]), rh = atoi(argv[5]);
        if (rw <= 0 || rh <= 0) return 2;
        GdkPixbuf* area = gdk_pixbuf_get_from_window(root, x, y, rw, rh);
        if (!area) return 1;
        const guchar* pixels = gdk_pixbuf_get_pixels(area);
        int stride = gdk_pixbuf_get_rowstride(area), channels = gdk_pixbuf_get_n_channels(area);
        for (int row = 0; row < rh; ++row) {
            for (int col = 0; col < rw; ++col) {
                const guchar* p = pixels + row * stride + col * channels;
                printf("%d %d %d\n", p[0], p[1], p[2]);
            }
        }
        g_object_unref(area);
        return 0;
    }
    GdkPixbuf* shot = gdk_pixbuf_get_from_window(root, 0, 0, w, h);
    if (!shot) return 1;
    GError* error = NULL;
    gboolean ok = gdk_pixbuf_save(shot, argv[1], "png", &error, NULL);
    if (!ok) fprintf(stderr, "xshot: %s\n", error ? error->message : "save failed");
    g_object_unref(shot);
    return ok ? 0 : 1;
}
