// Where the programs' messages go: the event log (syslog elsewhere) in service mode, standard
// output otherwise. Each event carries the ID and type of its entry in the programs' message
// table, so Event Viewer shows its text and an error is filed as an error on both systems.
// Writing an event reports nothing: a message that cannot be logged is dropped.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

enum class EventType { Error, Warning, Information };

// An entry of the message table: its number (what Event Viewer shows as the event ID) and
// the type it is logged with, which is also its severity in the table.
struct EventId {
    std::uint16_t number;
    EventType type;
};

// The number as the message table holds it: the severity in the top two bits (information 1,
// warning 2, error 3) above the number, so that a type and table that disagree find no text.
constexpr std::uint32_t MessageTableId(EventId event) {
    const std::uint32_t severity = event.type == EventType::Error     ? 3u
                                   : event.type == EventType::Warning ? 2u
                                                                      : 1u;
    return severity << 30 | event.number;
}

// The event source of the mail sender, which has no registration of its own: the service's
// registration and the installers register it.
inline constexpr char kSenderEventSource[] = "Postvane";

// text is the event's one insertion string: the whole line, which the table's text either is
// or embeds.
void WriteEventMessage(const std::string& source, EventId event, const std::string& text);
void WriteConsoleMessage(const std::string& text);

// Makes source's events readable: the event log learns which program holds their texts
// (messageFile, a full path) and which types they come in. Both are no-ops and succeed where
// the system log needs no registration. False when the key cannot be written or removed.
bool InstallEventSource(const std::string& source, const std::string& messageFile);
bool RemoveEventSource(const std::string& source);

}  // namespace platform
