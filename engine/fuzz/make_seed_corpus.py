#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora from the repository's own tests.

tsql/        every batch of the SQL script tests and the sample schema
requests/    every request packet of the codec and server tests, as the
             requests target reads them: a selector byte, then the body
rpc_params/  the parameter data of every RPC packet among them
cursor_calls/  the calls of the server cursor procedures (ids 1..9) among
             them, as the cursor target reads them: a byte for the id and
             version, then the parameter data

Requests as real clients send them come from FreeTDS packet dumps given as
arguments: run a client test with TDSDUMP=/tmp/dump.log (one file per test
process) and pass the files; each message the client sent is seeded.

Run it after adding tests worth seeding from; the output is kept in the
repository so a fuzz run starts from real inputs. File names are content
hashes, so running it again only adds inputs.
"""
import hashlib
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]
OUT = ROOT / "engine" / "fuzz" / "corpus"

DIRECTIVE = re.compile(r"^(statement|query)\b")


def script_batches(path):
    """Yields the SQL of each statement/query block of a script test."""
    block, in_sql = [], False
    for line in path.read_text(encoding="utf-8").splitlines():
        if DIRECTIVE.match(line):
            if block:
                yield "\n".join(block)
            block, in_sql = [], True
        elif line.startswith("----") or (not line.strip() and in_sql):
            if block:
                yield "\n".join(block)
            block, in_sql = [], False
        elif in_sql and not line.startswith("#"):
            block.append(line)
    if block:
        yield "\n".join(block)


def sample_batches(path):
    text = path.read_text(encoding="utf-8")
    for batch in re.split(r"^\s*GO\s*$", text, flags=re.MULTILINE | re.IGNORECASE):
        if batch.strip():
            yield batch.strip()


HEX_CALL = re.compile(r'Hex\(\s*((?:"[0-9A-Fa-f ]*"\s*)+)\)')


def hex_tables(path):
    for match in HEX_CALL.finditer(path.read_text(encoding="utf-8")):
        text = "".join(re.findall(r'"([^"]*)"', match.group(1)))
        yield bytes.fromhex(text.replace(" ", ""))


# Packet type -> the requests target's selector (low bits) for a body.
SELECTORS = {0x12: 0, 0x10: 1, 0x01: 2, 0x03: 3, 0x0E: 4, 0x07: 6}


def request_seeds(packet):
    """A framed packet gives its body under its decoder's selector, for 7.1
    and 7.4, and the whole packet as a stream (selector 5)."""
    if len(packet) < 8 or packet[0] not in SELECTORS:
        return
    length = int.from_bytes(packet[2:4], "big")
    if length != len(packet):
        return
    body = packet[8:]
    for version_bit in (0x00, 0x10):
        yield bytes([SELECTORS[packet[0]] | version_bit]) + body
    yield bytes([5]) + packet


def rpc_param_seed(packet):
    """The parameter data of a 7.x RPC packet (by name or procedure id)."""
    call = rpc_call(packet)
    return None if call is None else bytes([call[0]]) + call[2]


def cursor_call_seed(packet):
    """A call of a cursor procedure by id: the cursor target's selector byte
    (id - 1, 0x80 for 7.2 and later) and the parameter data."""
    call = rpc_call(packet)
    if call is None or call[1] is None or not 1 <= call[1] <= 9:
        return None
    return bytes([(call[1] - 1) | (0x80 if call[0] else 0)]) + call[2]


def rpc_call(packet):
    """(version bit, procedure id or None, parameter data) of an RPC packet."""
    if len(packet) < 8 or packet[0] != 0x03:
        return None
    body = packet[8:]
    offset, version_bit = 0, 0
    if len(body) >= 4:
        total = int.from_bytes(body[0:4], "little")
        if 4 <= total <= len(body) and total in (18, 22):
            offset, version_bit = total, 1
    if offset + 2 > len(body):
        return None
    name_length = int.from_bytes(body[offset:offset + 2], "little")
    proc_id = None
    if name_length == 0xFFFF and offset + 4 <= len(body):
        proc_id = int.from_bytes(body[offset + 2:offset + 4], "little")
    # A call by procedure id carries two bytes of id instead of the name.
    offset += 2 + (2 if name_length == 0xFFFF else 2 * name_length) + 2
    if offset > len(body):
        return None
    return version_bit, proc_id, body[offset:]


DUMP_LINE = re.compile(r"^[0-9a-f]{4} ((?:[0-9a-f]{2}[ -]){1,16})")


def dumped_messages(path):
    """Yields each whole message a client sent in a FreeTDS dump, with the
    first packet's header (its length field set to the whole message)."""
    packets, current, sending = [], [], False
    for line in path.read_text(encoding="latin-1").splitlines():
        if line.endswith("Sending packet"):
            sending, current = True, []
        elif sending and DUMP_LINE.match(line):
            current.extend(bytes.fromhex(DUMP_LINE.match(line).group(1).replace("-", " ")))
        elif sending:
            if current:
                packets.append(bytes(current))
            sending = False
    if sending and current:
        packets.append(bytes(current))
    header, body = None, b""
    for packet in packets:
        if len(packet) < 8:
            continue
        if header is None:
            header = bytearray(packet[:8])
        body += packet[8:]
        if packet[1] & 0x01:
            header[2:4] = min(len(body) + 8, 0xFFFF).to_bytes(2, "big")
            yield bytes(header) + body
            header, body = None, b""


def write(folder, data):
    folder.mkdir(parents=True, exist_ok=True)
    (folder / hashlib.sha1(data).hexdigest()[:16]).write_bytes(data)


def main():
    tsql = OUT / "tsql"
    for script in sorted((ROOT / "engine" / "tests").rglob("*.test")):
        for batch in script_batches(script):
            write(tsql, batch.encode("utf-8"))
    for batch in sample_batches(ROOT / "sample" / "TestProjSQL.sql"):
        write(tsql, batch.encode("utf-8"))
    for source in sorted((ROOT / "engine" / "tests").rglob("*.cpp")):
        for packet in hex_tables(source):
            for seed in request_seeds(packet):
                write(OUT / "requests", seed)
            param_seed = rpc_param_seed(packet)
            if param_seed is not None:
                write(OUT / "rpc_params", param_seed)
    for dump in sys.argv[1:]:
        for message in dumped_messages(pathlib.Path(dump)):
            for seed in request_seeds(message):
                write(OUT / "requests", seed)
            param_seed = rpc_param_seed(message)
            if param_seed is not None:
                write(OUT / "rpc_params", param_seed)
            cursor_seed = cursor_call_seed(message)
            if cursor_seed is not None:
                write(OUT / "cursor_calls", cursor_seed)
    for folder in sorted(OUT.iterdir()):
        print(f"{folder.name}: {len(list(folder.iterdir()))} inputs", file=sys.stderr)


if __name__ == "__main__":
    main()
