// The JSON documents the commands print: the same head on every one (format
// version, the tool, the transport), then what the command found.
#pragma once

#include <string>
#include <vector>

#include "model/report.h"

namespace kestran {

// What answered: "library", "i2c" or "simulator", and which.
struct Transport {
    std::string kind;
    std::string name;
    bool pec = true;  // as the tool asked for it
    // Who adds and checks the PEC byte: "adapter", "tool" (an i2c-dev bus
    // with plain transfers only), "none" (a bus with neither), "simulator".
    std::string pecBy = "adapter";
};

// {json_format_version, kestran: {version, argv, exit_status}}: the head of every document.
model::Json toolHead(const std::vector<std::string>& argv, int exitStatus);

// {json_format_version, kestran: {version, argv, exit_status}, transport}
model::Json documentHead(const std::vector<std::string>& argv, const Transport& transport, int exitStatus);

// The whole document on standard output, one line of JSON and a line end.
// Returns false, with errno set, when it could not all be written.
bool printDocument(const model::Json& document);

}  // namespace kestran
