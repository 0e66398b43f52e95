#pragma once
// The state models of the screen's elements. Methods named operator* stand for the operator's
// own input and raise the element's event; the plain setters are the control's changes and
// raise nothing (except where selecting raises Click whoever selects, as for tabs and combos).
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/element.h"

namespace eft::ui {

class Label : public Element {
public:
    Label(Screen& s, std::string name, std::string caption)
        : Element(s, std::move(name), ElementKind::Label), caption_(std::move(caption)) {}
    const std::string& caption() const { return caption_; }
    void setCaption(std::string caption);
    bool visible() const { return visible_; }
    void setVisible(bool visible);

private:
    std::string caption_;
    bool visible_ = true;
};

class Button : public Element {
public:
    Button(Screen& s, std::string name, std::string caption)
        : Element(s, std::move(name), ElementKind::Button), caption_(std::move(caption)) {}
    const std::string& caption() const { return caption_; }
    bool enabled() const { return enabled_; }
    void setEnabled(bool enabled);
    // The operator presses the button; ignored while it is disabled.
    bool operatorClick();

    std::function<void()> onClick;

private:
    std::string caption_;
    bool enabled_ = true;
};

// The option-button array optCountry: indexes 1 and 2.
class OptionGroup : public Element {
public:
    struct Option {
        std::int16_t index;
        std::string caption;
    };
    OptionGroup(Screen& s, std::string name, std::vector<Option> options, std::int16_t chosen)
        : Element(s, std::move(name), ElementKind::OptionGroup), options_(std::move(options)), chosen_(chosen) {}
    const std::vector<Option>& options() const { return options_; }
    std::int16_t chosen() const { return chosen_; }
    const std::string& caption(std::int16_t index) const;
    bool enabled() const { return enabled_; }
    void setEnabled(bool enabled);
    // The operator chooses an option: it becomes the chosen one and Click runs with its index.
    // Refused while the group is disabled.
    bool operatorChoose(std::int16_t index);

    std::function<void(std::int16_t)> onClick;

private:
    std::vector<Option> options_;
    std::int16_t chosen_;
    bool enabled_ = true;
};

class TabStrip : public Element {
public:
    struct Tab {
        std::string caption;
        bool visible = true;
        bool enabled = true;
    };
    TabStrip(Screen& s, std::string name, std::vector<std::string> captions);

    int count() const { return static_cast<int>(tabs_.size()); }
    const Tab& tab(int index) const { return tabs_.at(static_cast<std::size_t>(index)); }
    int selected() const { return selected_; }

    // Selecting another tab, by the control or the operator, raises Click with the tab left.
    void select(int index);
    // The operator picks a tab; refused (false) when it is hidden or disabled.
    bool operatorSelect(int index);
    void setVisible(int index, bool visible);
    void setEnabled(int index, bool enabled);
    void setCaptionOfSelected(std::string caption);

    std::function<void(std::int16_t previousTab)> onClick;

private:
    std::vector<Tab> tabs_;
    int selected_ = 0;
};

class ListView;

// The sub-item texts of one list line. They lie one after another in their list's text store,
// so a line costs no allocation of its own: a list of 100,000 lines is filled with a few
// growths of one buffer, and emptied without freeing 100,000 pieces.
// Read like a vector of texts: sub[k - 1] is sub-item k.
class SubItems {
public:
    static constexpr int kMax = 12;  // the widest list, lstEFTMember

    SubItems() = default;

    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    std::string_view operator[](std::size_t i) const;

    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = std::string_view;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = std::string_view;
        const_iterator() = default;
        const_iterator(const SubItems* items, std::size_t i) : items_(items), i_(i) {}
        std::string_view operator*() const { return (*items_)[i_]; }
        const_iterator& operator++() {
            ++i_;
            return *this;
        }
        const_iterator operator++(int) {
            const_iterator before = *this;
            ++i_;
            return before;
        }
        friend bool operator==(const const_iterator&, const const_iterator&) = default;

    private:
        const SubItems* items_ = nullptr;
        std::size_t i_ = 0;
    };
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, count_}; }

    std::vector<std::string> toVector() const;
    operator std::vector<std::string>() const { return toVector(); }
    friend bool operator==(const SubItems& a, const SubItems& b);
    friend bool operator==(const SubItems& a, const std::vector<std::string>& b);

private:
    friend class ListView;
    std::uint32_t bytes() const { return used_ == 0 ? 0 : ends_[used_ - 1]; }

    const std::string* store_ = nullptr;
    std::uint32_t start_ = 0;  // where the line's texts begin in the store
    // Where text i ends, from start_ (it begins where text i - 1 ends), for the first used_
    // texts; the texts after them are empty, so a fill from left to right only appends.
    std::array<std::uint32_t, kMax> ends_{};
    std::uint8_t count_ = 0;
    std::uint8_t used_ = 0;
};

class ListView : public Element {
public:
    struct Line {
        bool checked = false;
        // The operator cannot tick it (a center the bank returned cannot be cleared).
        bool locked = false;
        std::string text;
        SubItems sub;     // sub-item k at index k - 1
        std::string tip;  // shown on hover and read with the line; empty for none
    };

    ListView(Screen& s, std::string name, int subItemCount, bool sortable)
        : Element(s, std::move(name), ElementKind::ListView), subItems_(subItemCount), sortable_(sortable) {}

    int subItemCount() const { return subItems_; }
    int lineCount() const { return static_cast<int>(lines_.size()); }
    const Line& line(int index) const { return lines_.at(static_cast<std::size_t>(index)); }
    const std::vector<Line>& lines() const { return lines_; }

    void clear();
    // Appends an empty, unchecked line and returns its index.
    int addLine();
    void reserve(std::size_t lines) { lines_.reserve(lines); }
    void setSubItem(int line, int k, std::string_view text);
    std::string_view subItem(int line, int k) const;
    // A change of the check box by the control itself: raises nothing.
    void setChecked(int line, bool checked);
    // A locked line keeps its tick whatever the operator does, and a tick of all leaves it.
    void setLocked(int line, bool locked);
    void setTip(int line, std::string_view tip);
    void setAllChecked(bool checked);
    bool enabled() const { return enabled_; }
    void setEnabled(bool enabled);
    // The operator changes a check box: the list keeps the new state, then ItemCheck runs.
    // Both operator inputs are refused while the list is disabled.
    bool operatorSetChecked(int line, bool checked);
    // The operator clicks a column header (1-based position, 1 is the check-box column).
    bool operatorColumnClick(int position);

    int sortKey() const { return sortKey_; }
    bool sorted() const { return sorted_; }
    void setSortKey(int key);
    // Switches sorting on and sorts at once, ascending: by the number or date a column shows
    // when its layout says so, otherwise by the sort key's texts (letter case
    // ignored, equal texts keeping their order).
    void setSorted(bool sorted);
    // Puts lines added since sorting was switched on into their sorted place.
    void resort();

    std::function<void(int line)> onItemCheck;
    std::function<void(int position)> onColumnClick;

    // Change tracking for the screen's coalesced notices.
    struct Pending {
        bool reset = false;
        int firstLine = -1;
        int lastLine = -1;
    };
    Pending takePending();

private:
    void lineChanged(int line);
    void structureChanged();

    std::vector<Line> lines_;
    int subItems_;
    // Every line's texts. A line's texts are changed in place when they are the last in the
    // store (as while a list is filled); otherwise they move to its end first, and the bytes
    // left behind are counted until the store is compacted.
    std::string texts_;
    std::size_t garbage_ = 0;
    void compactTexts();
    bool sortable_;
    int sortKey_ = 0;
    bool sorted_ = false;
    bool enabled_ = true;
    Pending pending_;
};

class ComboBox : public Element {
public:
    struct Entry {
        std::string text;
        std::int32_t data = 0;
        std::string tip;  // shown on hover; empty for none
    };
    ComboBox(Screen& s, std::string name) : Element(s, std::move(name), ElementKind::ComboBox) {}

    const std::vector<Entry>& entries() const { return entries_; }
    int selected() const { return selected_; }
    bool enabled() const { return enabled_; }
    void setEnabled(bool enabled);

    void clear();
    int addEntry(std::string text);
    void setItemData(int index, std::int32_t data);
    std::int32_t itemData(int index) const { return entries_.at(static_cast<std::size_t>(index)).data; }
    void setItemTip(int index, std::string tip);
    // Selecting an entry, by the control or the operator, raises Click.
    void select(int index);
    bool operatorChoose(int index);

    std::function<void()> onClick;

private:
    std::vector<Entry> entries_;
    int selected_ = -1;
    bool enabled_ = true;
};

}  // namespace eft::ui
