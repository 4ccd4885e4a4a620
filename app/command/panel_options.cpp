#include "app/command/panel_options.h"

#include "app/command/option_table.h"

namespace dunsmere {

void ApplyOptions(const Panel& panel, const CommandOptions& o)
{
    if (o.algorithm && panel.Algorithm() != o.algorithm) panel.Press(NameOf(*o.algorithm));
    // The numbers in the table's order, then the check boxes in theirs, as a
    // user fills the panel.
    for (const OptionRow& row : kOptionRows) {
        if (row.value.real && o.*row.value.real) panel.Type(row.name, *(o.*row.value.real));
        if (row.value.count && o.*row.value.count) panel.Type(row.name, *(o.*row.value.count));
    }
    for (const OptionRow& row : kOptionRows)
        if (row.value.tick && o.*row.value.tick) panel.Tick(row.name, *(o.*row.value.tick));
}

}  // namespace dunsmere
