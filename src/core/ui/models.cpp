#include "ui/models.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <numeric>
#include <limits>
#include <stdexcept>

#include "ui/layout.h"
#include "ui/screen.h"

namespace eft::ui {

void Element::changed() { screen_->markChanged(this); }

// Label ---------------------------------------------------------------------------------------

void Label::setCaption(std::string caption) {
    if (caption == caption_) return;
    caption_ = std::move(caption);
    changed();
}

void Label::setVisible(bool visible) {
    if (visible == visible_) return;
    visible_ = visible;
    changed();
}

// Button --------------------------------------------------------------------------------------

void Button::setEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    changed();
}

bool Button::operatorClick() {
    if (!enabled_) return false;
    if (onClick) onClick();
    return true;
}

// OptionGroup ---------------------------------------------------------------------------------

const std::string& OptionGroup::caption(std::int16_t index) const {
    for (const auto& o : options_)
        if (o.index == index) return o.caption;
    static const std::string none;
    return none;
}

void OptionGroup::setEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    changed();
}

bool OptionGroup::operatorChoose(std::int16_t index) {
    if (!enabled_) return false;
    if (std::none_of(options_.begin(), options_.end(), [&](const Option& o) { return o.index == index; }))
        return false;
    if (chosen_ != index) {
        chosen_ = index;
        changed();
    }
    if (onClick) onClick(index);
    return true;
}

// TabStrip ------------------------------------------------------------------------------------

TabStrip::TabStrip(Screen& s, std::string name, std::vector<std::string> captions)
    : Element(s, std::move(name), ElementKind::TabStrip) {
    for (auto& c : captions) tabs_.push_back(Tab{std::move(c), true, true});
}

void TabStrip::select(int index) {
    if (index < 0 || index >= count() || index == selected_) return;
    const int previous = selected_;
    selected_ = index;
    changed();
    if (onClick) onClick(static_cast<std::int16_t>(previous));
}

bool TabStrip::operatorSelect(int index) {
    if (index < 0 || index >= count()) return false;
    const Tab& t = tabs_[static_cast<std::size_t>(index)];
    if (!t.visible || !t.enabled) return false;
    select(index);
    return true;
}

void TabStrip::setVisible(int index, bool visible) {
    Tab& t = tabs_.at(static_cast<std::size_t>(index));
    if (t.visible == visible) return;
    t.visible = visible;
    changed();
}

void TabStrip::setEnabled(int index, bool enabled) {
    Tab& t = tabs_.at(static_cast<std::size_t>(index));
    if (t.enabled == enabled) return;
    t.enabled = enabled;
    changed();
}

void TabStrip::setCaptionOfSelected(std::string caption) {
    tabs_.at(static_cast<std::size_t>(selected_)).caption = std::move(caption);
    changed();
}

// SubItems ------------------------------------------------------------------------------------

std::string_view SubItems::operator[](std::size_t i) const {
    if (i >= count_) throw std::out_of_range("no such sub-item");
    if (i >= used_) return {};
    const std::uint32_t start = i == 0 ? 0 : ends_[i - 1];
    return std::string_view(*store_).substr(start_ + start, ends_[i] - start);
}

std::vector<std::string> SubItems::toVector() const { return {begin(), end()}; }

bool operator==(const SubItems& a, const SubItems& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

bool operator==(const SubItems& a, const std::vector<std::string>& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

// ListView ------------------------------------------------------------------------------------

void ListView::structureChanged() {
    pending_.reset = true;
    changed();
}

void ListView::lineChanged(int line) {
    if (pending_.reset) return;
    pending_.firstLine = pending_.firstLine < 0 ? line : std::min(pending_.firstLine, line);
    pending_.lastLine = std::max(pending_.lastLine, line);
    changed();
}

ListView::Pending ListView::takePending() {
    Pending p = pending_;
    pending_ = Pending{};
    return p;
}

void ListView::clear() {
    if (lines_.empty()) return;
    lines_.clear();
    texts_.clear();  // keeps its room for the next fill
    garbage_ = 0;
    structureChanged();
}

int ListView::addLine() {
    Line& line = lines_.emplace_back();
    line.sub.store_ = &texts_;
    line.sub.start_ = static_cast<std::uint32_t>(texts_.size());
    line.sub.count_ = static_cast<std::uint8_t>(std::clamp(subItems_, 0, SubItems::kMax));
    structureChanged();
    return lineCount() - 1;
}

void ListView::setSubItem(int line, int k, std::string_view text) {
    SubItems& s = lines_.at(static_cast<std::size_t>(line)).sub;
    const auto i = static_cast<std::size_t>(k - 1);
    if (i >= s.count_) throw std::out_of_range("no such sub-item");
    if (texts_.size() + text.size() > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("the list's texts outgrow their store");
    if (s.start_ + s.bytes() != texts_.size()) {
        // Not the last texts in the store: they move to its end, where they can grow.
        const std::string moved(texts_, s.start_, s.bytes());
        garbage_ += moved.size();
        s.start_ = static_cast<std::uint32_t>(texts_.size());
        texts_ += moved;
    }
    if (i >= s.used_) {
        // Past the texts set so far: the ones between stay empty, the new one goes at the end.
        const std::uint32_t end = s.bytes();
        for (std::size_t j = s.used_; j < i; ++j) s.ends_[j] = end;
        texts_.append(text);
        s.ends_[i] = end + static_cast<std::uint32_t>(text.size());
        s.used_ = static_cast<std::uint8_t>(i + 1);
    } else {
        const std::uint32_t start = i == 0 ? 0 : s.ends_[i - 1];
        const std::uint32_t length = s.ends_[i] - start;
        texts_.replace(s.start_ + start, length, text);
        const auto grown = static_cast<std::int64_t>(text.size()) - length;
        for (std::size_t j = i; j < s.used_; ++j) s.ends_[j] = static_cast<std::uint32_t>(s.ends_[j] + grown);
    }
    if (garbage_ > 4096 && garbage_ > texts_.size() / 2) compactTexts();
    lineChanged(line);
}

void ListView::compactTexts() {
    std::string kept;
    kept.reserve(texts_.size() - garbage_);
    for (Line& l : lines_) {
        const std::uint32_t start = static_cast<std::uint32_t>(kept.size());
        kept.append(texts_, l.sub.start_, l.sub.bytes());
        l.sub.start_ = start;
    }
    texts_.swap(kept);
    garbage_ = 0;
}

std::string_view ListView::subItem(int line, int k) const {
    return lines_.at(static_cast<std::size_t>(line)).sub[static_cast<std::size_t>(k - 1)];
}

void ListView::setChecked(int line, bool checked) {
    Line& l = lines_.at(static_cast<std::size_t>(line));
    if (l.checked == checked) return;
    l.checked = checked;
    lineChanged(line);
}

void ListView::setLocked(int line, bool locked) {
    lines_.at(static_cast<std::size_t>(line)).locked = locked;
    lineChanged(line);
}

void ListView::setTip(int line, std::string_view tip) {
    lines_.at(static_cast<std::size_t>(line)).tip = tip;
    lineChanged(line);
}

void ListView::setAllChecked(bool checked) {
    for (auto& l : lines_)
        if (!l.locked) l.checked = checked;
    if (!lines_.empty()) {
        lineChanged(0);
        lineChanged(lineCount() - 1);
    }
}

void ListView::setEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    changed();
}

bool ListView::operatorSetChecked(int line, bool checked) {
    if (!enabled_ || line < 0 || line >= lineCount()) return false;
    Line& l = lines_[static_cast<std::size_t>(line)];
    if (l.checked == checked) return true;  // no change, no event
    if (l.locked) return false;
    l.checked = checked;
    lineChanged(line);
    if (onItemCheck) onItemCheck(line);
    return true;
}

bool ListView::operatorColumnClick(int position) {
    if (!enabled_ || !sortable_ || position < 1 || position > subItems_ + 1) return false;
    if (onColumnClick) onColumnClick(position);
    return true;
}

void ListView::setSortKey(int key) {
    if (key < 0 || key > subItems_) return;
    sortKey_ = key;  // takes effect at the next setSorted(true) or resort()
    changed();
}

void ListView::setSorted(bool sorted) {
    sorted_ = sorted;
    if (sorted_) resort();
    changed();
}

namespace {

SortAs sortKindOf(std::string_view list, int column) {
    const ElementLayout* layout = findLayout(list);
    if (!layout || column < 0 || static_cast<std::size_t>(column) >= layout->columns.size()) return SortAs::Text;
    return layout->columns[static_cast<std::size_t>(column)].sortAs;
}

// The value a cell shows, as a sort key; a cell that shows none sorts before every value.
double numericKey(std::string_view text, SortAs kind) {
    constexpr double none = -std::numeric_limits<double>::infinity();
    if (kind == SortAs::Date) {
        // "mm/dd/yyyy" as yyyymmdd.
        int m = 0, d = 0, y = 0;
        if (text.size() != 10 || text[2] != '/' || text[5] != '/') return none;
        const char* p = text.data();
        if (std::from_chars(p, p + 2, m).ec != std::errc() || std::from_chars(p + 3, p + 5, d).ec != std::errc() ||
            std::from_chars(p + 6, p + 10, y).ec != std::errc())
            return none;
        return y * 10000.0 + m * 100.0 + d;
    }
    double v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    return ec == std::errc() && end == text.data() + text.size() ? v : none;
}

}  // namespace

void ListView::resort() {
    if (!sorted_ || lines_.size() < 2) return;
    const std::size_t key = static_cast<std::size_t>(sortKey_);
    auto textOf = [&](std::size_t i) { return key == 0 ? std::string_view(lines_[i].text) : lines_[i].sub[key - 1]; };
    std::vector<std::size_t> order(lines_.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    if (const SortAs kind = sortKindOf(name(), sortKey_); kind != SortAs::Text) {
        // Amounts by value and dates by date: the operator reads "183.99" as less than "1816.21".
        std::vector<double> values(lines_.size());
        for (std::size_t i = 0; i < lines_.size(); ++i) values[i] = numericKey(textOf(i), kind);
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return values[a] < values[b]; });
    } else {
        // Fold each key once: comparing folded copies gives the same order as a case-blind
        // comparison, without folding inside every comparison.
        std::vector<std::string> folded(lines_.size());
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            const std::string_view text = textOf(i);
            folded[i].resize(text.size());
            std::transform(text.begin(), text.end(), folded[i].begin(),
                           [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
        }
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return folded[a] < folded[b]; });
    }
    std::vector<Line> sortedLines;
    sortedLines.reserve(lines_.size());
    for (const std::size_t i : order) sortedLines.push_back(std::move(lines_[i]));
    lines_.swap(sortedLines);
    structureChanged();
}

// ComboBox ------------------------------------------------------------------------------------

void ComboBox::setEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    changed();
}

void ComboBox::clear() {
    entries_.clear();
    selected_ = -1;
    changed();
}

int ComboBox::addEntry(std::string text) {
    entries_.push_back(Entry{std::move(text), 0, {}});
    changed();
    return static_cast<int>(entries_.size()) - 1;
}

void ComboBox::setItemData(int index, std::int32_t data) { entries_.at(static_cast<std::size_t>(index)).data = data; }

void ComboBox::setItemTip(int index, std::string tip) {
    entries_.at(static_cast<std::size_t>(index)).tip = std::move(tip);
    changed();
}

void ComboBox::select(int index) {
    if (index < -1 || index >= static_cast<int>(entries_.size())) return;
    selected_ = index;
    changed();
    if (onClick) onClick();
}

bool ComboBox::operatorChoose(int index) {
    if (!enabled_ || index < 0 || index >= static_cast<int>(entries_.size())) return false;
    select(index);
    return true;
}

}  // namespace eft::ui
