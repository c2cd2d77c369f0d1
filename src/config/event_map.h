#pragma once

#include <cstdint>
#include <map>
#include <string>

// Names for the numeric event types and control ids of panel events
// (hid_event_map.json). Filled once before the mapping engine starts and
// only read afterwards, so lookups need no lock.
class EventMap {
public:
    // False leaves one of the documented texts in `error`. A file that is
    // missing, unreadable, not JSON or not an object leaves the tables as they
    // were; a file without usable entries leaves them holding what was read.
    bool load(const std::string& path, std::string& error);
    // `source` names the text's file in warnings (duplicate keys).
    bool loadFromText(const std::string& text, std::string& error,
                      const std::string& source = std::string());

    // Empty text when the map has no entry for the code.
    std::string eventTypeName(std::int32_t type) const;
    std::string controlName(std::int32_t controlId) const;

    const std::map<std::int32_t, std::string>& eventTypes() const { return eventTypes_; }
    const std::map<std::int32_t, std::string>& controlIds() const { return controlIds_; }

private:
    std::map<std::int32_t, std::string> eventTypes_;
    std::map<std::int32_t, std::string> controlIds_;
};
