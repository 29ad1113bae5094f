#include "GpsdReply.h"

#include <nlohmann/json.hpp>

namespace platform {

namespace {

using nlohmann::json;

std::string StringMember(const json &object, const char *key) {
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

GpsdDevice DeviceOf(const json &object) {
    GpsdDevice device;
    device.path = StringMember(object, "path");
    device.driver = StringMember(object, "driver");
    const auto flags = object.find("flags");
    if (flags != object.end() && flags->is_number_integer())
        device.flags = static_cast<int>(flags->get<long long>() & 0xFFFF);
    return device;
}

} // namespace

GpsdReply ParseGpsdReply(std::string_view line) {
    GpsdReply reply;
    const json object = json::parse(line.begin(), line.end(), nullptr, false);
    if (object.is_discarded() || !object.is_object())
        return reply;
    reply.kind = GpsdReply::Kind::Other;
    reply.device = StringMember(object, "device");
    const std::string cls = StringMember(object, "class");
    if (cls == "VERSION") {
        reply.kind = GpsdReply::Kind::Version;
    } else if (cls == "WATCH") {
        reply.kind = GpsdReply::Kind::Watch;
    } else if (cls == "ERROR") {
        reply.kind = GpsdReply::Kind::Error;
        reply.message = StringMember(object, "message");
    } else if (cls == "DEVICE") {
        reply.kind = GpsdReply::Kind::Device;
        reply.devices.push_back(DeviceOf(object));
    } else if (cls == "DEVICES") {
        reply.kind = GpsdReply::Kind::Devices;
        const auto list = object.find("devices");
        if (list != object.end() && list->is_array())
            for (const json &entry : *list)
                if (entry.is_object() && !StringMember(entry, "path").empty())
                    reply.devices.push_back(DeviceOf(entry));
    }
    return reply;
}

std::string FirstSendingDevice(const std::vector<GpsdDevice> &devices) {
    for (const GpsdDevice &device : devices)
        if (device.SendsGps() && !device.path.empty())
            return device.path;
    return {};
}

} // namespace platform
