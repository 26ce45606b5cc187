#include "Sentova/StreamParameters.h"

#include "Sentova/CommandTable.h"
#include "Sentova/Encoding.h"

namespace tavrel {

namespace {

const CommandInfo& StreamStart() {
    static const CommandInfo& command = *FindCommand("SVRRBE");
    return command;
}

} // namespace

std::optional<std::vector<Parameter>> ParseStreamParameters(const std::string& command) {
    const CommandInfo& start = StreamStart();
    if (FindCommand(command) != &start ||
        !ArgumentBytesFit(start, command.size() - protocol::kCodeLength))
        return std::nullopt;
    std::vector<Parameter> parameters;
    parameters.reserve((command.size() - protocol::kCodeLength) / kParameterSize);
    const auto* p = reinterpret_cast<const unsigned char*>(command.data());
    for (std::size_t at = protocol::kCodeLength; at < command.size(); at += kParameterSize) {
        const unsigned char* field = p + at;
        const signed char id = static_cast<signed char>(EfficientUnpackInt8(field));
        parameters.push_back(Parameter{id, EfficientUnpackSignedInt32(field)});
    }
    return parameters;
}

std::optional<int> ParameterValue(const std::vector<Parameter>& parameters, signed char id) {
    std::optional<int> value;
    for (const Parameter& p : parameters)
        if (p.id == id)
            value = p.value;
    return value;
}

} // namespace tavrel
