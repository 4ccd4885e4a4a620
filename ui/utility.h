// The utility object: the one instance of DunsmereUtility holds the user's
// settings, the panel's host interfaces while the panel is open, and every
// per-run structure of the two generations.
#pragma once

#include "eval/run_tables.h"
#include "eval/settings.h"
#include "host/cstr.h"
#include "host/ray.h"

class Interface;
class CrtRand;
class Mesh;
struct Point3;

inline constexpr const char* kSettingsSection = "Dunsmere";
inline constexpr const char* kSettingsFileName = "Dunsmere.ini";

class DunsmereUtility {
public:
    DunsmereUtility() = default;
    virtual ~DunsmereUtility() = default;
    DunsmereUtility(const DunsmereUtility&) = delete;
    DunsmereUtility& operator=(const DunsmereUtility&) = delete;

    // The settings file: the host's plug-in configuration directory followed
    // by "\Dunsmere.ini" (the host's file layer takes '\' as a separator).
    // Without a host, the standalone configuration directory.
    CStr SettingsFilePath() const;
    // Reads the thirteen keys; a missing key takes its load default.
    void LoadSettings();
    // Writes the thirteen keys in one replacement of the file. A failure is
    // silent: the record in memory is what counts.
    void SaveSettings() const;

    // The smurl value of one sample with this object's settings and tables.
    float EvaluateSample(const Mesh& mesh, int face, const Point3& weights, Ray* rayScratch, CrtRand& rng) const;

    void GenerateVertexColors();

    // Set at begin-editing and cleared at end-editing.
    void* hPanel = nullptr;
    void* iu = nullptr;
    Interface* ip = nullptr;

    UtilitySettings settings;

    RunTables run;

private:
    Interface* Core() const;
};
