#pragma once

#include "server/ServerAddress.h"

#include <QStringList>

#include <optional>
#include <string>

namespace velt
{

// The match server to use: "--server HOST[:PORT]" (or "--server=HOST[:PORT]") on the command
// line, else VELT_SERVER in the environment, else the operator's server on port 999. Nothing,
// with a reason in error, when --server is given without a valid address or an argument is
// unknown.
std::optional<ServerAddress> ServerFromArguments(const QStringList& arguments, std::string* error);

} // namespace velt
