#include "cli/help.hpp"

namespace cliptint {

namespace {

// A literal a line, so that a new form or option is added as lines of its own.
constexpr std::string_view kHelp =
    "usage: cliptint [--file IN OUT] probe\n"
    "       cliptint [--file IN OUT] paint RRGGBB\n"
    "       cliptint --batch probe\n"
    "       cliptint --batch paint RRGGBB\n"
    "       cliptint --help | --version\n"
    "\n"
    "  probe          tell whether the picture is one colour on a clear ground\n"
    "                 (MONO) or not (MULTI), with its mean colour and box\n"
    "  paint RRGGBB   give a MONO picture the colour RRGGBB; transparency is kept\n"
    "  --file IN OUT  read the picture from the file IN, write a painted one to\n"
    "                 OUT (instead of the clipboard); only as the first three words\n"
    "  --batch        read lines IN<tab>OUT from standard input and answer each as\n"
    "                 --file IN OUT would, one line each; only as the first word\n"
    "\n"
    "Each run answers with one line on standard output and exit status 0; the lines\n"
    "of failures begin with \"ERR \". More in the manual: man cliptint";

constexpr std::string_view kVersion = "cliptint " CLIPTINT_VERSION;

}  // namespace

std::optional<std::string_view> aboutTool(std::string_view firstWord) {
    if (firstWord == "--help" || firstWord == "-h") return kHelp;
    if (firstWord == "--version" || firstWord == "-V") return kVersion;
    return std::nullopt;
}

}  // namespace cliptint
