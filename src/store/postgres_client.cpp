#include "store/postgres_client.hpp"

#include <dlfcn.h>

#include <mutex>
#include <string>

#include "data/text_format.hpp"
#include "store/sql_connection.hpp"
#include "text/text_table.hpp"

namespace velkor::store {

namespace {

// The library's run-time name (its package: libpq5).
constexpr const char* kLibraryName = "libpq.so.5";

template <typename Function>
void Bind(void* library, const char* name, Function& into, std::string& missing) {
  into = reinterpret_cast<Function>(dlsym(library, name));
  if (!into && missing.empty()) missing = name;
}

PostgresClient Load(std::string& error) {
  PostgresClient client{};
  void* library = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    const char* reason = dlerror();
    error = reason ? reason : kLibraryName;
    return client;
  }
  std::string missing;
  Bind(library, "PQclear", client.clear, missing);
  Bind(library, "PQcmdStatus", client.cmdStatus, missing);
  Bind(library, "PQconnectdbParams", client.connectdbParams, missing);
  Bind(library, "PQconninfoFree", client.conninfoFree, missing);
  Bind(library, "PQconninfoParse", client.conninfoParse, missing);
  Bind(library, "PQerrorMessage", client.errorMessage, missing);
  Bind(library, "PQexec", client.exec, missing);
  Bind(library, "PQexecParams", client.execParams, missing);
  Bind(library, "PQfinish", client.finish, missing);
  Bind(library, "PQfreemem", client.freemem, missing);
  Bind(library, "PQgetisnull", client.getisnull, missing);
  Bind(library, "PQgetlength", client.getlength, missing);
  Bind(library, "PQgetvalue", client.getvalue, missing);
  Bind(library, "PQnfields", client.nfields, missing);
  Bind(library, "PQntuples", client.ntuples, missing);
  Bind(library, "PQreset", client.reset, missing);
  Bind(library, "PQresultErrorField", client.resultErrorField, missing);
  Bind(library, "PQresultErrorMessage", client.resultErrorMessage, missing);
  Bind(library, "PQresultStatus", client.resultStatus, missing);
  Bind(library, "PQsetNoticeProcessor", client.setNoticeProcessor, missing);
  Bind(library, "PQstatus", client.status, missing);
  Bind(library, "PQtransactionStatus", client.transactionStatus, missing);
  if (!missing.empty()) error = FormatText(Tx("%s has no function %s"), kLibraryName, missing.c_str());
  // The library stays loaded for the program's life, as a linked one would.
  return client;
}

}  // namespace

const PostgresClient& LoadPostgresClient() {
  static std::once_flag once;
  static PostgresClient client;
  static std::string error;
  std::call_once(once, [] { client = Load(error); });
  if (!error.empty())
    throw StoreError(FormatText(Tx("PostgreSQL's client library cannot be loaded (install libpq5): %s"),
                                error.c_str()));
  return client;
}

}  // namespace velkor::store
