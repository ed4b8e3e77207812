#!/usr/bin/env python3
"""usage: stats_oracle.py TRELLAN_ROWS

Writes captures of many conversations (IPv4 and IPv6, TCP, UDP and ICMP, VLAN-tagged, ARP, both
directions, several link types, the odd frames of link_types_oracle.py) and compares what
trellan-rows --stats prints with what tshark -z prints of the same frames: conversations and
endpoints of every kind, the protocol hierarchy and the I/O intervals. Exits 0 when all agree,
1 on a difference, 77 without tshark."""
import ipaddress, os, random, re, shutil, struct, subprocess, sys, tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import link_types_oracle as L  # noqa: E402

HOSTS = [(ipaddress.ip_address(a).packed, bytes.fromhex(m)) for a, m in (
    ('10.1.0.1', '020000000001'), ('10.1.0.2', '020000000002'), ('192.0.2.77', '020000000003'),
    ('2001:db8::a', '020000000004'), ('2001:db8::b', '020000000005'), ('fe80::1', '020000000006'))]

def transport(proto, sport, dport, data):
    if proto == 6:
        return struct.pack('!HHIIBBHHH', sport, dport, 1000, 2000, 0x50, 0x18, 512, 0, 0) + data
    if proto == 17:
        return struct.pack('!HHHH', sport, dport, 8 + len(data), 0) + data
    return struct.pack('!BBHHH', 8, 0, 0, 1, 1) + data  # an echo request, ICMP or ICMPv6

def packet(src, dst, proto, sport, dport, data):
    if len(src) == 4:
        body = transport(proto, sport, dport, data)
        h = struct.pack('!BBHHHBBH4s4s', 0x45, 0, 20 + len(body), 1, 0, 64, proto, 0, src, dst)
        return 0x0800, h + body
    proto = 58 if proto == 1 else proto
    body = transport(proto, sport, dport, data)
    return 0x86DD, struct.pack('!IHBB16s16s', 0x60000000, len(body), proto, 64, src, dst) + body

def ethernet(dst, src, types, pkt):
    return dst + src + b''.join(struct.pack('!HH', t, 7) if t == 0x8100 else struct.pack('!H', t)
                                for t in types) + pkt

def traffic(link):
    """Frames of a few hundred conversations, each way, on link type `link`."""
    rnd, out = random.Random(5), []
    for i in range(600):
        family = rnd.choice((HOSTS[:3], HOSTS[3:]))
        (a, ma), (b, mb) = rnd.sample(family, 2)
        proto = rnd.choice((6, 6, 17, 1))
        sport, dport = rnd.choice(((40000, 80), (40001, 80), (5353, 53), (443, 443)))
        if rnd.random() < 0.4:  # the answer
            (a, ma), (b, mb), sport, dport = (b, mb), (a, ma), dport, sport
        data = bytes(rnd.randrange(0, 300) * (rnd.random() < 0.7))
        etype, pkt = packet(a, b, proto, sport, dport, data)
        if link == 1:
            tags = (0x8100, etype) if rnd.random() < 0.15 else (etype,)
            out.append(ethernet(mb, ma, tags, pkt))
            if rnd.random() < 0.05:
                arp = struct.pack('!HHBBH6s4s6s4s', 1, 0x0800, 6, 4, 1, ma, HOSTS[0][0], bytes(6),
                                  HOSTS[1][0])
                out.append(ethernet(b'\xff' * 6, ma, (0x0806,), arp))
        elif link == 113:
            out.append(struct.pack('!HHH8sH', 0, 1, 6, ma + b'\0\0', etype) + pkt)
        else:
            out.append(pkt)
    return out

def write(path, link, frames):
    # Ten frames a second, with a pause of a minute in the middle: empty intervals too.
    out = struct.pack('<IHHiIII', 0xA1B2C3D4, 2, 4, 0, 0, 65535, link)
    for i, (data, cut) in enumerate(frames):
        t = 1700000000 * 10**6 + i * 100003 + (60 * 10**6 if i > len(frames) // 2 else 0)
        out += struct.pack('<IIII', t // 10**6, t % 10**6, len(data[:cut]), len(data)) + data[:cut]
    with open(path, 'wb') as f:
        f.write(out)

TSHARK = ['-n', '-o', 'ip.defragment:FALSE', '-o', 'ipv6.defragment:FALSE']

def run(*args):
    return subprocess.run(args, capture_output=True, text=True, check=True).stdout

def ours(program, path, table):
    lines = run(program, '--stats', table, path).splitlines()
    return [line.split('\t') for line in lines[2:]]

def size(text):
    """tshark's byte counts: "1338 bytes", or rounded to kB, MB, ... : the value and its unit."""
    n, unit = text.split()
    return int(n), {'bytes': 1, 'kB': 1000, 'MB': 10**6, 'GB': 10**9}[unit]

def same_size(theirs, mine):
    n, unit = size(theirs)
    return abs(int(mine) - n * unit) < unit

def compare_conversations(program, path, kind, faults):
    ports = kind in ('tcp', 'udp')
    theirs = {}
    for line in run('tshark', '-r', path, '-q', '-z', 'conv,' + kind, *TSHARK).splitlines():
        m = re.match(r'(\S+)\s+<->\s+(\S+)\s+(\d+) (\S+ \S+)\s+(\d+) (\S+ \S+)\s+(\d+) (\S+ \S+)\s+'
                     r'(\S+)\s+(\S+)$', line.strip())
        if m:
            a, b = m[1], m[2]
            if ports:
                a, b = tuple(a.rsplit(':', 1)), tuple(b.rsplit(':', 1))
            theirs[(a, b)] = m.groups()[2:]
    mine = {}
    for row in ours(program, path, 'conv,' + kind):
        key = ((row[0], row[1]), (row[2], row[3])) if ports else (row[0], row[1])
        mine[key] = row[4 if ports else 2:]
    for key in sorted(set(theirs) | set(mine)):
        t, o = theirs.get(key), mine.get(key)
        if not t or not o:
            faults.append('%s: %s conversation %s: tshark %s, trellan %s' % (path, kind, key, t, o))
            continue
        # tshark: B->A frames and bytes, A->B, total, relative start, duration (4 places).
        frames, total, ab, abb, ba, bab, start, duration = o[:8]
        ok = (t[0], t[2], t[4]) == (ba, ab, frames) and same_size(t[1], bab) and \
            same_size(t[3], abb) and same_size(t[5], total) and \
            abs(float(t[6]) - float(start)) < 1e-6 and abs(float(t[7]) - float(duration)) <= 1e-4
        if not ok:
            faults.append('%s: %s conversation %s: tshark %s, trellan %s' % (path, kind, key, t, o))

def compare_endpoints(program, path, kind, faults):
    ports = kind in ('tcp', 'udp')
    theirs = {}
    for line in run('tshark', '-r', path, '-q', '-z', 'endpoints,' + kind, *TSHARK).splitlines():
        cells = line.split()
        if len(cells) == 7 + ports and all(c.isdigit() for c in cells[1:]):
            theirs[tuple(cells[:1 + ports])] = cells[1 + ports:]
    mine = {tuple(row[:1 + ports]): row[1 + ports:] for row in ours(program, path, 'endpoints,' + kind)}
    if theirs != mine:
        for key in sorted(set(theirs) | set(mine)):
            if theirs.get(key) != mine.get(key):
                faults.append('%s: %s endpoint %s: tshark %s, trellan %s' %
                              (path, kind, key, theirs.get(key), mine.get(key)))

# tshark's names of the protocols the hierarchy holds; 'ethertype' is a step of tshark's own.
NAMES = {'Ethernet': 'eth', 'Linux cooked v1': 'sll', 'Raw IP': 'raw', 'IPv4': 'ip', 'IPv6': 'ipv6',
         'ARP': 'arp', 'VLAN': 'vlan', 'TCP': 'tcp', 'UDP': 'udp', 'ICMP': 'icmp',
         'ICMPv6': 'icmpv6'}

def compare_protocols(program, path, faults):
    theirs, stack = {}, []
    for line in run('tshark', '-r', path, '-q', '-z', 'io,phs', *TSHARK).splitlines():
        m = re.match(r'( *)(\S+)\s+frames:(\d+) bytes:(\d+)$', line)
        if not m:
            continue
        stack = stack[:len(m[1]) // 2] + [m[2]]
        path_ = tuple(n for n in stack if n != 'ethertype')
        if all(n in NAMES.values() for n in path_):
            theirs[path_] = (m[3], m[4])
    mine, stack = {}, []
    for row in ours(program, path, 'protocols'):
        depth = (len(row[0]) - len(row[0].lstrip())) // 2
        stack = stack[:depth] + [row[0].strip()]
        if depth and all(n in NAMES for n in stack[1:]):
            mine[tuple(NAMES[n] for n in stack[1:])] = (row[1], row[3])
    # The payload levels below TCP and UDP are the program's own: tshark names applications.
    if theirs != mine:
        faults.append('%s: protocol hierarchy: tshark %s, trellan %s' % (path, theirs, mine))

def compare_intervals(program, path, faults):
    theirs = [tuple(m.groups()) for m in re.finditer(
        r'\|\s*[\d.]+\s*<>\s*[\d.Dur]+\s*\|\s*(\d+)\s*\|\s*(\d+)\s*\|',
        run('tshark', '-r', path, '-q', '-z', 'io,stat,1', *TSHARK))]
    mine = [tuple(row[1:3]) for row in ours(program, path, 'io,1')]
    if theirs != mine:
        faults.append('%s: I/O intervals: tshark %s, trellan %s' % (path, theirs, mine))

def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    if not shutil.which('tshark'):
        print('tshark is not installed: nothing to compare with')
        return 77
    # tshark leaves three of the odd frames out where the program counts them: a frame cut
    # inside its Ethernet header is in no protocol of its hierarchy (here: its link type's), and
    # an IPv6 packet cut inside an extension header or a later fragment (with reassembly off)
    # is in no IPv6 conversation (here: the conversation of its two addresses, as tshark's own
    # IPv4 tables count an IPv4 later fragment).
    left_out = ('cut in Ethernet', 'cut in extension header', 'IPv6 later fragment')
    odd = {name: [(data, cut) for label, data, cut in frames if label not in left_out]
           for name, _, frames in L.FILES}
    files = [('ethernet', 1, [(f, None) for f in traffic(1)] + odd['ethernet']),
             ('sll', 113, [(f, None) for f in traffic(113)] + odd['sll']),
             ('raw', 101, [(f, None) for f in traffic(101)] + odd['raw'])]
    faults = []
    with tempfile.TemporaryDirectory() as tmp:
        for name, link, frames in files:
            path = os.path.join(tmp, name + '.pcap')
            write(path, link, frames)
            for kind in ('eth', 'ip', 'ipv6', 'tcp', 'udp'):
                compare_conversations(sys.argv[1], path, kind, faults)
                compare_endpoints(sys.argv[1], path, kind, faults)
            compare_protocols(sys.argv[1], path, faults)
            compare_intervals(sys.argv[1], path, faults)
    print('\n'.join(faults + ['%d difference(s)' % len(faults) if faults else 'all tables agree']))
    return 1 if faults else 0

if __name__ == '__main__':
    sys.exit(main())
