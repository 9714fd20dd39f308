/* Plays, for tests, the user's mouse on a Wayland compositor that lets a
   client add a pointer device of its own (wlroots' virtual pointer: sway),
   and the desktop's launcher, which hands a program it starts an activation
   token (xdg-activation):
     qm_wlpointer WIDTH HEIGHT      the output layout's size in logical pixels
   then reads commands from standard input, one a line:
     move X Y                       the pointer to the layout point X,Y
     down | up                      the first button pressed or released
     token                          a new activation token
   and answers "ok" (for "token": "ok TOKEN") once the compositor has handled
   each (a round trip), or "error ..." and exits 1. The device lives until
   standard input ends. The compositor turns it into real pointer events for
   the surface under it. */
#include <linux/input-event-codes.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <wayland-client.h>

#include "virtual-pointer-unstable-v1-client-protocol.h"
#include "xdg-activation-v1-client-protocol.h"

static struct zwlr_virtual_pointer_manager_v1* manager;
static struct xdg_activation_v1* activation;
static struct wl_seat* seat;
static char token[512];
static int tokenDone;

static void TokenDone(void* data, struct xdg_activation_token_v1* object, const char* value) {
    (void)data;
    (void)object;
    snprintf(token, sizeof token, "%s", value);
    tokenDone = 1;
}

static const struct xdg_activation_token_v1_listener kToken = {TokenDone};

static void Global(void* data, struct wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
    (void)data;
    (void)version;
    if (strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0)
        manager = wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1);
    else if (strcmp(interface, xdg_activation_v1_interface.name) == 0)
        activation = wl_registry_bind(registry, name, &xdg_activation_v1_interface, 1);
    else if (strcmp(interface, wl_seat_interface.name) == 0 && !seat)
        seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
}

static void GlobalRemove(void* data, struct wl_registry* registry, uint32_t name) {
    (void)data;
    (void)registry;
    (void)name;
}

static const struct wl_registry_listener kRegistry = {Global, GlobalRemove};

static uint32_t NowMs(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint32_t)(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
}

int main(int argc, char** argv) {
    unsigned width = 0, height = 0;
    if (argc != 3 || sscanf(argv[1], "%u", &width) != 1 || sscanf(argv[2], "%u", &height) != 1) {
        fprintf(stderr, "usage: qm_wlpointer WIDTH HEIGHT\n");
        return 2;
    }
    struct wl_display* display = wl_display_connect(NULL);
    if (!display) {
        printf("error no display\n");
        return 1;
    }
    struct wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistry, NULL);
    wl_display_roundtrip(display);
    if (!manager) {
        printf("error the compositor has no virtual pointer\n");
        return 1;
    }
    struct zwlr_virtual_pointer_v1* pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager, seat);
    wl_display_roundtrip(display);
    printf("ok\n");
    fflush(stdout);
    char line[256];
    while (fgets(line, sizeof line, stdin)) {
        unsigned x = 0, y = 0;
        if (strncmp(line, "token", 5) == 0) {
            // As a launcher asks for one: no surface, no input serial.
            if (!activation) {
                printf("error the compositor has no activation\n");
                return 1;
            }
            tokenDone = 0;
            struct xdg_activation_token_v1* request = xdg_activation_v1_get_activation_token(activation);
            xdg_activation_token_v1_add_listener(request, &kToken, NULL);
            xdg_activation_token_v1_set_app_id(request, "qm_main");
            xdg_activation_token_v1_commit(request);
            while (!tokenDone)
                if (wl_display_dispatch(display) < 0) {
                    printf("error the compositor went away\n");
                    return 1;
                }
            xdg_activation_token_v1_destroy(request);
            printf("ok %s\n", token);
            fflush(stdout);
            continue;
        }
        if (sscanf(line, "move %u %u", &x, &y) == 2) {
            zwlr_virtual_pointer_v1_motion_absolute(pointer, NowMs(), x, y, width, height);
        } else if (strncmp(line, "down", 4) == 0 || strncmp(line, "up", 2) == 0) {
            zwlr_virtual_pointer_v1_button(pointer, NowMs(), BTN_LEFT,
                                           line[0] == 'd' ? WL_POINTER_BUTTON_STATE_PRESSED
                                                          : WL_POINTER_BUTTON_STATE_RELEASED);
        } else {
            printf("error unknown command\n");
            fflush(stdout);
            return 1;
        }
        zwlr_virtual_pointer_v1_frame(pointer);
        if (wl_display_roundtrip(display) < 0) {
            printf("error the compositor went away\n");
            return 1;
        }
        printf("ok\n");
        fflush(stdout);
    }
    zwlr_virtual_pointer_v1_destroy(pointer);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}
