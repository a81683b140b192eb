/* The floor of a readings command: connect over TCP with a password, run one statement and
 * read every value of its rows, as a hand-written libpq program would.
 *   floor CONNINFO SQL */
#include <libpq-fe.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: floor CONNINFO SQL\n");
        return 2;
    }
    PGconn* conn = PQconnectdb(argv[1]);
    if (PQstatus(conn) != CONNECTION_OK) {
        fprintf(stderr, "%s", PQerrorMessage(conn));
        return 1;
    }
    PGresult* result = PQexec(conn, argv[2]);
    if (PQresultStatus(result) != PGRES_TUPLES_OK) {
        fprintf(stderr, "%s", PQerrorMessage(conn));
        return 1;
    }
    size_t bytes = 0;
    for (int row = 0; row < PQntuples(result); ++row) {
        for (int column = 0; column < PQnfields(result); ++column) {
            bytes += strlen(PQgetvalue(result, row, column));
        }
    }
    printf("%d rows, %zu bytes\n", PQntuples(result), bytes);
    PQclear(result);
    PQfinish(conn);
    return 0;
}
