#include "app/command/panel_options.h"

namespace dunsmere {

void ApplyOptions(const Panel& panel, const CommandOptions& o)
{
    if (o.algorithm && panel.Algorithm() != o.algorithm) panel.Press(NameOf(*o.algorithm));
    if (o.distance) panel.Type("distance", *o.distance);
    if (o.horizontal) panel.Type("horizontal", *o.horizontal);
    if (o.vertical) panel.Type("vertical", *o.vertical);
    if (o.width) panel.Type("width", *o.width);
    if (o.height) panel.Type("height", *o.height);
    if (o.mapChannel) panel.Type("map-channel", *o.mapChannel);
    if (o.noiseSize) panel.Type("noise-size", *o.noiseSize);
    if (o.materialId) panel.Type("material-id", *o.materialId);
    if (o.padding) panel.Type("padding", *o.padding);
    if (o.supersample) panel.Type("supersample", *o.supersample);
    if (o.selectedOnly) panel.Tick("selected-only", *o.selectedOnly);
    if (o.noise) panel.Tick("noise", *o.noise);
    if (o.materialFilter) panel.Tick("material-filter", *o.materialFilter);
    if (o.accumulate) panel.Tick("accumulate", *o.accumulate);
    if (o.coverageAlpha) panel.Tick("coverage-alpha", *o.coverageAlpha);
    if (o.invert) panel.Tick("invert", *o.invert);
    if (o.evenRing) panel.Tick("even-ring", *o.evenRing);
    if (o.sceneOccluders) panel.Tick("scene-occluders", *o.sceneOccluders);
}

}  // namespace dunsmere
