#pragma once
// FluidSynth as the 12-tone synthesizer behind the relay, rendering offline,
// each MIDI channel into an audio buffer of its own. The soundfont and the
// program are chosen here, in one place.

#include <fluidsynth.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/midi_device.h"
#include "synth/pitch_estimator.h"

namespace rig {

// Debian's smallest General MIDI soundfont (csound-soundfont, 4 MB), and in
// it the Reed Organ: a steady tone without vibrato that sustains as long as
// the key is held.
inline constexpr const char* SoundFont = "/usr/share/sounds/sf2/sf_GMbank.sf2";
inline constexpr int Program = 20;
inline constexpr double Rate = 48000.0;

// How long a note sounds before it is measured, and which part is measured.
inline constexpr double SustainSeconds = 0.45;
inline constexpr double MeasureFromSeconds = 0.15;
inline constexpr double ReleaseSeconds = 0.5;

class Synth : public MidiOutput {
public:
    Synth()
    {
        fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
        fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
        settings_ = new_fluid_settings();
        fluid_settings_setnum(settings_, "synth.sample-rate", Rate);
        fluid_settings_setint(settings_, "synth.reverb.active", 0);
        fluid_settings_setint(settings_, "synth.chorus.active", 0);
        fluid_settings_setint(settings_, "synth.audio-channels", 16);
        fluid_settings_setint(settings_, "synth.audio-groups", 16);
        fluid_settings_setint(settings_, "synth.polyphony", 256);
        synth_ = new_fluid_synth(settings_);
        if (fluid_synth_sfload(synth_, SoundFont, 1) < 0)
            throw std::runtime_error(std::string("cannot load ") + SoundFont);
        for (int c = 0; c < 16; ++c)
            fluid_synth_program_change(synth_, c, Program);
    }
    ~Synth() override
    {
        delete_fluid_synth(synth_);
        delete_fluid_settings(settings_);
    }
    Synth(const Synth&) = delete;
    Synth& operator=(const Synth&) = delete;

    // Plays a packed short message as a synthesizer on a MIDI cable would.
    void sendShortMessage(uint32_t message) override
    {
        const int status = message & 0xFF;
        const int channel = status & 0x0F;
        const int data1 = (message >> 8) & 0x7F;
        const int data2 = (message >> 16) & 0x7F;
        const int kind = status & 0xF0;
        if (kind == 0x90 && data2 != 0)
            fluid_synth_noteon(synth_, channel, data1, data2);
        else if (kind == 0x80 || kind == 0x90)
            fluid_synth_noteoff(synth_, channel, data1);
        else if (kind == 0xB0)
            fluid_synth_cc(synth_, channel, data1, data2);
        else if (kind == 0xC0)
            fluid_synth_program_change(synth_, channel, data1);
        else if (kind == 0xE0)
            fluid_synth_pitch_bend(synth_, channel, data1 | (data2 << 7));
        ++messages;
    }
    // System Exclusive, as FluidSynth takes it: without F0 and F7.
    bool sendLongMessage(const uint8_t* data, size_t count) override
    {
        if (count < 2 || data[0] != 0xF0 || data[count - 1] != 0xF7)
            return false;
        return fluid_synth_sysex(synth_, reinterpret_cast<const char*>(data + 1), static_cast<int>(count - 2), nullptr,
                                 nullptr, nullptr, 0) == FLUID_OK;
    }

    // Renders seconds of audio; afterwards channel(c) holds MIDI channel c's.
    void render(double seconds)
    {
        const auto frames = static_cast<size_t>(seconds * Rate);
        for (auto& buffer : buffers_)
            buffer.assign(frames, 0.0f);
        std::array<float*, 32> out{};
        for (size_t i = 0; i < out.size(); ++i)
            out[i] = buffers_[i].data();
        fluid_synth_process(synth_, static_cast<int>(frames), 0, nullptr, static_cast<int>(out.size()), out.data());
    }
    const std::vector<float>& channel(int c) const { return buffers_[static_cast<size_t>(2 * c)]; }

    // The fundamental channel c sounds over the measured part of the last render.
    double measure(int c) const
    {
        const std::vector<float>& all = channel(c);
        const auto from = static_cast<size_t>(MeasureFromSeconds * Rate);
        if (all.size() <= from)
            return 0.0;
        return pitch::estimateFundamental(std::vector<float>(all.begin() + static_cast<long>(from), all.end()), Rate);
    }

    fluid_synth_t* raw() { return synth_; }
    long messages = 0;

private:
    fluid_settings_t* settings_;
    fluid_synth_t* synth_;
    std::array<std::vector<float>, 32> buffers_;
};

// How the synthesizer itself tunes each key with its wheel centred, in cents
// from 12-tone equal temperament on 440 Hz: the samples of a soundfont are
// tuned only to a few cents. Measured straight on the synthesizer, once per key.
class KeyTuning {
public:
    double cents(int key)
    {
        auto found = cents_.find(key);
        if (found != cents_.end())
            return found->second;
        fluid_synth_pitch_bend(synth_.raw(), 0, 8192);
        fluid_synth_noteon(synth_.raw(), 0, key, 100);
        synth_.render(SustainSeconds);
        const double measured = synth_.measure(0);
        fluid_synth_noteoff(synth_.raw(), 0, key);
        synth_.render(ReleaseSeconds);
        const double nominal = 440.0 * std::pow(2.0, (key - 69) / 12.0);
        return cents_[key] = pitch::centsBetween(measured, nominal);
    }

private:
    Synth synth_;
    std::map<int, double> cents_;
};

}  // namespace rig
