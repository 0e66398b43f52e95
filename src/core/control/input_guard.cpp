#include "control/input_guard.h"

namespace eft {

InputGuard::InputGuard(ui::Screen& s)
    : screen_(s), combo_(s.cmbBatches.enabled()), options_(s.optCountry.enabled()) {
    for (ui::Button* b : s.buttons()) {
        buttons_.push_back(b->enabled());
        b->setEnabled(false);
    }
    for (ui::ListView* l : s.lists()) {
        lists_.push_back(l->enabled());
        l->setEnabled(false);
    }
    for (int i = 0; i < s.tabEFT.count(); ++i) {
        tabs_.push_back(s.tabEFT.tab(i).enabled);
        s.tabEFT.setEnabled(i, false);
    }
    s.cmbBatches.setEnabled(false);
    s.optCountry.setEnabled(false);
}

InputGuard::~InputGuard() {
    ui::Screen& s = screen_;
    const auto buttons = s.buttons();
    for (std::size_t i = 0; i < buttons.size() && i < buttons_.size(); ++i) buttons[i]->setEnabled(buttons_[i]);
    const auto lists = s.lists();
    for (std::size_t i = 0; i < lists.size() && i < lists_.size(); ++i) lists[i]->setEnabled(lists_[i]);
    for (std::size_t i = 0; i < tabs_.size(); ++i) s.tabEFT.setEnabled(static_cast<int>(i), tabs_[i]);
    s.cmbBatches.setEnabled(combo_);
    s.optCountry.setEnabled(options_);
}

}  // namespace eft
