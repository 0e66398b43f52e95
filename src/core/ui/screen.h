#pragma once
// The control's one fixed screen: every element model by its name, the mouse pointer and the
// keyboard focus, and the coalesced change notices that views subscribe to.
#include <optional>
#include <string>
#include <vector>

#include "eftmemb/control.h"  // MousePointer
#include "ui/models.h"

namespace eft::ui {

class ScreenObserver {
public:
    virtual ~ScreenObserver() = default;
    // A list's lines were added, removed or reordered: re-read the whole list.
    virtual void listReset(ListView&) {}
    // Lines first..last of a list changed their check or texts.
    virtual void listLinesChanged(ListView&, int /*first*/, int /*last*/) {}
    // Any other element changed: re-read it.
    virtual void elementChanged(Element&) {}
};

class Screen {
public:
    Screen();
    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;

    TabStrip tabEFT;
    ListView lstEFTCenter;
    ListView lstEFTMember;
    ListView lstBatchDetails;
    ComboBox cmbBatches;
    OptionGroup optCountry;

    Label lblCenterListTitle, lblGrandTotal, lblVersionCentertab;
    Label lblMerchandiseEligible, lblMerchandiseSelected, lblVersionMerchandise;
    Label lblIstr;

    Button cmdLoadData, cmdSelectAllCenters, cmdDeSelectAllCenters, cmdViewCenterDetails;
    Button cmdSelectAllMerchandise, cmdDeSelectAllMerchandise, cmdSaveMerchandise, cmdCancelMerchandiseList;
    Button cmdPassedFailed;

    // Every element model, for lookup by name (hosts, the driver, views).
    Element* find(const std::string& name);
    std::vector<Label*> labels();
    std::vector<Button*> buttons();
    std::vector<ListView*> lists();

    MousePointer mousePointer() const { return pointer_; }
    void setMousePointer(MousePointer pointer);
    const std::optional<std::string>& focus() const { return focus_; }
    void setFocus(const std::string& element);

    void addObserver(ScreenObserver* observer);
    void removeObserver(ScreenObserver* observer);
    // Hands every pending change to the observers, once per element.
    void flush();

private:
    friend class Element;
    void markChanged(Element* element);

    std::vector<Element*> all_;
    std::vector<Element*> dirty_;
    std::vector<ScreenObserver*> observers_;
    MousePointer pointer_ = MousePointer::Normal;
    std::optional<std::string> focus_;
};

}  // namespace eft::ui
