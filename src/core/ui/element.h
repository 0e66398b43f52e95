#pragma once
// Base of the screen-element models. A model holds the element's state; a view renders it.
// Changes are not pushed to views one by one: a model marks itself changed and the screen
// hands the views one coalesced notice per element when the control next yields.
#include <string>

namespace eft::ui {

class Screen;

enum class ElementKind { TabStrip, Frame, ListView, Label, Button, OptionGroup, ComboBox };

class Element {
public:
    Element(Screen& screen, std::string name, ElementKind kind)
        : screen_(&screen), name_(std::move(name)), kind_(kind) {}
    virtual ~Element() = default;
    Element(const Element&) = delete;
    Element& operator=(const Element&) = delete;

    const std::string& name() const { return name_; }
    ElementKind kind() const { return kind_; }

protected:
    void changed();
    Screen& screen() const { return *screen_; }

private:
    Screen* screen_;
    std::string name_;
    ElementKind kind_;
};

}  // namespace eft::ui
