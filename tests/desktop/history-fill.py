#!/usr/bin/env python3
"""Fills a history store with a month of made-up incidents from documentation addresses, for the
History window's session test and its screenshots. The tables are made by the statements the
program itself uses, read from its source.   history-fill.py <history.sqlite> <HistorySchema.cpp>"""
import ipaddress, os, random, re, sqlite3, sys, time

path, schema_source = sys.argv[1], sys.argv[2]
os.makedirs(os.path.dirname(path), mode=0o700, exist_ok=True)
text = open(schema_source).read()
body = re.sub(r"//[^\n]*", "", text[text.index("Tables[] = {"):text.index("};", text.index("Tables[] = {"))])
statements, current, last_end = [], "", None
for m in re.finditer(r'"((?:[^"\\]|\\.)*)"', body):
    if last_end is not None and body[last_end:m.start()].strip() == ",":
        statements.append(current); current = ""
    current += m.group(1); last_end = m.end()
statements.append(current)

db = sqlite3.connect(path)
for statement in statements:
    db.execute(statement)
db.execute("PRAGMA user_version = 1")

KINDS = ["connect", "half_open", "fin", "null", "xmas", "udp", "fragment", "port_scan", "flood"]
NETWORKS = {64496: ("DE", "Example Hosting GmbH"), 64497: ("US", "Documentation Cloud Inc."),
            64498: ("NL", "Sample Transit B.V."), 64499: ("BR", "Exemplo Telecom"), 64500: ("JP", "Rei Net")}
def key(address):  # IPv4 mapped into IPv6, as the store keeps it
    return ipaddress.IPv6Address(address if ":" in address else "::ffff:" + address).packed

random.seed(35)
now = int(time.time() * 1000)
sources = [f"192.0.2.{n}" for n in (7, 23, 45, 99, 180)] + [f"198.51.100.{n}" for n in (3, 23, 77, 141)] \
    + [f"203.0.113.{n}" for n in (9, 50, 66, 200, 251)] + ["2001:db8::7", "2001:db8:4:1::23", "2001:db8:ffff::1"]
ports_by_kind = {"connect": [21, 23, 80, 12345, 139], "half_open": [22, 25, 53, 110, 443], "udp": [53, 137, 161]}
incident, hourly, rows = 0, {}, []
for n, address in enumerate(sources):
    asn = list(NETWORKS)[n % len(NETWORKS)]
    weight = 1 + (len(sources) - n) // 3
    kinds_seen, first_seen, last_seen, total, incidents = 0, None, 0, 0, 0
    for _ in range(random.randint(2, 3 + weight)):
        incident += 1
        start = now - random.randint(60_000, 30 * 86_400_000) if incident % 4 else now - random.randint(60_000, 86_400_000)
        kind = random.choice(["connect", "connect", "half_open", "udp"]) if ":" not in address else "connect"
        ports = random.sample(ports_by_kind[kind], random.randint(1, 3))
        scan = len(ports) >= 3
        count = random.randint(1, 4) * len(ports) * weight
        bits = (1 << KINDS.index(kind)) | ((1 << 7) if scan else 0)
        spoofable = 0 if kind == "connect" else 1
        state = 1 if incident % 11 == 0 else 0
        text = ",".join(f"{p}/udp" if kind == "udp" else str(p) for p in ports)
        rows.append((start, key(address), text, bits, count, spoofable, state, ports))
        for p in ports:
            h = (start // 3_600_000, KINDS.index(kind), p)
            hourly[h] = hourly.get(h, 0) + count // len(ports)
        kinds_seen |= bits; total += count; incidents += 1
        first_seen = start if first_seen is None else min(first_seen, start); last_seen = max(last_seen, start + 40_000)
    db.execute("INSERT INTO sources(address,text,first,last,count,incidents,kinds,country,asn) VALUES(?,?,?,?,?,?,?,?,?)",
               (key(address), address, first_seen, last_seen, total, incidents, kinds_seen, NETWORKS[asn][0], asn))
# Ids grow in the order incidents start, as the writer gives them.
for id, (start, address, text, bits, count, spoofable, state, ports) in enumerate(sorted(rows, key=lambda r: r[0]), 1):
    db.execute("INSERT INTO incidents(id,address,first,last,utc_offset,ports,kinds,count,sources,spoofable,state)"
               " VALUES(?,?,?,?,0,?,?,?,1,?,?)", (id, address, start, start + 40_000, text, bits, count, spoofable, state))
    for p in ports:
        db.execute("INSERT INTO incident_ports(port,incident) VALUES(?,?)", (p, id))
for asn, (_, name) in NETWORKS.items():
    db.execute("INSERT INTO networks(asn,name) VALUES(?,?)", (asn, name))
for (hour, kind, port), count in hourly.items():
    db.execute("INSERT INTO hourly(hour,kind,port,count) VALUES(?,?,?,?)", (hour, kind, port, count))
db.commit()
os.chmod(path, 0o600)
print(f"{incident} incidents from {len(sources)} sources")
