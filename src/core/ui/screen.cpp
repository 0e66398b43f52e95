#include "ui/screen.h"

#include <algorithm>

#include "ui/layout.h"

namespace eft::ui {
namespace {

std::string captionOf(std::string_view name, int index = -1) {
    const ElementLayout* e = findLayout(name, index);
    return e ? std::string(e->caption) : std::string();
}

int subItemsOf(std::string_view name) {
    const ElementLayout* e = findLayout(name);
    return e ? static_cast<int>(e->columns.size()) - 1 : 0;
}

std::vector<std::string> tabCaptions() { return {std::begin(kTabCaptions), std::end(kTabCaptions)}; }

}  // namespace

#define EFT_LABEL(n) n(*this, #n, captionOf(#n))
#define EFT_BUTTON(n) n(*this, #n, captionOf(#n))

Screen::Screen()
    : tabEFT(*this, "tabEFT", tabCaptions()),
      lstEFTCenter(*this, "lstEFTCenter", subItemsOf("lstEFTCenter"), true),
      lstEFTMember(*this, "lstEFTMember", subItemsOf("lstEFTMember"), true),
      lstBatchDetails(*this, "lstBatchDetails", subItemsOf("lstBatchDetails"), false),
      cmbBatches(*this, "cmbBatches"),
      optCountry(*this, "optCountry", {{1, captionOf("optCountry", 1)}, {2, captionOf("optCountry", 2)}}, 1),
      EFT_LABEL(lblCenterListTitle),
      EFT_LABEL(lblGrandTotal),
      EFT_LABEL(lblVersionCentertab),
      EFT_LABEL(lblMerchandiseEligible),
      EFT_LABEL(lblMerchandiseSelected),
      EFT_LABEL(lblVersionMerchandise),
      EFT_LABEL(lblIstr),
      EFT_BUTTON(cmdLoadData),
      EFT_BUTTON(cmdSelectAllCenters),
      EFT_BUTTON(cmdDeSelectAllCenters),
      EFT_BUTTON(cmdViewCenterDetails),
      EFT_BUTTON(cmdSelectAllMerchandise),
      EFT_BUTTON(cmdDeSelectAllMerchandise),
      EFT_BUTTON(cmdSaveMerchandise),
      EFT_BUTTON(cmdCancelMerchandiseList),
      EFT_BUTTON(cmdPassedFailed) {
    all_ = {&tabEFT, &lstEFTCenter, &lstEFTMember, &lstBatchDetails, &cmbBatches, &optCountry};
    for (auto* l : labels()) all_.push_back(l);
    for (auto* b : buttons()) all_.push_back(b);
    dirty_.clear();
}

#undef EFT_LABEL
#undef EFT_BUTTON

std::vector<Label*> Screen::labels() {
    return {&lblCenterListTitle,     &lblGrandTotal,          &lblVersionCentertab, &lblMerchandiseEligible,
            &lblMerchandiseSelected, &lblVersionMerchandise, &lblIstr};
}

std::vector<Button*> Screen::buttons() {
    return {&cmdLoadData,          &cmdSelectAllCenters,     &cmdDeSelectAllCenters,
            &cmdViewCenterDetails, &cmdSelectAllMerchandise, &cmdDeSelectAllMerchandise,
            &cmdSaveMerchandise,   &cmdCancelMerchandiseList, &cmdPassedFailed};
}

std::vector<ListView*> Screen::lists() { return {&lstEFTCenter, &lstEFTMember, &lstBatchDetails}; }

Element* Screen::find(const std::string& name) {
    for (auto* e : all_)
        if (e->name() == name) return e;
    return nullptr;
}

void Screen::setMousePointer(MousePointer pointer) { pointer_ = pointer; }

void Screen::setFocus(const std::string& element) { focus_ = element; }

void Screen::addObserver(ScreenObserver* observer) { observers_.push_back(observer); }

void Screen::removeObserver(ScreenObserver* observer) {
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

void Screen::markChanged(Element* element) {
    if (std::find(dirty_.begin(), dirty_.end(), element) == dirty_.end()) dirty_.push_back(element);
}

void Screen::flush() {
    std::vector<Element*> dirty;
    dirty.swap(dirty_);
    for (Element* e : dirty) {
        if (e->kind() == ElementKind::ListView) {
            auto& list = static_cast<ListView&>(*e);
            const auto p = list.takePending();
            for (auto* o : observers_) {
                if (p.reset) o->listReset(list);
                else if (p.firstLine >= 0) o->listLinesChanged(list, p.firstLine, p.lastLine);
                else o->elementChanged(list);
            }
        } else {
            for (auto* o : observers_) o->elementChanged(*e);
        }
    }
}

}  // namespace eft::ui
