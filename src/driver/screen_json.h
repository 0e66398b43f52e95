#pragma once
// The driver's JSON Lines: the whole screen as one "dump" event, and message boxes.
#include <nlohmann/json.hpp>

#include "driver/scripted_host.h"
#include "ui/screen.h"

namespace eft::driver {

nlohmann::json dumpScreen(ui::Screen& screen);
nlohmann::json messageBoxEvent(const ShownBox& box);

}  // namespace eft::driver
