// Writes the bundle's description, manifest.ttl and vanto.ttl, into the
// folder it is given: the plugin's ports, and its parameters from the one
// table the plugin itself answers by.

#include <cstdio>
#include <fstream>
#include <string>

#include "plugin/plugin_parameters.h"

namespace {

const char* const Prefixes =
    "@prefix atom: <http://lv2plug.in/ns/ext/atom#> .\n"
    "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
    "@prefix log: <http://lv2plug.in/ns/ext/log#> .\n"
    "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
    "@prefix midi: <http://lv2plug.in/ns/ext/midi#> .\n"
    "@prefix patch: <http://lv2plug.in/ns/ext/patch#> .\n"
    "@prefix rdf: <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
    "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
    "@prefix rsz: <http://lv2plug.in/ns/ext/resize-port#> .\n"
    "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n"
    "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n"
    "@prefix work: <http://lv2plug.in/ns/ext/worker#> .\n\n";

std::string uriOf(const char* key)
{
    return std::string("<") + VantoParameterPrefix + key + ">";
}

std::string number(const PluginParameter& p, double value)
{
    if (p.type == ParameterType::Bool)
        return value != 0 ? "true" : "false";
    char text[32];
    std::snprintf(text, sizeof text, p.type == ParameterType::Float ? "%.1f" : "%.0f", value);
    return text;
}

std::string scalePoint(const char* label, int value)
{
    return " ;\n    lv2:scalePoint [ rdfs:label \"" + std::string(label) + "\" ; rdf:value " + std::to_string(value) + " ]";
}

std::string parameterText(const PluginParameter& p)
{
    static const char* const ranges[] = {"atom:Int", "atom:Float", "atom:Bool"};
    std::string text = uriOf(p.key) + "\n    a lv2:Parameter ;\n    rdfs:label \"" + p.label + "\" ;\n    rdfs:range " +
                       ranges[static_cast<int>(p.type)] + " ;\n    lv2:default " + number(p, p.get(defaultSettings()));
    if (p.type != ParameterType::Bool)
        text += " ;\n    lv2:minimum " + number(p, p.minimum) + " ;\n    lv2:maximum " + number(p, p.maximum);
    if (std::string(p.key) == "inputChannel")
        text += scalePoint("All", 0);
    else if (std::string(p.key) == "outputMode")
        for (int mode = 0; mode < OutputModeCount; ++mode)
            text += scalePoint(OutputModeNames[mode], mode);
    else if (p.maximum == NoKey)
        text += scalePoint("None", NoKey);
    return text + " .\n\n";
}

std::string port(const char* direction, int index, const char* symbol, const char* name)
{
    return std::string("[\n        a lv2:") + direction + ", atom:AtomPort ;\n" +
           "        atom:bufferType atom:Sequence ;\n"
           "        atom:supports midi:MidiEvent, patch:Message ;\n"
           "        lv2:designation lv2:control ;\n"
           "        rsz:minimumSize 16384 ;\n"
           "        lv2:index " + std::to_string(index) + " ;\n        lv2:symbol \"" + symbol +
           "\" ;\n        lv2:name \"" + name + "\"\n    ]";
}

std::string pluginText()
{
    std::string text = Prefixes;
    text += uriOf(ScaleFileKey) + "\n    a lv2:Parameter ;\n    rdfs:label \"Scale File\" ;\n    rdfs:range atom:Path .\n\n";
    text += uriOf(MappingFileKey) +
            "\n    a lv2:Parameter ;\n    rdfs:label \"Keyboard Mapping File\" ;\n    rdfs:range atom:Path .\n\n";
    text += uriOf(StatusKey) + "\n    a lv2:Parameter ;\n    rdfs:label \"Status\" ;\n    rdfs:range atom:String .\n\n";
    for (int i = 0; i < PluginParameterCount; ++i)
        text += parameterText(PluginParameters[i]);
    text += std::string("<") + VantoPluginUri +
            ">\n    a lv2:Plugin, lv2:MIDIPlugin ;\n    doap:name \"Vanto\" ;\n"
            "    rdfs:comment \"Retunes the notes of a MIDI keyboard to a scale, for a 12-tone synthesizer.\" ;\n"
            "    lv2:requiredFeature urid:map, work:schedule ;\n"
            "    lv2:optionalFeature lv2:hardRTCapable, log:log, state:mapPath ;\n"
            "    lv2:extensionData work:interface, state:interface ;\n"
            "    patch:writable " + uriOf(ScaleFileKey) + ", " + uriOf(MappingFileKey);
    for (int i = 0; i < PluginParameterCount; ++i)
        text += ",\n        " + uriOf(PluginParameters[i].key);
    text += " ;\n    patch:readable " + uriOf(StatusKey) + " ;\n    lv2:port " +
            port("InputPort", 0, "midi_in", "MIDI In") + ", " + port("OutputPort", 1, "midi_out", "MIDI Out") +
            " .\n";
    return text;
}

std::string manifestText()
{
    return std::string("@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
                       "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n\n<") +
           VantoPluginUri + ">\n    a lv2:Plugin ;\n    lv2:binary <vanto.so> ;\n    rdfs:seeAlso <vanto.ttl> .\n";
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: vanto-lv2-description FOLDER\n", stderr);
        return 2;
    }
    const std::string folder = argv[1];
    std::ofstream(folder + "/manifest.ttl") << manifestText();
    std::ofstream plugin(folder + "/vanto.ttl");
    plugin << pluginText();
    return plugin.good() ? 0 : 1;
}
