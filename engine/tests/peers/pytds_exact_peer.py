"""pytds against a running sqlengine: decimal, numeric, money and smallmoney
values read off the wire (DECIMALN / MONEYN) with every digit and with the
precision and scale of their column or expression. Prints one line per
check; exits non-zero when any check fails.
Usage: /usr/bin/python3 pytds_exact_peer.py PORT TDS_VERSION(7.1|7.4)"""
import decimal
import sys

import pytds
import pytds.tds_base

PORT = int(sys.argv[1])
VERSION = {"7.1": pytds.tds_base.TDS71, "7.4": pytds.tds_base.TDS74}[sys.argv[2]]
D = decimal.Decimal
failures = []


def check(name, condition, detail=""):
    print(("ok   " if condition else "FAIL ") + name + ("" if condition else ": %r" % (detail,)))
    if not condition:
        failures.append(name)


def described(cur):
    """Each result column as (precision, scale) as the wire gave them."""
    return [(column[4], column[5]) for column in cur.description]


def one_row(cur, sql):
    cur.execute(sql)
    rows = cur.fetchall()
    return rows[0] if rows else None


def main():
    conn = pytds.connect("127.0.0.1", port=PORT, user="sa", password="", database="master",
                         autocommit=True, tds_version=VERSION, login_timeout=60)
    cur = conn.cursor()
    suffix = sys.argv[2].replace(".", "")
    table = "exact_wire_%s" % suffix
    cur.execute("create table %s (id int, m money, sm smallmoney, d2 decimal(10,2), "
                "d3 decimal(8,3), w decimal(38,10))" % table)
    cur.execute("insert into %s values (1, 922337203685477.5807, 214748.3647, 12345678.91, "
                "12345.678, 1234567890123456789012345678.0123456789)" % table)
    cur.execute("insert into %s values (2, -922337203685477.5808, -214748.3648, -0.01, "
                "-0.001, -0.0000000001)" % table)

    row = one_row(cur, "select m, sm, d2, d3, w from %s where id = 1" % table)
    check("column values exact", row == (D("922337203685477.5807"), D("214748.3647"),
                                         D("12345678.91"), D("12345.678"),
                                         D("1234567890123456789012345678.0123456789")), row)
    check("column precision and scale",
          described(cur)[2:] == [(10, 2), (8, 3), (38, 10)], described(cur))
    row = one_row(cur, "select m, sm, w from %s where id = 2" % table)
    check("negative edges exact", row == (D("-922337203685477.5808"), D("-214748.3648"),
                                          D("-0.0000000001")), row)

    # decimal(10,2) * decimal(8,3) is decimal(19,5); + is decimal(12,3).
    row = one_row(cur, "select d2 * d3, d2 + d3 from %s where id = 1" % table)
    check("product and sum exact", row == (D("152415776514.25098"), D("12358024.588")), row)
    check("product and sum typed", described(cur) == [(19, 5), (12, 3)], described(cur))

    # SUM of money is exact to the edge and 8115 past it.
    row = one_row(cur, "select sum(m) from %s" % table)
    check("money sum at the edges", row == (D("-0.0001"),), row)
    try:
        one_row(cur, "select sum(m) from (select m from %s union all select $0.0001) as x "
                     "where m > 0" % table)
        check("money sum past the edge is 8115", False, "no error")
    except pytds.tds_base.Error as error:
        check("money sum past the edge is 8115", getattr(error, "msg_no", None) == 8115, error)

    # 0.1 + 0.2 is 0.3 in decimal(10,1), compared and shown.
    row = one_row(cur, "declare @a decimal(10,1), @b decimal(10,1) select @a = 0.1, @b = 0.2 "
                       "select @a + @b, case when @a + @b = 0.3 then 1 else 0 end")
    check("0.1 + 0.2", row == (D("0.3"), 1), row)
    check("0.1 + 0.2 typed", described(cur)[0] == (11, 1), described(cur))

    cur.execute("drop table %s" % table)
    # A sql_variant carries its decimal's every digit (SSVARIANT on the wire).
    row = one_row(cur, "select cast(cast(12345678901234567.89 as decimal(38,2)) as sql_variant), "
                       "cast(cast(-99999999999999999999999999999999.999999 as decimal(38,6)) "
                       "as sql_variant)")
    check("sql_variant decimal exact", row == (D("12345678901234567.89"),
                                               D("-99999999999999999999999999999999.999999")), row)

    conn.close()
    sys.exit(1 if failures else 0)


main()
