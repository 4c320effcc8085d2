// Random keyboard sequences against the note path: the allocation invariants
// hold after every message, every Note On is preceded by its bend, with no
// pedal holding anything a note takes the channel the plain rotation gives,
// and once every key is up nothing is left sounding at the output.

#include <optional>
#include <random>
#include <set>
#include <utility>

#include <gtest/gtest.h>

#include "engine/engine_lock.h"
#include "engine/input_dispatch.h"
#include "engine/output_senders.h"
#include "engine/scale_in_force.h"
#include "support/engine_fixture.h"
#include "support/scale_builder.h"

namespace {

// What a synthesizer would have sounding, fed from the recorded output: keys
// down, and released keys that a channel's sustain or sostenuto pedal holds.
// A bend that moves a channel while any of them sounds is a fault.
class SoundingModel {
public:
    void apply(const ShortMessage& m)
    {
        Channel& c = channels_[m.channel()];
        if (m.kind() == 0x90 && m.data2 != 0) {
            c.down.insert(m.data1);
        } else if (m.kind() == 0x80 || m.kind() == 0x90) {
            if (c.down.erase(m.data1) && c.sustain)
                c.held.insert(m.data1);
        } else if (m.kind() == 0xB0) {
            pedal(c, m.data1, m.data2 >= 64);
        } else if (m.kind() == 0xE0) {
            const int value = m.data1 | (m.data2 << 7);
            rebentWhileSounding += value != c.bend && !(c.down.empty() && c.held.empty() && c.caught.empty());
            c.bend = value;
        }
    }
    size_t soundingCount() const
    {
        size_t n = 0;
        for (const Channel& c : channels_)
            n += c.down.size();
        return n;
    }
    int rebentWhileSounding = 0;

private:
    struct Channel {
        std::set<int> down, held, caught;  // held: by the sustain pedal; caught: by sostenuto
        bool sustain = false;
        bool sostenuto = false;
        int bend = -1;
    };
    static void pedal(Channel& c, int controller, bool isDown)
    {
        if (controller == 64) {
            c.sustain = isDown;
            if (!isDown)
                c.held.clear();
        } else if (controller == 66 && isDown != c.sostenuto) {  // it catches as it goes down
            c.sostenuto = isDown;
            c.caught = isDown ? c.down : std::set<int>{};
        } else if (controller == 123) {
            c.down.clear();
            c.held.clear();
            c.caught.clear();
        }
    }
    Channel channels_[16];
};

class NotePropertyTest : public EngineTest {
protected:
    std::mt19937 rng{20261207};

    int uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); }
    bool chance(int percent) { return uniform(1, 100) <= percent; }

    uint8_t randomCommandKey() { return chance(20) ? NoKey : static_cast<uint8_t>(uniform(30, 45)); }

    void randomiseSettings()
    {
        engine.settings = defaultSettings();
        for (int32_t& used : engine.settings.useChannel)
            used = chance(70) ? 1 : 0;
        engine.settings.inputChannel = chance(70) ? AllChannels : static_cast<uint8_t>(uniform(0, 3));
        engine.settings.commandKey = randomCommandKey();
        engine.settings.demodulateKey = randomCommandKey();
        engine.settings.resetPitchKey = randomCommandKey();
        engine.settings.initMessageKey = randomCommandKey();
        engine.settings.shiftCentre = uniform(0, 1);
        engine.settings.pitchWheelRange = static_cast<uint8_t>(uniform(0, 24));
        engine.settings.initEventCount = 2;
        engine.settings.initMessage[0] = {0xC0, 16, 3, 0};
        engine.settings.initMessage[1] = {0xB0, 2, 7, 100};
        for (int32_t& r : engine.settings.relay)
            r = uniform(0, 1);
        const int kind = uniform(0, 3);
        if (kind == 0)
            engine.setDefaultScale();
        else if (kind == 1)
            engine.installScale(makeScale({9.0 / 8, 5.0 / 4, 4.0 / 3, 3.0 / 2, 5.0 / 3, 15.0 / 8, 2.0}));
        else if (kind == 2)
            engine.installScale(equalScale(13, 3.0));
        else
            engine.installScale(equalScale(uniform(1, 40), 2.0, 261.626, static_cast<uint8_t>(uniform(0, 127))));
        engine.buildTuningTable();
        engine.noteAllocation = initialNoteAllocation();  // no pedal left down by the last sequence
        engine.resetChannels();
    }

    void expectInvariants()
    {
        int counts[16] = {};
        for (int k = 0; k < 128; ++k) {
            const int slot = engine.noteAllocation.keyChannel[k];
            if (slot == 0)
                continue;
            ASSERT_LE(slot, 16);
            ++counts[slot - 1];
            ASSERT_NE(engine.settings.useChannel[slot - 1], 0) << "key " << k << " on an unused channel";
            const uint16_t group = engine.noteAllocation.channelSlot[slot - 1].group;
            ASSERT_TRUE(group == NoGroup || group == engine.tuningTable.bendGroup[k]) << "key " << k;
        }
        for (int c = 0; c < 16; ++c)
            ASSERT_EQ(engine.noteAllocation.channelSlot[c].noteCount, counts[c]) << "channel " << c;
        ASSERT_LT(engine.noteAllocation.lastTunedChannel, 16);
    }

    bool pedalsHoldNothing() const
    {
        for (const ChannelSlot& slot : engine.noteAllocation.channelSlot) {
            if (slot.sustainedCount || slot.sostenutoCount)
                return false;
        }
        return true;
    }

    // Where a note goes with no pedal holding anything and no release time:
    // its group's channel, else the first free used channel after the last
    // retuned one, wrapping; -1 when it is dropped. None if the rule does not apply.
    std::optional<int> plainRotationChoice(uint8_t status, uint8_t key, uint8_t velocity) const
    {
        const NoteAllocation& a = engine.noteAllocation;
        const bool heard = engine.settings.inputChannel == AllChannels || (status & 0x0F) == engine.settings.inputChannel;
        if (engine.settings.mpeController || (status & 0xF0) != 0x90 || velocity == 0 || !heard || a.commandState != CommandIdle ||
            a.keyChannel[key] != 0 || key == engine.settings.commandKey || !pedalsHoldNothing())
            return std::nullopt;
        for (int c = 0; c < 16; ++c) {
            if (engine.settings.useChannel[c] && a.channelSlot[c].group == engine.tuningTable.bendGroup[key])
                return c;
        }
        for (int i = 1; i <= 16; ++i) {
            const int c = (a.lastTunedChannel + i) % 16;
            if (engine.settings.useChannel[c] && a.channelSlot[c].noteCount == 0)
                return c;
        }
        return -1;
    }

    void send(uint8_t status, uint8_t data1, uint8_t data2)
    {
        const size_t before = output.shortMessages.size();
        const std::optional<int> expected = plainRotationChoice(status, data1, data2);
        engine.handleMidiInput(nullptr, MimData, 0, packShortMessage(status, 0, data1, data2), 0);
        if (expected) {
            ASSERT_EQ(engine.noteAllocation.keyChannel[data1] - 1, *expected) << "key " << int(data1);
        }
        for (size_t i = before; i < output.shortMessages.size(); ++i) {
            const ShortMessage& m = output.shortMessages[i];
            if (m.kind() == 0x90 && m.data2 != 0 && (status & 0xF0) == 0x90 && !engine.settings.mpeController) {
                ASSERT_GT(i, before);
                const ShortMessage& bend = output.shortMessages[i - 1];
                ASSERT_EQ(bend.status, 0xE0 | m.channel()) << "no bend before " << m;
            }
        }
    }

    void runSequence(int length)
    {
        std::set<std::pair<int, int>> down;  // (input channel, key)
        for (int step = 0; step < length; ++step) {
            const int what = uniform(0, 99);
            if (what < 45) {
                const int channel = uniform(0, 3);
                const int key = chance(30) ? uniform(30, 45) : uniform(0, 127);
                if (down.insert({channel, key}).second)
                    send(static_cast<uint8_t>(0x90 | channel), static_cast<uint8_t>(key), static_cast<uint8_t>(uniform(1, 127)));
            } else if (what < 85 && !down.empty()) {
                auto it = std::next(down.begin(), uniform(0, static_cast<int>(down.size()) - 1));
                const uint8_t status = static_cast<uint8_t>((chance(50) ? 0x80 : 0x90) | it->first);
                send(status, static_cast<uint8_t>(it->second), status >= 0x90 ? 0 : static_cast<uint8_t>(uniform(0, 127)));
                down.erase(it);
            } else if (what < 90) {
                send(0xB0, chance(70) ? SustainController : SostenutoController, chance(50) ? 127 : 0);
            } else if (what < 95) {
                const uint8_t statuses[] = {0xA0, 0xB0, 0xC0, 0xD0, 0xE0, 0xF8, 0xFE, 0xF4};
                send(statuses[uniform(0, 7)], static_cast<uint8_t>(uniform(0, 127)), static_cast<uint8_t>(uniform(0, 127)));
            } else if (what < 97) {
                EngineLock lock(engine.engineMutex);
                engine.resetChannels();
            } else {
                EngineLock lock(engine.engineMutex);
                engine.settings.relay[uniform(0, 8)] = uniform(0, 1);
            }
            applyToModel();
            expectInvariants();
            if (HasFatalFailure())
                return;
        }
        for (const auto& [channel, key] : down)
            send(static_cast<uint8_t>(0x80 | channel), static_cast<uint8_t>(key), 0);
        applyToModel();
        expectInvariants();
    }

    void applyToModel()
    {
        for (; modelled < output.shortMessages.size(); ++modelled)
            model.apply(output.shortMessages[modelled]);
    }

    SoundingModel model;
    size_t modelled = 0;
};

TEST_F(NotePropertyTest, RandomSequencesKeepTheInvariantsAndLeaveNothingSounding)
{
    for (int sequence = 0; sequence < 3000; ++sequence) {
        output.clear();
        model = SoundingModel{};
        modelled = 0;
        randomiseSettings();
        output.clear();
        runSequence(uniform(10, 150));
        ASSERT_FALSE(HasFatalFailure()) << "sequence " << sequence;
        ASSERT_EQ(model.soundingCount(), 0u) << "stuck notes after sequence " << sequence;
        ASSERT_EQ(model.rebentWhileSounding, 0) << "a sounding note was bent in sequence " << sequence;
        ASSERT_EQ(output.malformedWords, 0);
    }
}

// An MPE controller in every output mode: each held note has a channel (or
// in MIDI Tuning an output key) of its own, the counts agree, and once every
// note is up nothing is left sounding, whatever bends, pressure and timbre
// went between.
TEST_F(NotePropertyTest, AnMpeControllerLeavesNothingSoundingInAnyOutputMode)
{
    for (int sequence = 0; sequence < 600; ++sequence) {
        randomiseSettings();
        engine.settings.mpeController = 1;
        engine.settings.outputMode = uniform(0, OutputModeCount - 1);
        engine.settings.pitchWheelUse = uniform(0, 1);
        engine.buildTuningTable();
        engine.resetChannels();
        output.clear();
        model = SoundingModel{};
        modelled = 0;
        std::set<std::pair<int, int>> down;
        for (int step = uniform(10, 150); step > 0; --step) {
            const auto channel = static_cast<uint8_t>(uniform(0, 15));
            const int what = uniform(0, 99);
            if (what < 35) {
                const int key = uniform(36, 84);
                if (down.insert({channel, key}).second)
                    send(static_cast<uint8_t>(0x90 | channel), static_cast<uint8_t>(key), 100);
            } else if (what < 60 && !down.empty()) {
                auto it = std::next(down.begin(), uniform(0, static_cast<int>(down.size()) - 1));
                send(static_cast<uint8_t>(0x80 | it->first), static_cast<uint8_t>(it->second), 0);
                down.erase(it);
            } else {
                const uint8_t statuses[] = {0xE0, 0xD0, 0xB0, 0xA0};
                const uint8_t status = statuses[uniform(0, 3)];
                const auto data1 = static_cast<uint8_t>(status == 0xB0 ? (chance(70) ? 74 : SustainController) : uniform(0, 127));
                send(static_cast<uint8_t>(status | channel), data1, static_cast<uint8_t>(uniform(0, 127)));
            }
            applyToModel();
            const NoteAllocation& a = engine.noteAllocation;
            const bool byKey = engine.settings.outputMode == OutputMidiTuning;
            int counts[128] = {};
            for (int note = 0; note < NoteIdCount; ++note) {
                if (a.keyChannel[note] != 0)
                    ++counts[byKey ? a.keyOutputNote[note] : a.keyChannel[note] - 1];
            }
            for (int i = 0; i < (byKey ? 128 : 16); ++i) {
                const ChannelSlot& slot = byKey ? a.keySlot[i] : a.channelSlot[i];
                ASSERT_EQ(slot.noteCount, counts[i]) << "sequence " << sequence << ", " << (byKey ? "key " : "channel ") << i;
                ASSERT_LE(counts[i], 1) << "notes share " << (byKey ? "key " : "channel ") << i;
            }
        }
        for (const auto& [channel, key] : down)
            send(static_cast<uint8_t>(0x80 | channel), static_cast<uint8_t>(key), 0);
        applyToModel();
        ASSERT_EQ(model.soundingCount(), 0u) << "stuck notes after sequence " << sequence << " in mode "
                                             << engine.settings.outputMode;
        ASSERT_EQ(output.malformedWords, 0);
    }
}

}  // namespace
