#include "app/document.h"

#include <cerrno>
#include <cstdio>

#include "adapter/tool_version.h"
#include "console/spelled.h"

namespace kestran {

model::Json toolHead(const std::vector<std::string>& argv, int exitStatus)
{
    model::Json words = model::Json::array();
    for (const std::string& word : argv)
        words.push_back(spelledOut(word, kShownPathBytes));  // a command line's bytes as valid UTF-8 text
    return {
        {"json_format_version", {1, 0}},
        {"kestran", {{"version", toolVersionText()}, {"argv", std::move(words)}, {"exit_status", exitStatus}}},
    };
}

model::Json documentHead(const std::vector<std::string>& argv, const Transport& transport, int exitStatus)
{
    model::Json document = toolHead(argv, exitStatus);
    document["transport"] = {{"kind", transport.kind}, {"name", spelledOut(transport.name, kShownPathBytes)},
                             {"pec", transport.pec}, {"pec_by", transport.pecBy}};
    return document;
}

bool printDocument(const model::Json& document)
{
    // Every string in it is ASCII already; replace, never throw, should one not be.
    const std::string text = document.dump(2, ' ', false, model::Json::error_handler_t::replace) + "\n";
    errno = 0;
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
}

}  // namespace kestran
