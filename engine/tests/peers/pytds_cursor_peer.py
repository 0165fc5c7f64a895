"""pytds calling the server cursor procedures by name with their raw
parameters: handles, scroll and concurrency options as the engine grants
them, row counts, fetch types, the hidden row status of every fetched row,
what keyset and dynamic cursors see of another connection's changes,
positioned changes, cursor names, prepared cursors, and the errors of bad
handles (the session lives on). Prints one line per check; exits non-zero
when any check fails.
Usage: /usr/bin/python3 pytds_cursor_peer.py PORT TDS_VERSION(7.1|7.4)"""
import decimal
import sys

import pytds
import pytds.tds_base

PORT = int(sys.argv[1])
VERSION = {"7.1": pytds.tds_base.TDS71, "7.4": pytds.tds_base.TDS74}[sys.argv[2]]
KEYSET, DYNAMIC, FORWARD_ONLY, STATIC, AUTO_FETCH, PARAMETERIZED = 1, 2, 4, 8, 0x2000, 0x1000
READ_ONLY, OPTIMISTIC, OPTIMISTIC_VALUES = 1, 4, 8
FIRST, NEXT, PREV, LAST, ABSOLUTE, RELATIVE, INFO = 1, 2, 4, 8, 0x10, 0x20, 0x100
UPDATE, DELETE, INSERT = 1, 2, 4
failures = []


def check(name, condition, detail=""):
    print(("ok   " if condition else "FAIL ") + name + ("" if condition else ": %r" % (detail,)))
    if not condition:
        failures.append(name)


def out(value=0):
    return pytds.output(value=value, param_type="int")


def error_number(action):
    try:
        action()
    except pytds.Error as error:
        return getattr(error, "msg_no", None) or getattr(error, "number", None)
    return None


# Cursor results carry TABNAME and COLINFO after their columns, as SQL
# Server sends them; pytds does not know those tokens, so they are skipped.
def skip_token(session):
    pytds.tds_base.skipall(session._reader, session._reader.get_usmallint())


pytds.tds._token_map[pytds.tds_base.TDS_TABNAME_TOKEN] = skip_token
pytds.tds._token_map[pytds.tds_base.TDS_COLINFO_TOKEN] = skip_token

conn = pytds.connect("127.0.0.1", port=PORT, user="sa", password="", database="master",
                     autocommit=True, tds_version=VERSION, login_timeout=60)
cur = conn.cursor()
cur.execute("CREATE DATABASE cursors")
cur.execute("USE cursors")
cur.execute("CREATE TABLE items (id int PRIMARY KEY, name varchar(20))")
for i, name in enumerate(["one", "two", "three", "four", "five"], 1):
    cur.execute("INSERT INTO items VALUES (%d, '%s')" % (i, name))


row_statuses = []  # the hidden ROWSTAT of each row of the last cursor result


def call(procedure, parameters):
    """Runs one procedure to its end: the first result's rows, the OUTPUT
    values by parameter position, the first result's column names. A cursor
    result's last column, ROWSTAT, is taken off into row_statuses."""
    cur.callproc(procedure, parameters)
    names = [d[0] for d in cur.description] if cur.description else None
    rows = [tuple(row) for row in cur.fetchall()] if cur.description else []
    row_statuses.clear()
    if names and names[-1] == "ROWSTAT":
        names = names[:-1]
        row_statuses.extend(row[-1] for row in rows)
        rows = [row[:-1] for row in rows]
    while cur.nextset():
        pass
    outputs = {k: p.value for k, p in cur._session.output_params.items()}
    return rows, outputs, names


def items():
    cur.execute("SELECT id, name FROM items ORDER BY id")
    return [tuple(row) for row in cur.fetchall()]


def fetch(handle, fetch_type, rownum=0, nrows=1):
    return call("sp_cursorfetch", (handle, fetch_type, rownum, nrows))[0]


# Opening: the handle, the options granted and the row count come back; the
# result carries the columns and no rows.
rows, params, names = call("sp_cursoropen", (out(), "SELECT id, name FROM items ORDER BY id",
                                             out(KEYSET | AUTO_FETCH), out(OPTIMISTIC), out()))
handle, scrollopt, ccopt, rowcount = params[0], params[2], params[3], params[4]
check("open returns a handle", isinstance(handle, int) and handle > 0, params)
check("open describes the columns", names == ["id", "name"], names)
check("open returns no rows", rows == [], rows)
check("AUTO_FETCH is reported as not granted", scrollopt == KEYSET, scrollopt)
check("optimistic concurrency by values", ccopt == OPTIMISTIC_VALUES, ccopt)
check("a keyset cursor counts its rows", rowcount == 5, rowcount)

check("FIRST", fetch(handle, FIRST, 0, 2) == [(1, "one"), (2, "two")])
check("each row's status is 1 (fetched)", row_statuses == [1, 1], row_statuses)
check("NEXT", fetch(handle, NEXT, 0, 2) == [(3, "three"), (4, "four")])
check("NEXT at the end", fetch(handle, NEXT, 0, 2) == [(5, "five")])
check("past the end", fetch(handle, NEXT, 0, 2) == [])
check("PREV", fetch(handle, PREV, 0, 2) == [(4, "four"), (5, "five")])
check("ABSOLUTE", fetch(handle, ABSOLUTE, 2, 2) == [(2, "two"), (3, "three")])
check("RELATIVE", fetch(handle, RELATIVE, 2, 1) == [(4, "four")])
check("LAST", fetch(handle, LAST, 0, 1) == [(5, "five")])
info = call("sp_cursorfetch", (handle, INFO, out(), out()))[1]
check("INFO gives the position and the row count", (info[2], info[3]) == (5, 5), info)

# Positioned changes, with values named by column.
fetch(handle, ABSOLUTE, 2, 2)
cur.callproc("sp_cursor", {"@cursor": handle, "@optype": UPDATE, "@rownum": 2,
                           "@table": "items", "@name": "THREE"})
check("UPDATE changes the table", items()[2] == (3, "THREE"), items())
check("the cursor reads its own change", fetch(handle, ABSOLUTE, 3, 1) == [(3, "THREE")])
cur.callproc("sp_cursor", (handle, DELETE, 1, ""))
check("DELETE removes the row", [r[0] for r in items()] == [1, 2, 4, 5], items())
cur.callproc("sp_cursor", {"@cursor": handle, "@optype": INSERT, "@rownum": 0, "@table": "",
                           "@id": 6, "@name": "six"})
check("INSERT adds a row", items()[-1] == (6, "six"), items())
fetch(handle, FIRST)
check("a change to a column the table lacks is 207",
      error_number(lambda: cur.callproc("sp_cursor", {"@cursor": handle, "@optype": UPDATE,
                                                      "@rownum": 1, "@table": "",
                                                      "@nope": 1})) == 207)
check("the change as one text is refused, not taken for a value",
      error_number(lambda: cur.callproc("sp_cursor", (handle, UPDATE, 1, "",
                                                      "UPDATE items SET name = 'x'"))) == 16902)
check("a row outside the fetch buffer is 16930",
      error_number(lambda: cur.callproc("sp_cursor", (handle, DELETE, 9, ""))) == 16930)

# Cursor names are the session's and unique.
cur.callproc("sp_cursoroption", (handle, 2, "first_cursor"))
other = call("sp_cursoropen", (out(), "SELECT name FROM items", out(STATIC),
                               out(OPTIMISTIC), out()))[1]
check("static cursors are read-only", other[3] == READ_ONLY, other)
check("a name in use is 16915",
      error_number(lambda: cur.callproc("sp_cursoroption", (other[0], 2, "FIRST_CURSOR")))
      == 16915)
check("a static cursor refuses changes",
      error_number(lambda: cur.callproc("sp_cursor", (other[0], DELETE, 1, ""))) == 16929)
forward = call("sp_cursoropen", (out(), "SELECT id FROM items", out(FORWARD_ONLY),
                                 out(READ_ONLY), out()))[1]
check("a forward-only cursor does not count its rows", forward[4] == -1, forward)
check("a forward-only cursor cannot go back",
      error_number(lambda: fetch(forward[0], PREV)) == 16911)

# Closing frees the handle; a bad handle is an error and the session goes on.
cur.callproc("sp_cursorclose", (handle,))
check("a closed handle is 16999", error_number(lambda: fetch(handle, NEXT)) == 16999)
check("an unknown handle is 16999",
      error_number(lambda: cur.callproc("sp_cursorclose", (12345,))) == 16999)
check("the session lives on", items()[0] == (1, "one"))

# A statement that is no SELECT runs directly, without a cursor.
direct = call("sp_cursoropen", (out(), "INSERT INTO items VALUES (7, 'seven')",
                                out(KEYSET), out(OPTIMISTIC), out()))[1]
check("no cursor for an INSERT", direct[0] == 0, direct)
check("16954 tells so", any(ex.msg_no == 16954 for _, ex in cur.messages), cur.messages)
check("the INSERT ran", items()[-1] == (7, "seven"), items())

# Parameterised and prepared cursors.
opened = call("sp_cursoropen", (out(), "SELECT id FROM items WHERE id > @p ORDER BY id",
                                out(KEYSET | PARAMETERIZED), out(READ_ONLY), out(), "@p int",
                                5))[1]
check("a parameterised open", opened[4] == 2 and fetch(opened[0], FIRST, 0, 5) == [(6,), (7,)],
      opened)
_, prepared, names = call("sp_cursorprepare",
                          (out(), "@p int", "SELECT id, name FROM items WHERE id < @p ORDER BY id",
                           1, out(STATIC), out(READ_ONLY)))
check("prepare describes the columns", names == ["id", "name"], names)
executed = call("sp_cursorexecute", (prepared[0], out(), out(STATIC), out(READ_ONLY), out(),
                                     3))[1]
check("execute opens a cursor", executed[4] == 2 and fetch(executed[1], LAST, 0, 1) == [(2, "two")],
      executed)
both = call("sp_cursorprepexec", (out(), out(), "@p int", "SELECT name FROM items WHERE id = @p",
                                  0, out(KEYSET), out(OPTIMISTIC), out(), 4))[1]
check("prepexec opens a cursor", both[7] == 1 and fetch(both[1], FIRST) == [("four",)], both)
cur.callproc("sp_cursorunprepare", (prepared[0],))
check("an unprepared handle is 8179",
      error_number(lambda: cur.callproc("sp_cursorexecute", (prepared[0], out(), out(KEYSET),
                                                             out(READ_ONLY), out(), 3))) == 8179)
check("a bad fetch type is 16902", error_number(lambda: fetch(both[1], 0x40)) == 16902)
# A change finds its row by the values the cursor read, of every type, NULLs
# included; text is left out of the comparison.
cur.execute("CREATE TABLE typed (id int IDENTITY(1,1) PRIMARY KEY, d decimal(10,3), dt datetime, "
            "sdt smalldatetime, f float, r real, m money, nv nvarchar(20), c char(5), "
            "b varbinary(4), u uniqueidentifier, bt bit, tx text, label varchar(10))")
cur.execute("INSERT INTO typed (d, dt, sdt, f, r, m, nv, c, b, u, bt, tx, label) VALUES "
            "(12.345, '2020-02-29 23:59:59.997', '2021-06-01 12:30', 0.1, 1.1, 12.3456, "
            "N'h\u00e9', 'ab', 0xDEAD, '6F9619FF-8B86-D011-B42D-00C04FC964FF', 1, 'long', 'a')")
cur.execute("INSERT INTO typed (label) VALUES ('b')")
typed = call("sp_cursoropen", (out(), "SELECT * FROM typed ORDER BY id", out(KEYSET),
                               out(OPTIMISTIC), out()))[1]
for position in (1, 2):
    fetch(typed[0], ABSOLUTE, position, 1)
    cur.callproc("sp_cursor", {"@cursor": typed[0], "@optype": UPDATE, "@rownum": 1,
                               "@table": "", "@label": "new%d" % position})
cur.execute("SELECT label FROM typed ORDER BY id")
check("rows of every type are found by their values",
      [row[0] for row in cur.fetchall()] == ["new1", "new2"])
# Money and decimal values written through the cursor keep every digit, and
# the row is found again by them.
fetch(typed[0], ABSOLUTE, 1, 1)
cur.callproc("sp_cursor", {"@cursor": typed[0], "@optype": UPDATE, "@rownum": 1, "@table": "",
                           "@m": decimal.Decimal("922337203685477.5807"),
                           "@d": decimal.Decimal("-1234567.891")})
fetch(typed[0], ABSOLUTE, 1, 1)
cur.callproc("sp_cursor", {"@cursor": typed[0], "@optype": UPDATE, "@rownum": 1, "@table": "",
                           "@label": "exact"})
cur.execute("SELECT m, d, label FROM typed WHERE id = 1")
check("a cursor writes money and decimal values exactly",
      cur.fetchall() == [(decimal.Decimal("922337203685477.5807"),
                          decimal.Decimal("-1234567.891"), "exact")])

# What keyset and dynamic cursors see of another connection's changes.
other_conn = pytds.connect("127.0.0.1", port=PORT, user="sa", password="", database="cursors",
                           autocommit=True, tds_version=VERSION, login_timeout=60)
other_cur = other_conn.cursor()
cur.execute("CREATE TABLE watched (id int PRIMARY KEY, name varchar(20))")
for i in range(1, 6):
    cur.execute("INSERT INTO watched VALUES (%d, 'w%d')" % (i, i))
keyset = call("sp_cursoropen", (out(), "SELECT id, name FROM watched", out(KEYSET),
                                out(OPTIMISTIC), out()))[1]
dynamic = call("sp_cursoropen", (out(), "SELECT id, name FROM watched WHERE id > 1",
                                 out(DYNAMIC), out(OPTIMISTIC), out()))[1]
check("a dynamic cursor over a keyed table stays dynamic", dynamic[2] == DYNAMIC, dynamic)
check("a dynamic cursor does not count its rows", dynamic[4] == -1, dynamic)
other_cur.execute("UPDATE watched SET name = 'changed' WHERE id = 2")
other_cur.execute("DELETE FROM watched WHERE id = 3")
other_cur.execute("INSERT INTO watched VALUES (6, 'w6')")
check("a keyset cursor reads its members' current values",
      fetch(keyset[0], FIRST, 0, 2) == [(1, "w1"), (2, "changed")])
check("a deleted member comes back missing, its values NULL",
      fetch(keyset[0], NEXT, 0, 1) == [(None, None)] and row_statuses == [2], row_statuses)
check("a keyset cursor does not see inserts",
      [r[0] for r in fetch(keyset[0], FIRST, 0, 10)] == [1, 2, None, 4, 5])
check("a missing member cannot be changed",
      error_number(lambda: cur.callproc("sp_cursor", (keyset[0], DELETE, 3, ""))) == 16934)
check("a dynamic cursor sees inserts, updates and deletes",
      fetch(dynamic[0], FIRST, 0, 10) == [(2, "changed"), (4, "w4"), (5, "w5"), (6, "w6")])
other_cur.execute("INSERT INTO watched VALUES (3, 'back')")
check("a dynamic cursor moves on from where it stands",
      fetch(dynamic[0], FIRST, 0, 1) == [(2, "changed")]
      and fetch(dynamic[0], NEXT, 0, 2) == [(3, "back"), (4, "w4")]
      and fetch(dynamic[0], PREV, 0, 1) == [(2, "changed")])
check("ABSOLUTE is refused on a dynamic cursor, which has no row numbers",
      error_number(lambda: fetch(dynamic[0], ABSOLUTE, 2, 1)) == 16925)
check("the refused fetch leaves the cursor where it stood",
      fetch(dynamic[0], RELATIVE, 0, 1) == [(2, "changed")])
cur.callproc("sp_cursor", {"@cursor": dynamic[0], "@optype": UPDATE, "@rownum": 1,
                           "@table": "", "@name": "mine"})
other_cur.execute("SELECT name FROM watched WHERE id = 2")
check("a dynamic cursor changes the row it fetched", other_cur.fetchall()[0][0] == "mine")
cur.execute("CREATE TABLE heap (id int, name varchar(20))")
heap = call("sp_cursoropen", (out(), "SELECT id, name FROM heap", out(KEYSET), out(OPTIMISTIC),
                              out()))[1]
check("a keyset cursor over a table without a key becomes static and read-only",
      (heap[2], heap[3]) == (STATIC, READ_ONLY), heap)
joined = call("sp_cursoropen", (out(), "SELECT w.id FROM watched w JOIN items i ON i.id = w.id",
                                out(DYNAMIC), out(OPTIMISTIC), out()))[1]
check("a dynamic cursor over a join becomes static", joined[2] == STATIC, joined)
ordered = call("sp_cursoropen", (out(), "SELECT id FROM watched ORDER BY name", out(DYNAMIC),
                                 out(OPTIMISTIC), out()))[1]
check("a dynamic cursor over an ordered query becomes keyset", ordered[2] == KEYSET, ordered)

# Under READ UNCOMMITTED a fetch reads another connection's pending change;
# back at READ COMMITTED the same cursor reads the committed row again.
pending = call("sp_cursoropen", (out(), "SELECT id, name FROM watched WHERE id = 4", out(KEYSET),
                                 out(OPTIMISTIC), out()))[1]
seeking = call("sp_cursoropen", (out(), "SELECT id, name FROM watched WHERE id >= 4",
                                 out(DYNAMIC), out(OPTIMISTIC), out()))[1]
other_cur.execute("BEGIN TRAN UPDATE watched SET name = 'pending' WHERE id = 4")
check("a keyset fetch reads committed rows by default",
      fetch(pending[0], FIRST) == [(4, "w4")])
cur.execute("SET TRANSACTION ISOLATION LEVEL READ UNCOMMITTED")
check("a keyset fetch under READ UNCOMMITTED reads the pending change",
      fetch(pending[0], FIRST) == [(4, "pending")])
check("a dynamic fetch under READ UNCOMMITTED reads the pending change",
      fetch(seeking[0], FIRST, 0, 1) == [(4, "pending")])
cur.execute("SET TRANSACTION ISOLATION LEVEL READ COMMITTED")
check("back at READ COMMITTED the fetch reads the committed row",
      fetch(pending[0], FIRST) == [(4, "w4")])
other_cur.execute("ROLLBACK TRAN")

# An index made on its table since it opened stops a keyed cursor's fetches
# (16943); a static cursor reads its copy on; the session lives on.
shifting = call("sp_cursoropen", (out(), "SELECT id, name FROM watched", out(KEYSET),
                                  out(OPTIMISTIC), out()))[1]
copied = call("sp_cursoropen", (out(), "SELECT id, name FROM watched", out(STATIC),
                                out(READ_ONLY), out()))[1]
other_cur.execute("CREATE INDEX watched_name ON watched (name)")
check("a keyset fetch after the table changed fails with 16943",
      error_number(lambda: fetch(shifting[0], FIRST)) == 16943)
check("a static cursor fetches on", len(fetch(copied[0], FIRST, 0, 2)) == 2)
cur.callproc("sp_cursorclose", (shifting[0],))
cur.callproc("sp_cursorclose", (copied[0],))
other_conn.close()

# A change goes to the database the cursor was opened in, whatever is current.
moved = call("sp_cursoropen", (out(), "SELECT id, name FROM items WHERE id = 1", out(KEYSET),
                               out(OPTIMISTIC), out()))[1]
cur.execute("USE master")
fetch(moved[0], FIRST)
cur.callproc("sp_cursor", {"@cursor": moved[0], "@optype": UPDATE, "@rownum": 1, "@table": "",
                           "@name": "uno"})
cur.execute("USE cursors")
check("a change after USE goes to the cursor's database", items()[0] == (1, "uno"), items())
check("the session still answers", items()[0][0] == 1)

# A ROLLBACK leaves API cursors open (CURSOR_CLOSE_ON_COMMIT is OFF for this
# login); with it ON a COMMIT closes them: 16917 at the next fetch, the
# handle kept until sp_cursorclose frees it.
kept = call("sp_cursoropen", (out(), "SELECT id FROM items ORDER BY id", out(STATIC),
                              out(READ_ONLY), out()))[1]
cur.execute("BEGIN TRAN")
cur.execute("ROLLBACK TRAN")
check("a rollback leaves an API cursor open", fetch(kept[0], FIRST) == [(1,)])
cur.execute("SET CURSOR_CLOSE_ON_COMMIT ON")
cur.execute("BEGIN TRAN")
cur.execute("COMMIT TRAN")
check("a commit under CURSOR_CLOSE_ON_COMMIT closes an API cursor",
      error_number(lambda: fetch(kept[0], FIRST)) == 16917)
check("the closed cursor's handle is freed by sp_cursorclose",
      error_number(lambda: cur.callproc("sp_cursorclose", (kept[0],))) is None)
cur.execute("SET CURSOR_CLOSE_ON_COMMIT OFF")

conn.close()
sys.exit(1 if failures else 0)
