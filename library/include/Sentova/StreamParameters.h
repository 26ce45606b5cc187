// Reading the laser stream parameters back out of a "SVRRBE" command: the
// device, the recordings and the programs that watch the traffic all need the
// parameters a stream was started with.
#pragma once

#include "Sentova/CommandSerialiser.h"

#include <optional>
#include <string>
#include <vector>

namespace tavrel {

// The parameters of a "SVRRBE" datagram in wire order; nullopt for any other
// datagram and for one that ends in a partial parameter.
std::optional<std::vector<Parameter>> ParseStreamParameters(const std::string& command);

// The value of the last parameter with this id (a repeated id overrides the
// earlier ones); nullopt when there is none.
std::optional<int> ParameterValue(const std::vector<Parameter>& parameters, signed char id);

} // namespace tavrel
