#include "res/MenuResource.h"

#include "res/Resource.h"

namespace {

constexpr MenuItemResource kTrayMenu[] = {
    {ID_APP_UPDATE, 203, "Update"},
    {ID_APP_SHOWCERTS, 202, "Show Certificates"},
    {ID_APP_CONFIG, 204, "Configuration"},
    {ID_APP_RESTART, 205, "Restart"},
    {ID_APP_ABOUT, 201, "Info"},
    {0, 0, ""},
    {ID_APP_EXIT, 200, "Quit"},
};

} // namespace

std::span<const MenuItemResource> LoadMenuResource(unsigned id) {
    if (id == IDR_TRAYMENU) {
        return kTrayMenu;
    }
    return {};
}
