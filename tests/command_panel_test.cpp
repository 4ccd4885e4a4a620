// The command finds the panel's controls as a user does, by what they say
// and where they stand; these pages give the controls ids of their own, so
// that a control found by a re-typed id would not be found at all.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/command/panel_options.h"
#include "app/session/panel.h"

using namespace dunsmere;

namespace {

INT_PTR Quiet(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// The map-size edits' ids run against their left-to-right order.
constexpr ControlTemplate kControls[] = {
    {-1, ControlKind::CentredText, "A Title", 7, 7, 94, 12},
    {-1, ControlKind::GroupBox, "Algorithm", 7, 21, 94, 40},
    {71, ControlKind::RadioButton, "UV Map", 20, 32, 42, 10},
    {72, ControlKind::RadioButton, "Vertex Colors", 20, 44, 57, 10},
    {-1, ControlKind::Text, "Distance :", 15, 75, 33, 10},
    {33, ControlKind::CustEdit, nullptr, 60, 75, 25, 10},
    {-1, ControlKind::GroupBox, "Map Size", 7, 148, 94, 28},
    {55, ControlKind::CustEdit, nullptr, 60, 159, 25, 10},
    {-1, ControlKind::CentredText, "x", 50, 159, 8, 10},
    {44, ControlKind::CustEdit, nullptr, 14, 159, 25, 10},
    {-1, ControlKind::GroupBox, "Filter by Material ID", 7, 232, 94, 33},
    {66, ControlKind::CheckBox, "On", 13, 242, 25, 10},
    {-1, ControlKind::Text, "ID", 37, 251, 18, 10},
    {88, ControlKind::CustEdit, nullptr, 59, 251, 25, 10},
    {-1, ControlKind::Text, "Map Channel", 8, 182, 47, 10},
    {99, ControlKind::CustEdit, nullptr, 60, 182, 25, 10},
};
constexpr DialogTemplate kPage{500, nullptr, 108, 323, "MS Sans Serif", 8, kControls,
                               static_cast<int>(sizeof kControls / sizeof kControls[0])};

std::string Printed(const Panel& panel)
{
    char* text = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    panel.Print(out);
    std::fclose(out);
    std::string s(text, size);
    std::free(text);
    return s;
}

TEST(CommandPanel, FindsControlsByCaptionLabelGroupAndOrder)
{
    DialogWindow page(kPage, &Quiet, nullptr);
    const Panel panel(&page);
    EXPECT_EQ(panel.Algorithm(), BakeAlgorithm::kUVMap);  // none checked: the first

    CommandOptions o;
    o.algorithm = BakeAlgorithm::kVertexColors;
    o.distance = 12.5f;
    o.width = 300;
    o.height = 77;
    o.materialFilter = true;
    o.materialId = 3;
    o.mapChannel = 4;
    ApplyOptions(panel, o);

    EXPECT_EQ(panel.Algorithm(), BakeAlgorithm::kVertexColors);
    EXPECT_TRUE(page.Control(72)->checked);
    EXPECT_EQ(page.Control(33)->text, "12.5");
    EXPECT_EQ(page.Control(44)->text, "300");  // the left one is X
    EXPECT_EQ(page.Control(55)->text, "77");
    const MapFaceFilter filter = panel.MapFilter();
    EXPECT_EQ(filter.mapChannel, 4);
    EXPECT_TRUE(filter.materialFilter);
    EXPECT_EQ(filter.materialID, 3);
    EXPECT_FALSE(filter.selectedOnly);  // this page has no such box

    EXPECT_EQ(Printed(panel),
              "A Title\n"
              "  Algorithm: UV Map                  ( )\n"
              "  Algorithm: Vertex Colors           (*)\n"
              "  Distance                           12.5\n"
              "  Map Size: Y                        77\n"
              "  Map Size: X                        300\n"
              "  Filter by Material ID: On          [x]\n"
              "  Filter by Material ID: ID          3\n"
              "  Map Channel                        4\n");
}

}  // namespace
