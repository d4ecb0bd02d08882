/* A pointer for tests under a wlroots compositor, through its virtual-pointer
 * protocol: real pointer input, as the compositor routes it to whatever
 * surface is under the point.
 *
 *   camora-test-pointer WIDTH HEIGHT
 *
 * WIDTH x HEIGHT is the output's size in logical pixels, the space in which
 * the commands' points lie. Commands come one a line on standard input:
 * "move X Y", "down", "up", "tap X Y"; each is answered with "ok" on standard
 * output once the compositor has had it, "error" when it is not understood.
 * Ends at the end of its input, or with 2 when there is no compositor or no
 * virtual-pointer global. */
#include <linux/input-event-codes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <wayland-client.h>

#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

static struct zwlr_virtual_pointer_manager_v1* manager;

static void global(void* data, struct wl_registry* registry, uint32_t name, const char* interface,
                   uint32_t version) {
    (void)data;
    (void)version;
    if (strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
        manager = wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1);
    }
}

static void global_remove(void* data, struct wl_registry* registry, uint32_t name) {
    (void)data;
    (void)registry;
    (void)name;
}

static const struct wl_registry_listener registry_listener = {global, global_remove};

static uint32_t now_ms(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (uint32_t)(t.tv_sec * 1000 + t.tv_nsec / 1000000);
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s WIDTH HEIGHT\n", argv[0]);
        return 2;
    }
    const unsigned width = (unsigned)strtoul(argv[1], NULL, 10);
    const unsigned height = (unsigned)strtoul(argv[2], NULL, 10);
    struct wl_display* display = wl_display_connect(NULL);
    if (display == NULL) {
        fprintf(stderr, "camora-test-pointer: no Wayland compositor\n");
        return 2;
    }
    struct wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registry_listener, NULL);
    wl_display_roundtrip(display);
    if (manager == NULL) {
        fprintf(stderr, "camora-test-pointer: the compositor has no virtual pointers\n");
        return 2;
    }
    /* No seat named: the compositor's own. */
    struct zwlr_virtual_pointer_v1* pointer =
        zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager, NULL);
    char line[256];
    while (fgets(line, sizeof line, stdin) != NULL) {
        unsigned x = 0, y = 0;
        int known = 1;
        if (sscanf(line, "move %u %u", &x, &y) == 2 || sscanf(line, "tap %u %u", &x, &y) == 2) {
            if (x >= width || y >= height) {
                known = 0;
            } else {
                zwlr_virtual_pointer_v1_motion_absolute(pointer, now_ms(), x, y, width, height);
                zwlr_virtual_pointer_v1_frame(pointer);
            }
        }
        const int tap = strncmp(line, "tap ", 4) == 0;
        if (known && (tap || strncmp(line, "down", 4) == 0)) {
            zwlr_virtual_pointer_v1_button(pointer, now_ms(), BTN_LEFT,
                                           WL_POINTER_BUTTON_STATE_PRESSED);
            zwlr_virtual_pointer_v1_frame(pointer);
        }
        if (known && (tap || strncmp(line, "up", 2) == 0)) {
            if (tap) {
                /* A press and its release in separate round trips, as a finger makes them. */
                wl_display_roundtrip(display);
            }
            zwlr_virtual_pointer_v1_button(pointer, now_ms(), BTN_LEFT,
                                           WL_POINTER_BUTTON_STATE_RELEASED);
            zwlr_virtual_pointer_v1_frame(pointer);
        }
        if (known && strncmp(line, "move ", 5) != 0 && !tap && strncmp(line, "down", 4) != 0 &&
            strncmp(line, "up", 2) != 0) {
            known = 0;
        }
        if (wl_display_roundtrip(display) < 0) {
            fprintf(stderr, "camora-test-pointer: the compositor went away\n");
            return 2;
        }
        puts(known ? "ok" : "error");
        fflush(stdout);
    }
    zwlr_virtual_pointer_v1_destroy(pointer);
    zwlr_virtual_pointer_manager_v1_destroy(manager);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}
