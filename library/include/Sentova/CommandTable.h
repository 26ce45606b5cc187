// The device's command vocabulary as data: for each command its code, the
// operation it asks for, its argument layout in wire order, the data of its
// "ER" reply, the channel that sends it and which time-out its reply is
// awaited with. The serialiser, the reply decoders, the simulator and the
// programs read the vocabulary from here rather than spelling it again.
#pragma once

#include "Sentova/Protocol.h"

#include <array>
#include <cstddef>
#include <string_view>

namespace tavrel {

enum class FieldEncoding : unsigned char {
    Angle,            // 4 bytes, angle coding, degrees
    Speed,            // 4 bytes, 16.16 fixed point, read unsigned
    Acceleration,     // 4 bytes, 16.16 fixed point, read signed
    Lines,            // 4 bytes, 16.16 fixed point
    U8,               // 1 byte
    U16,              // 2 bytes, big-endian
    U32,              // 4 bytes, big-endian
    Zero,             // 1 byte, always 0
    Hundredths,       // 2 bytes, unsigned hundredths of a degree
    SignedHundredths, // 2 bytes, signed hundredths of a degree
    Text,             // bytes taken verbatim; variable length
    Parameters,       // laser stream parameters, 5 bytes each; variable length
};

// Bytes a field of this encoding takes; 0 for the variable ones.
constexpr std::size_t EncodedSize(FieldEncoding encoding) {
    switch (encoding) {
    case FieldEncoding::Angle:
    case FieldEncoding::Speed:
    case FieldEncoding::Acceleration:
    case FieldEncoding::Lines:
    case FieldEncoding::U32:
        return 4;
    case FieldEncoding::U16:
    case FieldEncoding::Hundredths:
    case FieldEncoding::SignedHundredths:
        return 2;
    case FieldEncoding::U8:
    case FieldEncoding::Zero:
        return 1;
    case FieldEncoding::Text:
    case FieldEncoding::Parameters:
        break;
    }
    return 0;
}

constexpr bool IsVariable(FieldEncoding encoding) {
    return encoding == FieldEncoding::Text || encoding == FieldEncoding::Parameters;
}

// One laser stream parameter on the wire: u8 id, u32 value.
constexpr std::size_t kParameterSize = 5;

struct Field {
    const char* name = nullptr;
    FieldEncoding encoding = FieldEncoding::U8;
    // The fewest bytes of a variable field: flash data is padded to a page, a
    // stored command has at least its code.
    std::size_t minimumSize = 0;
};

constexpr std::size_t kMaxFields = 6;

// At most one field of a list is variable; the fields after it are placed
// from the end of the datagram.
struct FieldList {
    std::array<Field, kMaxFields> fields{};
    std::size_t count = 0;

    constexpr const Field* begin() const { return fields.data(); }
    constexpr const Field* end() const { return fields.data() + count; }
    constexpr std::size_t size() const { return count; }
    constexpr bool empty() const { return count == 0; }
    constexpr const Field& operator[](std::size_t i) const { return fields[i]; }
};

// Which library channel sends a command: the device controller, the event
// manager (also the laser stream commands, sent through its raw path), or the
// controller's trigger operations, whose records come back on its channel.
enum class CommandChannel : unsigned char { Controller, EventManager, Trigger };

// Which time-out the sending channel waits for the reply with.
enum class ReplyTimeout : unsigned char { Response, Motion };

struct CommandInfo {
    const char* code;
    const char* name;
    FieldList arguments;
    FieldList reply; // what an "ER" carries; empty when the device answers "EA"
    CommandChannel channel;
    ReplyTimeout timeout;
};

// Flash pages hold 64 bytes; shorter data is padded to a page.
constexpr std::size_t kFlashDataMinimum = 64;

namespace table_detail {

template <typename... F> constexpr FieldList fields(F... f) {
    return FieldList{{{f...}}, sizeof...(F)};
}
constexpr Field angle(const char* name) {
    return {name, FieldEncoding::Angle};
}
constexpr Field speed(const char* name) {
    return {name, FieldEncoding::Speed};
}
constexpr Field u8(const char* name) {
    return {name, FieldEncoding::U8};
}
constexpr Field u16(const char* name) {
    return {name, FieldEncoding::U16};
}
constexpr Field u32(const char* name) {
    return {name, FieldEncoding::U32};
}
constexpr Field text(const char* name, std::size_t minimumSize = 0) {
    return {name, FieldEncoding::Text, minimumSize};
}

constexpr CommandInfo controller(const char* code, const char* name, FieldList arguments = {},
                                 FieldList reply = {}) {
    return {code, name, arguments, reply, CommandChannel::Controller, ReplyTimeout::Response};
}
constexpr CommandInfo motion(const char* code, const char* name, FieldList arguments = {}) {
    return {code, name, arguments, {}, CommandChannel::Controller, ReplyTimeout::Motion};
}
constexpr CommandInfo events(const char* code, const char* name, FieldList arguments = {},
                             FieldList reply = {}) {
    return {code, name, arguments, reply, CommandChannel::EventManager, ReplyTimeout::Response};
}
constexpr CommandInfo trigger(const char* code, const char* name, FieldList arguments) {
    return {code, name, arguments, {}, CommandChannel::Trigger, ReplyTimeout::Response};
}

} // namespace table_detail

// The 47 commands, in the order of CommandSerialiser's builders.
inline constexpr std::array<CommandInfo, 47> kCommands = [] {
    using namespace table_detail;
    const FieldList aim = fields(angle("azimuth"), angle("elevation"), speed("speed"));
    const FieldList eventAndBuffer = fields(u8("event"), u8("command buffer"));
    const FieldList twoBytes = fields(u8("first"), u8("second"));
    return std::array<CommandInfo, 47>{{
        controller("SVCQRE", "Get serial number", {}, fields(text("serial number"))),
        motion("SVHOME", "Home"),
        controller("SVSTOP", "Stop"),
        controller("SVSEAC", "Set acceleration",
                   fields(Field{"acceleration", FieldEncoding::Acceleration})),
        controller("SVGEAA", "Get aperture angles", {},
                   fields(angle("azimuth"), angle("elevation"))),
        motion("SVSEAA", "Set aperture angles", aim),
        controller("SVTRAA", "Track aperture angles", aim),
        controller("SVSFFS", "Start full field scan",
                   fields(speed("speed"), Field{"lines", FieldEncoding::Lines})),
        controller("SVSBES", "Start bounded elevation scan",
                   fields(speed("speed"), angle("elevation minimum"), angle("elevation maximum"),
                          Field{"lines", FieldEncoding::Lines})),
        controller("SVSRES", "Start region scan",
                   fields(angle("azimuth minimum"), angle("azimuth maximum"),
                          angle("elevation minimum"), angle("elevation maximum"), speed("speed"),
                          Field{"lines", FieldEncoding::Lines})),
        events("SVRRBE", "Start laser stream",
               fields(Field{"parameters", FieldEncoding::Parameters})),
        events("SVSRBE", "Stop laser stream"),
        controller("SVRNLS", "Start laser",
                   fields(u16("a"), u16("b"), u8("flag"), Field{"padding", FieldEncoding::Zero},
                          u16("d"))),
        controller("SVSTLS", "Stop laser"),
        controller("SVSRUN", "Start stabilisation"),
        controller("SVSSTP", "Stop stabilisation"),
        controller("SVSSTG", "Set stabilised target",
                   fields(angle("target 1"), angle("target 2"), angle("target 3"))),
        controller("SVSGTG", "Get stabilised target", {},
                   fields(angle("target 1"), angle("target 2"), angle("target 3"))),
        controller("SVSGRL", "Get stabilised roll", {}, fields(angle("roll"))),
        motion("SVSSSP", "Set stabilised speed", fields(speed("speed"))),
        controller("SVMONN", "Motors on"),
        controller("SVMOFF", "Motors off"),
        controller("SVSLGA", "Set laser gain", fields(u8("gain"))),
        // The first error is also the target distance.
        controller("SVSGER", "Get stabilised target error", {},
                   fields(angle("error 1"), angle("error 2"))),
        controller("SVSTST", "SVSTST"),
        controller("SVGUFP", "Read flash page", fields(u8("page")), fields(text("page data"))),
        controller("SVSUFP", "Write flash page",
                   fields(u8("page"), text("page data", kFlashDataMinimum))),
        controller("SVEUFP", "Erase flash page", fields(u8("page"))),
        events("SVERST", "Reset events"),
        controller("SVPPPP", "Test"),
        events("SVEENB", "Enable event", fields(u8("event"), u8("command buffer"), u8("flag"))),
        events("SVEDIS", "Disable event", eventAndBuffer),
        events("SVESTS", "Event status", eventAndBuffer, twoBytes),
        events("SVESTM", "Stop event timer"),
        events("SVERTM", "Start event timer", fields(u16("frequency"))),
        events("SVEGTM", "Get event timer frequency", {}, fields(u16("frequency"))),
        events("SVECCF", "Configure command buffer",
               fields(u8("command buffer"), text("command", protocol::kCodeLength))),
        events("SVIIOS", "Set isolated I/O", fields(u8("n"))),
        events("SVIIOT", "Toggle isolated I/O", fields(u8("n"))),
        events("SVIIOG", "Get isolated I/O", {}, twoBytes),
        events("SVIOSE", "Set isolated I/O event input", fields(u8("a"), u8("b"))),
        events("SVIOGE", "Get isolated I/O event input", {}, twoBytes),
        events("SVGCAA", "Get captured angles", {},
               fields(Field{"first", FieldEncoding::Hundredths},
                      Field{"second", FieldEncoding::SignedHundredths})),
        controller("SVGMTN", "Get motion state", {}, fields(text("state"))),
        trigger("SVSEAT", "Set aperture angles with trigger",
                fields(angle("azimuth"), angle("elevation"), speed("speed"), u32("p"), u32("q"))),
        trigger("SVTTRG", "Test high-performance trigger", fields(u32("p"), u32("q"))),
        controller("SVSIPC", "Set IP settings", fields(text("settings"), u32("address"))),
    }};
}();

// The command whose code begins the datagram (or is the code); null when none.
constexpr const CommandInfo* FindCommand(std::string_view datagram) {
    if (datagram.size() < protocol::kCodeLength)
        return nullptr;
    const std::string_view code = datagram.substr(0, protocol::kCodeLength);
    for (const CommandInfo& c : kCommands)
        if (code == c.code)
            return &c;
    return nullptr;
}

// The sum of the fixed fields' sizes, and the variable field's minimum.
constexpr std::size_t MinimumBytes(const FieldList& list) {
    std::size_t bytes = 0;
    for (const Field& f : list)
        bytes += IsVariable(f.encoding) ? f.minimumSize : EncodedSize(f.encoding);
    return bytes;
}

constexpr bool HasVariableField(const FieldList& list) {
    for (const Field& f : list)
        if (IsVariable(f.encoding))
            return true;
    return false;
}

// Whether argument bytes of this length (after the code) are a whole layout:
// exactly the fixed size, or with a variable field at least its minimum and,
// for a parameter list, whole parameters.
constexpr bool ArgumentBytesFit(const CommandInfo& command, std::size_t bytes) {
    const std::size_t minimum = MinimumBytes(command.arguments);
    if (!HasVariableField(command.arguments))
        return bytes == minimum;
    if (bytes < minimum)
        return false;
    for (const Field& f : command.arguments)
        if (f.encoding == FieldEncoding::Parameters)
            return (bytes - minimum) % kParameterSize == 0;
    return true;
}

// Where argument field i begins in a datagram of datagramSize bytes, code
// included. Fields after a variable one are counted back from the end.
constexpr std::size_t ArgumentOffset(const CommandInfo& command, std::size_t index,
                                     std::size_t datagramSize) {
    std::size_t offset = protocol::kCodeLength;
    for (std::size_t i = 0; i < index; ++i) {
        const Field& f = command.arguments[i];
        if (IsVariable(f.encoding)) {
            std::size_t rest = 0;
            for (std::size_t j = index; j < command.arguments.size(); ++j)
                rest += EncodedSize(command.arguments[j].encoding);
            return datagramSize - rest;
        }
        offset += EncodedSize(f.encoding);
    }
    return offset;
}

constexpr bool WaitsForMotion(std::string_view datagram) {
    const CommandInfo* command = FindCommand(datagram);
    return command != nullptr && command->timeout == ReplyTimeout::Motion;
}

// How long the channel that sends the command waits for its reply by
// default, milliseconds; an unknown command waits the response time-out.
constexpr unsigned int DefaultReplyTimeoutMs(std::string_view datagram) {
    const CommandInfo* command = FindCommand(datagram);
    if (command == nullptr)
        return protocol::kResponseTimeoutMs;
    if (command->timeout == ReplyTimeout::Motion)
        return protocol::kMotionTimeoutMs;
    if (command->channel == CommandChannel::EventManager)
        return protocol::kEventManagerTimeoutMs;
    return protocol::kResponseTimeoutMs;
}

} // namespace tavrel
