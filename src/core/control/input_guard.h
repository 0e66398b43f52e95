#pragma once
// While the control waits for a GET, the host's events run (the window repaints) but the
// operator's input must not start anything: a click queued during a load would otherwise run
// a second load the moment the first ends. The guard disables every element that takes input
// and puts back exactly the enabled states it found.
#include <vector>

#include "ui/screen.h"

namespace eft {

class InputGuard {
public:
    explicit InputGuard(ui::Screen& screen);
    ~InputGuard();
    InputGuard(const InputGuard&) = delete;
    InputGuard& operator=(const InputGuard&) = delete;

private:
    ui::Screen& screen_;
    std::vector<bool> buttons_;
    std::vector<bool> lists_;
    std::vector<bool> tabs_;
    bool combo_;
    bool options_;
};

}  // namespace eft
