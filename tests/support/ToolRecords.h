#pragma once

#include <string>

// The decode tool prints the satellite table ("sky" to "systems") only when it changed: a record
// without one is given the last table printed before it, which table keeps from call to call.
inline std::string WithTable(std::string record, std::string &table) {
    if (const std::size_t from = record.find(",\"sky\":["); from != std::string::npos)
        table = record.substr(
            from, record.find(",\"quality\":", record.find("\"systems\":{", from)) - from);
    else if (const std::size_t at = record.find(",\"quality\":"); at != std::string::npos)
        record.insert(at, table);
    return record;
}
