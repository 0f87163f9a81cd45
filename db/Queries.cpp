#include "db/DbModule.h"

std::vector<TDmQueryEntry> TDbModule::QueryComponents()
{
    std::vector<TDmQueryEntry> entries{{"QParam", &QParam, nullptr}};
#define TAVREL_DM_QUERY(name, connection, readTr, updateTr, sql) entries.push_back({#name, &name, nullptr});
#define TAVREL_DM_STORED_PROC(name, connection, readTr, updateTr, procName, params)                                    \
    entries.push_back({#name, nullptr, &name});
#include "db/QueriesList.h"
#undef TAVREL_DM_QUERY
#undef TAVREL_DM_STORED_PROC
    return entries;
}
