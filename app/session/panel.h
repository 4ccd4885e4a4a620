// The plug-in's panel as a user sees it: its rollup pages, one after the
// other. A control is known by its caption, or for an edit by the text to
// its left, together with the group box around it; two edits on one line of
// a group are a pair named X and Y from left to right. The name of each
// control (the command line's option) is one fixed table in panel.cpp; a
// client knows no control id and no algorithm code.
//
// User-interface thread only; the pages must outlive the panel.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/session/bake_algorithm.h"
#include "host/dialog.h"
#include "host/face_rule.h"

namespace dunsmere {

class Panel {
public:
    // One rollup page and the title the host shows above it.
    struct Page {
        HWND window;
        std::string title;
    };

    // Reads the pages' controls as their templates lay them out.
    explicit Panel(const std::vector<Page>& pages);
    explicit Panel(HWND page) : Panel(std::vector<Page>{{page, ""}}) {}

    // Types a number into an edit (int or float, shown as the panel would),
    // or ticks a check box, by its name, as a user would; a name the panel
    // has no control for is left out.
    template <class Number>
    void Type(std::string_view option, Number value) const;
    void Tick(std::string_view option, bool on) const;
    // Whether NAME names a control of the panel.
    bool Has(std::string_view name) const { return Find(name) != nullptr; }

    // Presses a push button by its command-line name ("generate", "about").
    void Press(std::string_view name) const;

    // The checked algorithm; the first one when none is checked, none
    // when the panel has no algorithm buttons.
    std::optional<BakeAlgorithm> Algorithm() const;

    // What a map run will be told to bake, read from the controls as they
    // stand (an edit's text read as the panel reads it).
    MapFaceFilter MapFilter() const;

    // Page by page: its title (the centred text at its top, else the
    // host's title for it), then every button, check box and edit with its
    // group and name, its value and whether it is enabled.
    void Print(std::FILE* out) const;

    // Whether a check box is ticked, and an edit's text read as a float as
    // the panel reads it (0 for an option the panel has no control for).
    bool IsTicked(std::string_view option) const { return Ticked(option); }
    float ReadFloat(std::string_view option) const;

    // The limits of the float spinner linked to an edit, as the plug-in set
    // them up; nullopt when the edit has no float spinner.
    struct Limits {
        float min = 0.0f, max = 0.0f;
    };
    std::optional<Limits> SpinnerLimits(std::string_view option) const;
    // The same for a spinner of either kind, a whole number's as a float.
    std::optional<Limits> AnySpinnerLimits(std::string_view option) const;

private:
    // One control, as the user names it.
    struct Named {
        HWND page;
        int id;             // the template's, found here
        ControlKind kind;
        std::string group;  // the group box around it; "" for none
        std::string label;  // its caption, the text to its left, or X / Y
        const char* option; // its command-line name; null when it has none
    };

    const Named* Find(std::string_view option) const;
    const DialogControl* Control(std::string_view option) const;
    bool Ticked(std::string_view option) const;
    int ReadInt(std::string_view option) const;

    void ReadPage(const Page& page);

    std::vector<Page> pages_;      // each with the title printed above it
    std::vector<Named> controls_;  // page by page, in template order
};

}  // namespace dunsmere
