// The plugin's entry points: what LV2 hosts call, handed to the instance.

#include <lv2/core/lv2.h>
#include <lv2/state/state.h>
#include <lv2/worker/worker.h>

#include <cstring>

#include "plugin/vanto_plugin.h"

namespace {

VantoPlugin& instance(LV2_Handle handle)
{
    return *static_cast<VantoPlugin*>(handle);
}

LV2_Handle instantiate(const LV2_Descriptor*, double, const char*, const LV2_Feature* const* features)
{
    return VantoPlugin::create(features).release();
}

void connectPort(LV2_Handle handle, uint32_t port, void* data)
{
    instance(handle).connectPort(port, data);
}

void activate(LV2_Handle handle)
{
    instance(handle).activate();
}

void run(LV2_Handle handle, uint32_t frames)
{
    instance(handle).run(frames);
}

void cleanup(LV2_Handle handle)
{
    delete &instance(handle);
}

LV2_Worker_Status work(LV2_Handle handle, LV2_Worker_Respond_Function respond, LV2_Worker_Respond_Handle respondHandle,
                       uint32_t size, const void* data)
{
    return instance(handle).work(respond, respondHandle, size, data);
}

LV2_Worker_Status workResponse(LV2_Handle handle, uint32_t size, const void* data)
{
    return instance(handle).workResponse(size, data);
}

LV2_State_Status save(LV2_Handle handle, LV2_State_Store_Function store, LV2_State_Handle stateHandle, uint32_t,
                      const LV2_Feature* const* features)
{
    return instance(handle).save(store, stateHandle, features);
}

LV2_State_Status restore(LV2_Handle handle, LV2_State_Retrieve_Function retrieve, LV2_State_Handle stateHandle,
                         uint32_t, const LV2_Feature* const* features)
{
    return instance(handle).restore(retrieve, stateHandle, features);
}

const void* extensionData(const char* uri)
{
    static const LV2_Worker_Interface worker = {work, workResponse, nullptr};
    static const LV2_State_Interface state = {save, restore};
    if (std::strcmp(uri, LV2_WORKER__interface) == 0)
        return &worker;
    if (std::strcmp(uri, LV2_STATE__interface) == 0)
        return &state;
    return nullptr;
}

const LV2_Descriptor descriptor = {
    VantoPluginUri, instantiate, connectPort, activate, run, nullptr, cleanup, extensionData,
};

}  // namespace

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &descriptor : nullptr;
}
