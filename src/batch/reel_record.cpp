#include "batch/reel_record.h"

#include <nlohmann/json.hpp>

#include <stdexcept>
#include <utility>

namespace veltrana::batch {

namespace {

using nlohmann::json;

json inputsJson(const std::vector<RecordedInput>& inputs) {
    json list = json::array();
    for (const RecordedInput& input : inputs) {
        json entry = {{"name", input.name}, {"size", input.size}, {"mtime", input.mtime}};
        if (!input.md5.empty()) {
            entry["md5"] = input.md5;
        }
        list.push_back(std::move(entry));
    }
    return list;
}

json outputsJson(const std::vector<RecordedOutput>& outputs) {
    json list = json::array();
    for (const RecordedOutput& output : outputs) {
        list.push_back({{"name", output.name}, {"md5", output.md5}});
    }
    return list;
}

// A record names a number json cannot hold in the field, or one with a
// fraction: json's own get<>() would convert it without a word, and a number
// past the field's range is undefined there.
struct NotAWholeNumber : std::runtime_error {
    explicit NotAWholeNumber(const char* key)
        : std::runtime_error(std::string("\"") + key + "\" is not a whole number in range") {}
};

template <typename Integer> Integer wholeNumberAt(const json& object, const char* key) {
    const json& value = object.at(key);
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (std::in_range<Integer>(number)) {
            return static_cast<Integer>(number);
        }
    } else if (value.is_number_integer()) {
        const auto number = value.get<std::int64_t>();
        if (std::in_range<Integer>(number)) {
            return static_cast<Integer>(number);
        }
    }
    throw NotAWholeNumber(key);
}

// Reads the lists back; throws json's own exceptions on a wrong type.
void readLists(const json& object, ReelRecord& record) {
    for (const json& entry : object.at("inputs")) {
        RecordedInput input;
        input.name = entry.at("name").get<std::string>();
        input.size = wholeNumberAt<std::uintmax_t>(entry, "size");
        input.mtime = entry.at("mtime").get<std::string>();
        input.md5 = entry.value("md5", std::string());
        record.inputs.push_back(std::move(input));
    }
    for (const json& entry : object.at("outputs")) {
        record.outputs.push_back(
            {entry.at("name").get<std::string>(), entry.at("md5").get<std::string>()});
    }
}

} // namespace

std::string recordJson(const ReelRecord& record) {
    json settings = json::parse(record.settingsJson, nullptr, false);
    const json object = {
        {"id", record.id},
        {"status", record.status},
        {"exit_status", record.exitStatus},
        {"message", record.message},
        {"settings", settings.is_discarded() ? json::object() : settings},
        {"version", record.version},
        {"inputs", inputsJson(record.inputs)},
        {"outputs", outputsJson(record.outputs)},
        {"frames", record.frames},
        {"frames_lost", record.framesLost},
        {"started", record.started},
        {"seconds", record.seconds},
    };
    // invalid UTF-8 in a message (a file name) is replaced, never fatal
    return object.dump(1, ' ', false, json::error_handler_t::replace) + "\n";
}

Result<ReelRecord> readRecord(std::string_view text) {
    const json object = json::parse(text, nullptr, false);
    if (object.is_discarded() || !object.is_object()) {
        return Status::failure("the record is not a JSON object");
    }
    try {
        ReelRecord record;
        record.id = object.at("id").get<std::string>();
        record.status = object.at("status").get<std::string>();
        record.exitStatus = wholeNumberAt<int>(object, "exit_status");
        record.message = object.at("message").get<std::string>();
        record.settingsJson = object.at("settings").dump();
        record.version = object.at("version").get<std::string>();
        readLists(object, record);
        record.frames = wholeNumberAt<int>(object, "frames");
        record.framesLost = wholeNumberAt<int>(object, "frames_lost");
        record.started = object.at("started").get<std::string>();
        record.seconds = object.at("seconds").get<double>();
        return record;
    } catch (const json::exception& e) {
        return Status::failure(std::string("the record is incomplete: ") + e.what());
    } catch (const NotAWholeNumber& e) {
        return Status::failure(std::string("the record is damaged: ") + e.what());
    }
}

} // namespace veltrana::batch
