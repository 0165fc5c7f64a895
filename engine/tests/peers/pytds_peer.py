"""pytds against a running sqlengine: every supported type, errors, PRINT,
two result sets, cancel, and twenty clients at once. Prints one line per
check; exits non-zero when any check fails.
Usage: /usr/bin/python3 pytds_peer.py PORT TDS_VERSION(7.1|7.4)"""
import datetime
import decimal
import os
import socket
import sys
import threading
import uuid

import pytds
import pytds.tds_base

PORT = int(sys.argv[1])
VERSION = {"7.1": pytds.tds_base.TDS71, "7.4": pytds.tds_base.TDS74}[sys.argv[2]]
failures = []


def check(name, condition, detail=""):
    print(("ok   " if condition else "FAIL ") + name + ("" if condition else ": %r" % (detail,)))
    if not condition:
        failures.append(name)


def connect(**extra):
    # A generous login timeout: twenty simultaneous logins on a loaded
    # machine can take longer than pytds's first attempt allows by default.
    return pytds.connect("127.0.0.1", port=PORT, user="sa", password="", database="master",
                         autocommit=True, tds_version=VERSION, login_timeout=60, **extra)


LONG_VARCHAR = "long text " * 500
LONG_NVARCHAR = "\u03a9\u00e9" * 2000
LONG_BINARY = bytes(range(256)) * 20

COLUMNS = [
    ("ti", "tinyint", "255", 255),
    ("si", "smallint", "-32768", -32768),
    ("i", "int", "2147483647", 2147483647),
    ("bi", "bigint", "9223372036854775807", 9223372036854775807),
    ("b", "bit", "1", True),
    ("r", "real", "1.5", 1.5),
    ("f", "float", "-2.25", -2.25),
    ("d", "decimal(12,3)", "123456789.123", decimal.Decimal("123456789.123")),
    ("n", "numeric(5,0)", "99999", decimal.Decimal("99999")),
    ("m", "money", "1234.5678", decimal.Decimal("1234.5678")),
    ("sm", "smallmoney", "-12.5", decimal.Decimal("-12.5")),
    ("dt", "datetime", "'2020-02-29 23:59:59.997'", datetime.datetime(2020, 2, 29, 23, 59, 59, 997000)),
    ("sdt", "smalldatetime", "'2021-06-01 12:30:00'", datetime.datetime(2021, 6, 1, 12, 30)),
    ("c", "char(5)", "'ab'", "ab   "),
    ("vc", "varchar(20)", "'caf\u00e9'", "caf\u00e9"),
    ("t", "text", "'some text \u00fc'", "some text \u00fc"),
    ("nc", "nchar(4)", "N'\u65e5\u672c'", "\u65e5\u672c  "),
    ("nv", "nvarchar(30)", "N'h\u00e9llo w\u00f6rld \u4e2d\u6587 \U0001F600'",
     "h\u00e9llo w\u00f6rld \u4e2d\u6587 \U0001F600"),
    ("nt", "ntext", "N'ntext \u00fc\u4e2d'", "ntext \u00fc\u4e2d"),
    ("bn", "binary(3)", "0x010203", b"\x01\x02\x03"),
    ("vb", "varbinary(8)", "0xDEADBEEF", b"\xde\xad\xbe\xef"),
    ("im", "image", "0x00FF", b"\x00\xff"),
    ("u", "uniqueidentifier", "'6F9619FF-8B86-D011-B42D-00C04FC964FF'",
     uuid.UUID("6F9619FF-8B86-D011-B42D-00C04FC964FF")),
    ("vmax", "varchar(max)", "'%s'" % LONG_VARCHAR, LONG_VARCHAR),
    ("nvmax", "nvarchar(max)", "N'%s'" % LONG_NVARCHAR, LONG_NVARCHAR),
    ("vbmax", "varbinary(max)", "0x" + LONG_BINARY.hex(), LONG_BINARY),
]


def types_round_trip(cur):
    table = "peer_types_py%s" % sys.argv[2].replace(".", "")
    cur.execute("create table %s (id int not null, %s)"
                % (table, ", ".join("%s %s" % (c[0], c[1]) for c in COLUMNS)))
    cur.execute("insert into %s (id, %s) values (1, %s)"
                % (table, ", ".join(c[0] for c in COLUMNS), ", ".join(c[2] for c in COLUMNS)))
    check("insert reports one row", cur.rowcount == 1, cur.rowcount)
    cur.execute("insert into %s (id) values (2)" % table)
    cur.execute("select %s from %s order by id" % (", ".join(c[0] for c in COLUMNS), table))
    rows = cur.fetchall()
    check("two rows back", len(rows) == 2, len(rows))
    for index, (name, sql_type, _, expected) in enumerate(COLUMNS):
        got = rows[0][index]
        check("%s %s value" % (name, sql_type), got == expected, (got if len(repr(got)) < 80 else repr(got)[:80]))
        check("%s %s NULL" % (name, sql_type), rows[1][index] is None, rows[1][index])


def errors(cur):
    for number, sql in ((208, "select * from nosuch"),
                        (170, "select 1 from sysobjects garbage garbage"),
                        (2812, "exec no_such_proc")):
        try:
            cur.execute(sql)
            check("error %d raised" % number, False, "no exception")
        except pytds.tds_base.Error as error:
            check("error %d raised" % number, getattr(error, "msg_no", None) == number, error)


def print_and_two_results(conn, cur):
    cur.execute("print 'hello from print'")
    texts = [str(m[1]) for m in cur.messages]
    check("PRINT text arrives", any("hello from print" in t for t in texts), texts)
    cur.execute("select 1 as a select 'two' as b")
    first = cur.fetchall()
    more = cur.nextset()
    second = cur.fetchall() if more else None
    check("two result sets", first == [(1,)] and second == [("two",)], (first, second))


def for_xml_rows(cur):
    # FOR XML comes as ntext rows of at most 2033 characters that join into
    # one document.
    cur.execute("select replicate(N'\u00e9', 2500) as v, 1 as w for xml raw")
    described = [d[0] for d in cur.description]
    rows = [r[0] for r in cur.fetchall()]
    expected = '<row v="' + "\u00e9" * 2500 + '" w="1"/>'
    check("FOR XML rows join into the document",
          described == ["XML_F52E2B61-18A1-11d1-B105-00805F49916B"] and
          [len(r) for r in rows] == [2033, len(expected) - 2033] and "".join(rows) == expected,
          (described, [len(r) for r in rows]))


def cancel():
    # A query timeout makes pytds send ATTENTION; the next request drains
    # up to the DONE(ATTN) and goes on.
    conn = connect(timeout=1)
    cur = conn.cursor()
    try:
        cur.execute("waitfor delay '00:00:20'")
        check("long query times out", False, "finished")
    except pytds.tds_base.TimeoutError:
        check("long query times out", True)
    cur = conn.cursor()
    cur.execute("select 42")
    check("connection usable after cancel", cur.fetchall() == [(42,)])
    conn.close()


def twenty_clients():
    results = []

    def client(n):
        try:
            with connect() as c:
                cur = c.cursor()
                cur.execute("select %d" % n)
                results.append(cur.fetchall() == [(n,)])
        except Exception as error:  # recorded as a failure
            results.append(error)

    threads = [threading.Thread(target=client, args=(n,)) for n in range(20)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(60)
    check("twenty clients at once", results.count(True) == 20, results)


def client_identity():
    # APP_NAME, HOST_NAME and HOST_ID answer what the login said of the client.
    with connect(appname="peer check") as c:
        cur = c.cursor()
        cur.execute("SELECT APP_NAME(), HOST_NAME(), HOST_ID()")
        row = cur.fetchone()
        expected = ("peer check", socket.gethostname()[:128], str(os.getpid()).ljust(8))
        check("client identity functions", tuple(row) == expected, (row, expected))


def delimited_procedure_rpc(cur):
    # A procedure whose name needs delimiting, called by RPC as written and
    # quoted, in this database and through another's name.
    cur.execute("CREATE PROCEDURE [Sales by Year] @from int, @to int AS SELECT @to - @from")
    cur.callproc("Sales by Year", (1990, 1998))
    plain = cur.fetchall()
    cur.callproc("[Sales by Year]", (1, 2))
    quoted = cur.fetchall()
    cur.callproc("master.dbo.[Sales by Year]", (5, 9))
    qualified = cur.fetchall()
    check("RPC of a delimited procedure name", (plain, quoted, qualified) == ([(8,)], [(1,)], [(4,)]),
          (plain, quoted, qualified))
    cur.execute("DROP PROCEDURE [Sales by Year]")


def money_outputs(cur):
    # Output parameters declared money or smallmoney keep their four decimal
    # places (the declared type's scale, not a whole number).
    cur.execute("CREATE PROCEDURE share_out @n int, @big money OUTPUT, @small smallmoney OUTPUT AS "
                "SELECT @big = @n * 1.5, @small = @n / 8.0")
    result = cur.callproc("share_out", (5, pytds.output(param_type="money", value=None),
                                        pytds.output(param_type="smallmoney", value=None)))
    check("money output parameters", result[1:] == [decimal.Decimal("7.5"),
                                                   decimal.Decimal("0.625")], result)
    cur.execute("DROP PROCEDURE share_out")


def other_database_in_transaction(cur):
    # Inside a transaction a procedure of another database called by RPC
    # joins it, and a load that does not ask for CHECK_CONSTRAINTS takes rows
    # its foreign key would refuse, as outside one; ROLLBACK takes back both.
    cur.execute("CREATE DATABASE rpc_db")
    cur.execute("USE rpc_db")
    cur.execute("CREATE TABLE marks (n int)")
    cur.execute("CREATE PROCEDURE mark @n int AS INSERT INTO marks VALUES (@n)")
    cur.execute("USE master")
    cur.execute("CREATE TABLE bulk_parent (id int PRIMARY KEY)")
    cur.execute("CREATE TABLE bulk_child (p int REFERENCES bulk_parent (id))")
    cur.execute("BEGIN TRANSACTION")
    cur.callproc("rpc_db.dbo.mark", (1,))
    cur.copy_to(data=[("7",)], table_or_view="bulk_child", columns=["p"])
    cur.execute("SELECT (SELECT count(*) FROM rpc_db..marks), (SELECT count(*) FROM bulk_child)")
    inside = cur.fetchall()
    cur.execute("ROLLBACK")
    cur.callproc("rpc_db..mark", (2,))
    cur.execute("SELECT (SELECT sum(n) FROM rpc_db..marks), (SELECT count(*) FROM bulk_child)")
    after = cur.fetchall()
    check("RPC and bulk load inside a transaction", (inside, after) == ([(1, 1)], [(2, 0)]),
          (inside, after))
    cur.execute("DROP TABLE bulk_child DROP TABLE bulk_parent DROP DATABASE rpc_db")


def main():
    conn = connect()
    cur = conn.cursor()
    types_round_trip(cur)
    errors(cur)
    print_and_two_results(conn, cur)
    delimited_procedure_rpc(cur)
    money_outputs(cur)
    other_database_in_transaction(cur)
    for_xml_rows(cur)
    conn.close()
    client_identity()
    cancel()
    twenty_clients()
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
