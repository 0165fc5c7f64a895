"""pytds with TLS against a running sqlengine. Prints one line per check;
exits non-zero when any check fails.
Usage: /usr/bin/python3 pytds_tls_peer.py PORT CAFILE MODE
MODE: whole (everything encrypted), login (the login only), none (no
encryption offered: the server must refuse when it requires encryption)."""
import sys

import pytds

PORT, CAFILE, MODE = int(sys.argv[1]), sys.argv[2], sys.argv[3]
MARKER = "plaintextmarker"
failures = []


def check(name, condition, detail=""):
    print(("ok   " if condition else "FAIL ") + name + ("" if condition else ": %r" % (detail,)))
    if not condition:
        failures.append(name)


def connect(**extra):
    return pytds.connect("127.0.0.1", port=PORT, user="relayclerk", password="Secret1",
                         database="master", autocommit=True, login_timeout=60, **extra)


if MODE == "none":
    try:
        connect().close()
        check("refused without encryption", False, "connected")
    except Exception as error:  # pytds raises its own Error here
        check("refused without encryption", "encryption" in str(error), str(error))
else:
    with connect(cafile=CAFILE, validate_host=False, enc_login_only=(MODE == "login")) as conn:
        with conn.cursor() as cursor:
            cursor.execute("SELECT '%s' AS m" % MARKER)
            check("marker", cursor.fetchone()[0] == MARKER)
            cursor.execute("DECLARE @s varchar(8000) SET @s = 'ab' "
                           "WHILE LEN(@s) < 6000 SET @s = @s + @s SELECT @s")
            value = cursor.fetchone()[0]
            check("a result of several packets", value == "ab" * 4000, len(value or ""))
            cursor.execute("SELECT %s", ("x" * 20000,))
            check("a request of several packets", cursor.fetchone()[0] == "x" * 20000)
    # pytds trusts only the CA file it is given: another certificate fails.
    try:
        connect(cafile="/etc/ssl/certs/ca-certificates.crt", validate_host=False).close()
        check("an untrusted certificate is refused", False, "connected")
    except Exception:
        check("an untrusted certificate is refused", True)

sys.exit(1 if failures else 0)
