#pragma once
// The plugin's parameters: each setting a host shows and automates, with its
// URI, its range and where it lives in the settings. One table, from which
// the plugin answers the host and the bundle's description is written.

#include <cstdint>

#include "engine/settings.h"

inline constexpr const char* VantoPluginUri = "urn:vanto:relay";
// A parameter's URI is this prefix and its key.
inline constexpr const char* VantoParameterPrefix = "urn:vanto:relay#";

enum class ParameterType { Int, Float, Bool };

struct PluginParameter {
    const char* key;    // "pitchWheelRange"
    const char* label;  // "Pitch Wheel Range", as the program names it
    ParameterType type;
    double minimum;
    double maximum;
    double (*get)(const Settings& s);
    void (*set)(Settings& s, double value);  // value within minimum..maximum
    // A change needs the instrument prepared again: the channel reset and
    // the pitch-wheel range, as after Midi Setup in the program.
    bool retunes;
};

constexpr int MaxPluginParameters = 64;
extern const PluginParameter PluginParameters[];
extern const int PluginParameterCount;  // at most MaxPluginParameters

// value limited to the parameter's range, rounded for Int and Bool.
double limitedValue(const PluginParameter& p, double value);

// The file parameters: paths (atom:Path), read on the worker thread.
inline constexpr const char* ScaleFileKey = "scaleFile";
inline constexpr const char* MappingFileKey = "mappingFile";
// What the last file load said: read-only (atom:String).
inline constexpr const char* StatusKey = "status";
