#include "app/session/panel.h"

#include <algorithm>
#include <cstdlib>

namespace dunsmere {

namespace {

// The command line's names for what the user sees: group box, then the
// control's caption or label.
struct PanelName {
    const char* group;
    const char* label;
    const char* option;
};

constexpr PanelName kPanelNames[] = {
    {"Algorithm", "UV Map", NameOf(BakeAlgorithm::kUVMap)},
    {"Algorithm", "Vertex Colors", NameOf(BakeAlgorithm::kVertexColors)},
    {"Algorithm", "Spatial", NameOf(BakeAlgorithm::kSpatial)},
    {"", "Distance", "distance"},
    {"", "Selected Faces Only", "selected-only"},
    {"Ray Spread", "Vertical", "vertical"},
    {"Ray Spread", "Horizontal", "horizontal"},
    {"Map Size", "X", "width"},
    {"Map Size", "Y", "height"},
    {"", "Map Channel", "map-channel"},
    {"Noise", "On", "noise"},
    {"Noise", "Size", "noise-size"},
    {"Filter by Material ID", "On", "material-filter"},
    {"Filter by Material ID", "ID", "material-id"},
    {"", "Accumulate vertex colors", "accumulate"},
    {"", "Generate", "generate"},
    {"", "About...", "about"},
    // The options page.
    {"", "Padding", "padding"},
    {"", "Antialiasing", "supersample"},
    {"", "Coverage in alpha", "coverage-alpha"},
    {"", "White is open", "invert"},
    {"", "Even ring", "even-ring"},
    {"", "Scene occluders", "scene-occluders"},
    {"", "Ray bias", "ray-bias"},
    {"", "Bake from high-poly", "high-poly"},
    {"", "Ray front", "ray-front"},
    {"", "Ray rear", "ray-rear"},
};

constexpr const char* kAlgorithmGroup = "Algorithm";

const char* OptionFor(const std::string& group, const std::string& label)
{
    for (const PanelName& n : kPanelNames)
        if (group == n.group && label == n.label) return n.option;
    return nullptr;
}

bool Inside(const ControlTemplate& box, const ControlTemplate& c)
{
    return c.x >= box.x && c.y >= box.y && c.x < box.x + box.w && c.y < box.y + box.h;
}

bool IsText(const ControlTemplate& t) { return t.kind == ControlKind::Text || t.kind == ControlKind::CentredText; }

// A text labels what stands to its right on the same line.
bool SameLine(const ControlTemplate& a, const ControlTemplate& b) { return std::abs(a.y - b.y) <= 8; }

}  // namespace

Panel::Panel(const std::vector<Page>& pages)
{
    for (const Page& page : pages) ReadPage(page);
}

void Panel::ReadPage(const Page& page)
{
    const std::vector<DialogControl>& all = page.window->Controls();
    std::string title;
    auto groupOf = [&](const ControlTemplate& c) -> std::string {
        for (const DialogControl& g : all)
            if (g.tmpl.kind == ControlKind::GroupBox && Inside(g.tmpl, c)) return g.tmpl.caption;
        return "";
    };
    auto labelOf = [&](const ControlTemplate& c) -> std::string {
        std::string label;
        for (const DialogControl& t : all)
            if (IsText(t.tmpl) && t.tmpl.caption && SameLine(t.tmpl, c) && t.tmpl.x < c.x) label = t.tmpl.caption;
        while (!label.empty() && (label.back() == ':' || label.back() == ' ')) label.pop_back();
        return label;
    };
    // Edits of one group that share a line: their place from the left.
    auto pairPlace = [&](const ControlTemplate& c, const std::string& group) -> int {
        int left = 0, partners = 0;
        for (const DialogControl& e : all) {
            if (e.tmpl.kind != ControlKind::CustEdit || &e.tmpl == &c || !SameLine(e.tmpl, c) || groupOf(e.tmpl) != group)
                continue;
            ++partners;
            if (e.tmpl.x < c.x) ++left;
        }
        return partners == 0 ? -1 : left;
    };

    for (const DialogControl& c : all) {
        const ControlTemplate& t = c.tmpl;
        // The panel's title: the centred text above everything else.
        if (t.kind == ControlKind::CentredText && t.y < 20 && t.caption && title.empty()) title = t.caption;
        std::string group = groupOf(t), label;
        switch (t.kind) {
        case ControlKind::RadioButton:
        case ControlKind::CheckBox:
        case ControlKind::PushButton:
        case ControlKind::DefPushButton: label = t.caption ? t.caption : ""; break;
        case ControlKind::CustEdit: {
            const int place = pairPlace(t, group);
            label = place < 0 ? labelOf(t) : place == 0 ? "X" : "Y";
            break;
        }
        default: continue;
        }
        controls_.push_back({page.window, t.id, t.kind, group, label, OptionFor(group, label)});
    }
    pages_.push_back({page.window, title.empty() ? page.title : title});
}

const Panel::Named* Panel::Find(std::string_view option) const
{
    for (const Named& n : controls_)
        if (n.option && option == n.option) return &n;
    return nullptr;
}

const DialogControl* Panel::Control(std::string_view option) const
{
    const Named* n = Find(option);
    return n ? n->page->Control(n->id) : nullptr;
}

bool Panel::Ticked(std::string_view option) const
{
    const Named* n = Find(option);
    return n && IsDlgButtonChecked(n->page, n->id) == BST_CHECKED;
}

int Panel::ReadInt(std::string_view option) const
{
    const DialogControl* c = Control(option);
    return c ? EditTextToInt(c->text, nullptr) : 0;
}

float Panel::ReadFloat(std::string_view option) const
{
    const DialogControl* c = Control(option);
    return c ? EditTextToFloat(c->text, nullptr) : 0.0f;
}

std::optional<Panel::Limits> Panel::SpinnerLimits(std::string_view option) const
{
    const Named* n = Find(option);
    if (!n) return std::nullopt;
    for (const DialogControl& c : n->page->Controls())
        if (c.tmpl.kind == ControlKind::Spinner && c.linkedEdit == n->id && c.isFloat) return Limits{c.fmin, c.fmax};
    return std::nullopt;
}

std::optional<Panel::Limits> Panel::AnySpinnerLimits(std::string_view option) const
{
    if (std::optional<Limits> limits = SpinnerLimits(option)) return limits;
    const Named* n = Find(option);
    if (!n) return std::nullopt;
    for (const DialogControl& c : n->page->Controls())
        if (c.tmpl.kind == ControlKind::Spinner && c.linkedEdit == n->id)
            return Limits{static_cast<float>(c.imin), static_cast<float>(c.imax)};
    return std::nullopt;
}

void Panel::Tick(std::string_view option, bool on) const
{
    if (const Named* n = Find(option)) CheckDlgButton(n->page, n->id, on ? BST_CHECKED : BST_UNCHECKED);
}

template <class Number>  // int or float: the edit shows it as the panel would
void Panel::Type(std::string_view option, Number value) const
{
    const Named* n = Find(option);
    if (!n) return;
    if (ICustEdit* e = GetICustEdit(GetDlgItem(n->page, n->id))) {
        e->SetText(value);
        ReleaseICustEdit(e);
    }
}
template void Panel::Type<int>(std::string_view, int) const;
template void Panel::Type<float>(std::string_view, float) const;

void Panel::Press(std::string_view name) const
{
    if (const Named* n = Find(name)) n->page->Click(n->id);
}

std::optional<BakeAlgorithm> Panel::Algorithm() const
{
    const Named* first = nullptr;
    for (const Named& n : controls_) {
        if (n.kind != ControlKind::RadioButton || n.group != kAlgorithmGroup || !n.option) continue;
        if (!first) first = &n;
        if (IsDlgButtonChecked(n.page, n.id) == BST_CHECKED) return AlgorithmNamed(n.option);
    }
    return first ? AlgorithmNamed(first->option) : std::nullopt;
}

MapFaceFilter Panel::MapFilter() const
{
    MapFaceFilter filter;
    filter.mapChannel = ReadInt("map-channel");
    filter.selectedOnly = Ticked("selected-only");
    filter.materialFilter = Ticked("material-filter");
    filter.materialID = ReadInt("material-id");
    return filter;
}

void Panel::Print(std::FILE* out) const
{
    for (const Page& page : pages_) {
        if (!page.title.empty()) std::fprintf(out, "%s\n", page.title.c_str());
        for (const Named& n : controls_) {
            if (n.page != page.window) continue;
            const DialogControl* c = n.page->Control(n.id);
            if (!c) continue;
            const std::string name = n.group.empty() ? n.label : n.group + ": " + n.label;
            const char* state = c->enabled ? "" : "  (disabled)";
            switch (n.kind) {
            case ControlKind::RadioButton:
                std::fprintf(out, "  %-34s %s%s\n", name.c_str(), c->checked ? "(*)" : "( )", state);
                break;
            case ControlKind::CheckBox:
                std::fprintf(out, "  %-34s %s%s\n", name.c_str(), c->checked ? "[x]" : "[ ]", state);
                break;
            case ControlKind::CustEdit:
                std::fprintf(out, "  %-34s %s%s\n", name.c_str(), c->text.c_str(), state);
                break;
            default:
                break;
            }
        }
    }
}

}  // namespace dunsmere
