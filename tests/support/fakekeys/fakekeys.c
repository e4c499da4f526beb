/* Types into whatever holds the keyboard focus of a KWin Wayland session,
 * through KWin's fake input protocol, as a keyboard would: each argument is
 * either lower-case letters or the name of a key in angle brackets, e.g.
 *   velmora-fake-keys abc '<Escape>'
 * Exits 1 with a line on stderr when the compositor offers no fake input. */

#include "wayland-fake-input-client-protocol.h"

#include <linux/input-event-codes.h>
#include <stdio.h>
#include <string.h>
#include <wayland-client.h>

static struct org_kde_kwin_fake_input *fake;

static void global(void *data, struct wl_registry *registry, uint32_t name, const char *interface,
                   uint32_t version) {
    (void)data;
    if (strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 && version >= 4)
        fake = wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 4);
}

static void globalRemove(void *data, struct wl_registry *registry, uint32_t name) {
    (void)data, (void)registry, (void)name;
}

static const struct wl_registry_listener registryListener = {global, globalRemove};

/* The evdev code of a letter on the usual layouts' letter rows; 0 for others. */
static int letterCode(char letter) {
    static const struct {
        const char *row;
        int first;
    } rows[] = {{"qwertyuiop", KEY_Q}, {"asdfghjkl", KEY_A}, {"zxcvbnm", KEY_Z}};
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        const char *at = letter ? strchr(rows[i].row, letter) : NULL;
        if (at)
            return rows[i].first + (int)(at - rows[i].row);
    }
    return 0;
}

static int namedCode(const char *name) {
    static const struct {
        const char *name;
        int code;
    } keys[] = {{"<Escape>", KEY_ESC},
                {"<Tab>", KEY_TAB},
                {"<Return>", KEY_ENTER},
                {"<space>", KEY_SPACE},
                {"<BackSpace>", KEY_BACKSPACE}};
    for (size_t i = 0; i < sizeof keys / sizeof keys[0]; ++i)
        if (strcmp(keys[i].name, name) == 0)
            return keys[i].code;
    return 0;
}

static void press(struct wl_display *display, int code) {
    org_kde_kwin_fake_input_keyboard_key(fake, code, WL_KEYBOARD_KEY_STATE_PRESSED);
    org_kde_kwin_fake_input_keyboard_key(fake, code, WL_KEYBOARD_KEY_STATE_RELEASED);
    wl_display_roundtrip(display);
}

int main(int argc, char **argv) {
    struct wl_display *display = wl_display_connect(NULL);
    if (!display) {
        fprintf(stderr, "velmora-fake-keys: no Wayland display\n");
        return 1;
    }
    struct wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, NULL);
    wl_display_roundtrip(display);
    if (!fake) {
        fprintf(stderr, "velmora-fake-keys: the compositor offers no fake input (v4)\n");
        return 1;
    }
    org_kde_kwin_fake_input_authenticate(fake, "velmora-tests", "keys typed by a test");
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] == '<') {
            const int code = namedCode(argv[i]);
            if (!code) {
                fprintf(stderr, "velmora-fake-keys: unknown key %s\n", argv[i]);
                return 2;
            }
            press(display, code);
            continue;
        }
        for (const char *letter = argv[i]; *letter; ++letter) {
            const int code = letterCode(*letter);
            if (!code) {
                fprintf(stderr, "velmora-fake-keys: no key for '%c'\n", *letter);
                return 2;
            }
            press(display, code);
        }
    }
    /* The protocol has no destructor request: free the client's side only. */
    wl_proxy_destroy((struct wl_proxy *)fake);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return 0;
}
