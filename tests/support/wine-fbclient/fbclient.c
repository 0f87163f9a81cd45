/* A Wine builtin fbclient.dll for the tests of the Windows build: each call
 * of Qt's Firebird driver (and the tests' CREATE DATABASE) goes to the
 * host's libfbclient.so.2, so that Windows programs under Wine reach a real
 * Firebird engine. Never shipped.
 *
 * The Windows side calls with the Microsoft convention (__cdecl below); the
 * host library is called with the System V one, so ibase.h must be read as
 * on Linux: with winegcc's WIN32 macros its functions would be __stdcall,
 * which Wine's headers make the Microsoft convention. The types match on
 * both sides (ISC_LONG is 32 bits, handles are unsigned int, ISC_STATUS is
 * pointer-sized). Windows paths are turned into Unix ones here, because the
 * engine runs as a Linux program. */
#include <windef.h>
#include <winbase.h>
#include <winnls.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <limits.h>
#include <sys/stat.h>

#undef WIN32
#undef _WIN32
#undef __WIN32__
#undef _WIN64
#include <ibase.h>

/* "C:\x\y.fdb", "host:C:\x\y.fdb" or "host/3051:C:\x\y.fdb" with the Windows
 * path in Unix form; anything else as it is. Returns a malloc'd string. */
static char* unix_database_name(const char* name)
{
    const char* path = name;
    const char* colon = strchr(name, ':');
    /* A colon after more than one character ends a host name. */
    if (colon && colon - name > 1)
        path = colon + 1;
    if (!(((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':' && (path[2] == '\\' || path[2] == '/')))
        return strdup(name);

    int wide_length = MultiByteToWideChar(CP_ACP, 0, path, -1, NULL, 0);
    WCHAR* wide = malloc(wide_length * sizeof(WCHAR));
    MultiByteToWideChar(CP_ACP, 0, path, -1, wide, wide_length);
    char* unix_path = wine_get_unix_file_name(wide);
    free(wide);
    if (!unix_path)
        return strdup(name);
    /* Wine's answer passes through "dosdevices/c:", whose colon Firebird
     * would take for the end of a host name: the folder's real path has
     * none. The file itself need not exist yet (CREATE DATABASE). */
    char* slash = strrchr(unix_path, '/');
    *slash = '\0';
    char* folder = realpath(unix_path[0] ? unix_path : "/", NULL);
    size_t host_length = path - name;
    char* result = NULL;
    if (folder) {
        result = malloc(host_length + strlen(folder) + strlen(slash + 1) + 2);
        sprintf(result, "%.*s%s/%s", (int)host_length, name, folder, slash + 1);
        free(folder);
    }
    HeapFree(GetProcessHeap(), 0, unix_path);
    return result ? result : strdup(name);
}

/* What Qt's driver calls but the tests do not use fails with Firebird's own
 * "feature is not supported" and a line on stderr, never silently. */
static ISC_STATUS unsupported(ISC_STATUS* status, const char* call)
{
    fprintf(stderr, "wine-fbclient: %s is not forwarded to the host's client library\n", call);
    status[0] = isc_arg_gds;
    status[1] = isc_wish_list;
    status[2] = isc_arg_end;
    return status[1];
}

ISC_STATUS __cdecl shim_isc_attach_database(ISC_STATUS* status, short length, const ISC_SCHAR* name,
                                            isc_db_handle* db, short dpb_length, const ISC_SCHAR* dpb)
{
    char* given = length ? strndup(name, length) : strdup(name);
    char* unix_name = unix_database_name(given);
    free(given);
    ISC_STATUS result = isc_attach_database(status, 0, unix_name, db, dpb_length, dpb);
    free(unix_name);
    return result;
}

ISC_STATUS __cdecl shim_isc_detach_database(ISC_STATUS* status, isc_db_handle* db)
{
    return isc_detach_database(status, db);
}

ISC_STATUS __cdecl shim_isc_database_info(ISC_STATUS* status, isc_db_handle* db, short items_length,
                                          const ISC_SCHAR* items, short buffer_length, ISC_SCHAR* buffer)
{
    return isc_database_info(status, db, items_length, items, buffer_length, buffer);
}

/* Variadic on the Windows side; the Microsoft convention passes the
 * arguments of one database (handle, TPB length, TPB) where a fixed
 * six-argument function finds them. Qt starts every transaction on one. */
ISC_STATUS __cdecl shim_isc_start_transaction(ISC_STATUS* status, isc_tr_handle* transaction, short count,
                                              isc_db_handle* db, ISC_LONG tpb_length, const ISC_SCHAR* tpb)
{
    if (count != 1)
        return unsupported(status, "isc_start_transaction over several databases");
    return isc_start_transaction(status, transaction, 1, db, (long)tpb_length, tpb);
}

ISC_STATUS __cdecl shim_isc_commit_transaction(ISC_STATUS* status, isc_tr_handle* transaction)
{
    return isc_commit_transaction(status, transaction);
}

ISC_STATUS __cdecl shim_isc_rollback_transaction(ISC_STATUS* status, isc_tr_handle* transaction)
{
    return isc_rollback_transaction(status, transaction);
}

ISC_STATUS __cdecl shim_isc_dsql_allocate_statement(ISC_STATUS* status, isc_db_handle* db, isc_stmt_handle* statement)
{
    return isc_dsql_allocate_statement(status, db, statement);
}

ISC_STATUS __cdecl shim_isc_dsql_free_statement(ISC_STATUS* status, isc_stmt_handle* statement, unsigned short option)
{
    return isc_dsql_free_statement(status, statement, option);
}

ISC_STATUS __cdecl shim_isc_dsql_prepare(ISC_STATUS* status, isc_tr_handle* transaction, isc_stmt_handle* statement,
                                         unsigned short length, const ISC_SCHAR* sql, unsigned short dialect,
                                         XSQLDA* sqlda)
{
    return isc_dsql_prepare(status, transaction, statement, length, sql, dialect, sqlda);
}

ISC_STATUS __cdecl shim_isc_dsql_describe(ISC_STATUS* status, isc_stmt_handle* statement, unsigned short version,
                                          XSQLDA* sqlda)
{
    return isc_dsql_describe(status, statement, version, sqlda);
}

ISC_STATUS __cdecl shim_isc_dsql_describe_bind(ISC_STATUS* status, isc_stmt_handle* statement,
                                               unsigned short version, XSQLDA* sqlda)
{
    return isc_dsql_describe_bind(status, statement, version, sqlda);
}

ISC_STATUS __cdecl shim_isc_dsql_execute(ISC_STATUS* status, isc_tr_handle* transaction, isc_stmt_handle* statement,
                                         unsigned short version, const XSQLDA* sqlda)
{
    return isc_dsql_execute(status, transaction, statement, version, sqlda);
}

ISC_STATUS __cdecl shim_isc_dsql_execute2(ISC_STATUS* status, isc_tr_handle* transaction, isc_stmt_handle* statement,
                                          unsigned short version, const XSQLDA* in, const XSQLDA* out)
{
    return isc_dsql_execute2(status, transaction, statement, version, in, out);
}

/* CREATE DATABASE names its file inside the statement. */
ISC_STATUS __cdecl shim_isc_dsql_execute_immediate(ISC_STATUS* status, isc_db_handle* db,
                                                   isc_tr_handle* transaction, unsigned short length,
                                                   const ISC_SCHAR* sql, unsigned short dialect,
                                                   const XSQLDA* sqlda)
{
    static const char create[] = "CREATE DATABASE '";
    char* statement = length ? strndup(sql, length) : strdup(sql);
    char* created = NULL;
    if (strncasecmp(statement, create, sizeof create - 1) == 0) {
        char* name = statement + sizeof create - 1;
        char* end = strchr(name, '\'');
        if (end) {
            *end = '\0';
            created = unix_database_name(name);
            char* rewritten = malloc(strlen(statement) + strlen(created) + strlen(end + 1) + 2);
            sprintf(rewritten, "%.*s%s'%s", (int)(sizeof create - 1), statement, created, end + 1);
            free(statement);
            statement = rewritten;
        }
    }
    ISC_STATUS result = isc_dsql_execute_immediate(status, db, transaction, 0, statement, dialect, sqlda);
    /* The local server runs as another user and opens the tests' databases
     * too; Windows code cannot give a file Unix modes (on Linux the tests
     * do it themselves, FirebirdTestDb::allowServerAccess). */
    if (created && result == 0)
        chmod(created, 0666);
    free(created);
    free(statement);
    return result;
}

ISC_STATUS __cdecl shim_isc_dsql_fetch(ISC_STATUS* status, isc_stmt_handle* statement, unsigned short version,
                                       const XSQLDA* sqlda)
{
    return isc_dsql_fetch(status, statement, version, sqlda);
}

ISC_STATUS __cdecl shim_isc_dsql_sql_info(ISC_STATUS* status, isc_stmt_handle* statement, short items_length,
                                          const ISC_SCHAR* items, short buffer_length, ISC_SCHAR* buffer)
{
    return isc_dsql_sql_info(status, statement, items_length, items, buffer_length, buffer);
}

ISC_STATUS __cdecl shim_isc_open_blob2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* transaction,
                                       isc_blob_handle* blob, ISC_QUAD* id, ISC_USHORT bpb_length,
                                       const ISC_UCHAR* bpb)
{
    return isc_open_blob2(status, db, transaction, blob, id, bpb_length, bpb);
}

ISC_STATUS __cdecl shim_isc_create_blob2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* transaction,
                                         isc_blob_handle* blob, ISC_QUAD* id, short bpb_length, const ISC_SCHAR* bpb)
{
    return isc_create_blob2(status, db, transaction, blob, id, bpb_length, bpb);
}

ISC_STATUS __cdecl shim_isc_get_segment(ISC_STATUS* status, isc_blob_handle* blob, unsigned short* actual,
                                        unsigned short length, ISC_SCHAR* buffer)
{
    return isc_get_segment(status, blob, actual, length, buffer);
}

ISC_STATUS __cdecl shim_isc_put_segment(ISC_STATUS* status, isc_blob_handle* blob, unsigned short length,
                                        const ISC_SCHAR* buffer)
{
    return isc_put_segment(status, blob, length, buffer);
}

ISC_STATUS __cdecl shim_isc_close_blob(ISC_STATUS* status, isc_blob_handle* blob)
{
    return isc_close_blob(status, blob);
}

ISC_STATUS __cdecl shim_isc_array_lookup_bounds(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* transaction,
                                                const ISC_SCHAR* relation, const ISC_SCHAR* field,
                                                ISC_ARRAY_DESC* desc)
{
    return isc_array_lookup_bounds(status, db, transaction, relation, field, desc);
}

ISC_STATUS __cdecl shim_isc_array_get_slice(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* transaction,
                                            ISC_QUAD* id, const ISC_ARRAY_DESC* desc, void* array,
                                            ISC_LONG* length)
{
    return isc_array_get_slice(status, db, transaction, id, desc, array, length);
}

ISC_STATUS __cdecl shim_isc_array_put_slice(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* transaction,
                                            ISC_QUAD* id, const ISC_ARRAY_DESC* desc, void* array,
                                            ISC_LONG* length)
{
    return isc_array_put_slice(status, db, transaction, id, desc, array, length);
}

/* Events: the engine would call back on a thread of its own, which Wine
 * knows nothing of, so no Windows code may run there. Not forwarded. */
ISC_LONG __cdecl shim_isc_event_block(ISC_UCHAR** events, ISC_UCHAR** results, ISC_USHORT count, const char* name)
{
    (void)count;
    (void)name;
    fprintf(stderr, "wine-fbclient: isc_event_block is not forwarded to the host's client library\n");
    *events = NULL;
    *results = NULL;
    return 0;
}

void __cdecl shim_isc_event_counts(ISC_ULONG* counts, short length, ISC_UCHAR* events, const ISC_UCHAR* results)
{
    (void)counts;
    (void)length;
    (void)events;
    (void)results;
    fprintf(stderr, "wine-fbclient: isc_event_counts is not forwarded to the host's client library\n");
}

ISC_STATUS __cdecl shim_isc_que_events(ISC_STATUS* status, isc_db_handle* db, ISC_LONG* id, short length,
                                       const ISC_UCHAR* events, ISC_EVENT_CALLBACK callback, void* argument)
{
    (void)db;
    (void)id;
    (void)length;
    (void)events;
    (void)callback;
    (void)argument;
    return unsupported(status, "isc_que_events");
}

ISC_STATUS __cdecl shim_isc_cancel_events(ISC_STATUS* status, isc_db_handle* db, ISC_LONG* id)
{
    (void)db;
    (void)id;
    return unsupported(status, "isc_cancel_events");
}

ISC_LONG __cdecl shim_isc_sqlcode(const ISC_STATUS* status)
{
    return isc_sqlcode(status);
}

ISC_LONG __cdecl shim_isc_vax_integer(const ISC_SCHAR* bytes, short length)
{
    return isc_vax_integer(bytes, length);
}

ISC_LONG __cdecl shim_fb_interpret(ISC_SCHAR* buffer, unsigned int length, const ISC_STATUS** status)
{
    return fb_interpret(buffer, length, status);
}
