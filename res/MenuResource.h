#pragma once

#include <span>

// Menu resources: one popup each, as the resource file lays it out. The texts are the
// resource's own English ones; the program replaces them by catalogue texts whenever the
// popup opens, so that a change of language shows at once.
struct MenuItemResource {
    int command;      // 0: separator
    unsigned textId;  // catalogue id of the item's text (0 for a separator)
    const char* text; // the resource's text
};

// The popup of menu resource `id`; empty when there is no such menu.
std::span<const MenuItemResource> LoadMenuResource(unsigned id);
