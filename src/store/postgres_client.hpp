// PostgreSQL's client library, loaded when a PostgreSQL database is first
// named rather than when a program starts: it brings Kerberos, LDAP and TLS
// libraries along, some 10 ms of every start of the window and of
// velkor-cli, and most stations keep their line in an SQLite file.
#pragma once

#include <libpq-fe.h>

namespace velkor::store {

// The library's functions this program calls, by their names without "PQ".
struct PostgresClient {
  decltype(&::PQclear) clear;
  decltype(&::PQcmdStatus) cmdStatus;
  decltype(&::PQconnectdbParams) connectdbParams;
  decltype(&::PQconninfoFree) conninfoFree;
  decltype(&::PQconninfoParse) conninfoParse;
  decltype(&::PQerrorMessage) errorMessage;
  decltype(&::PQexec) exec;
  decltype(&::PQexecParams) execParams;
  decltype(&::PQfinish) finish;
  decltype(&::PQfreemem) freemem;
  decltype(&::PQgetisnull) getisnull;
  decltype(&::PQgetlength) getlength;
  decltype(&::PQgetvalue) getvalue;
  decltype(&::PQnfields) nfields;
  decltype(&::PQntuples) ntuples;
  decltype(&::PQreset) reset;
  decltype(&::PQresultErrorField) resultErrorField;
  decltype(&::PQresultErrorMessage) resultErrorMessage;
  decltype(&::PQresultStatus) resultStatus;
  decltype(&::PQsetNoticeProcessor) setNoticeProcessor;
  decltype(&::PQstatus) status;
  decltype(&::PQtransactionStatus) transactionStatus;
};

// The library, loaded on the first call and kept; raises StoreError, with
// the loader's reason, when it is not installed or lacks a function.
const PostgresClient& LoadPostgresClient();

}  // namespace velkor::store
