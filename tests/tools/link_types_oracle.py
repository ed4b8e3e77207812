#!/usr/bin/env python3
"""usage: link_types_oracle.py TRELLAN_ROWS

Writes a capture file per link type and compares, frame by frame, what trellan-rows --ipv6-vlan
and tshark make of it: link cells, addresses, ports, sequence numbers, TTL, upper-layer protocol,
payload lengths, checksum verdicts, the views that hold it. Without --ipv6-vlan only untagged
IPv4 is decoded, as with it. Exits 0 when all agree, 1 on a difference, 77 without tshark."""
import ipaddress, os, shutil, struct, subprocess, sys, tempfile

A4, B4 = (ipaddress.ip_address(a).packed for a in ('192.0.2.1', '198.51.100.7'))
A6, B6, HOME = (ipaddress.ip_address(a).packed
                for a in ('2001:db8::1:0:0:1', 'fe80::20a:bff:fe0c:d0e', '::ffff:192.0.2.9'))
M1, M2, M3, M4 = (bytes.fromhex(m)
                  for m in ('00a0c914c829', '020000aabbcc', '0a1b2c3d4e5f', '7e0000000001'))
V4, V6 = (0x0800,), (0x86DD,)
EXT = {0, 43, 44, 51, 60}  # IPv6 extension headers: a chain of them ends in the upper layer

def csum(b):
    s = sum(struct.unpack('!%dH' % ((len(b) + 1) // 2), b + b'\0' * (len(b) % 2)))
    s = (s & 0xFFFF) + (s >> 16)
    return ~(s + (s >> 16)) & 0xFFFF

def pseudo(src, dst, proto, n):
    return src + dst + struct.pack(*(('!xBH', proto, n) if len(src) == 4 else ('!I3xB', n, proto)))
def put(b, at, value): return b[:at] + struct.pack('!H', value) + b[at + 2:]
def tcp(src, dst, data=b'', bad=False):
    h = struct.pack('!HHIIBBHHH', 40000, 80, 0x11223344, 0x8899AABB, 0x50, 0x18, 8192, 0, 0) + data
    return put(h, 16, csum(pseudo(src, dst, 6, len(h)) + h) ^ (0x0F0F if bad else 0))
def udp(src, dst, data, length=None, whole=None, zero=False):
    # `whole`: the whole datagram, of which only a first fragment is sent.
    n = length or 8 + len(data)
    h = struct.pack('!HHHH', 5353, 53, n, 0) + data
    return put(h, 6, 0 if zero else csum(pseudo(src, dst, 17, n) + (whole or h)) or 0xFFFF)
def icmp6(src, dst):
    h = struct.pack('!BBHHH', 128, 0, 0, 0x77, 1) + b'ping'
    return put(h, 2, csum(pseudo(src, dst, 58, len(h)) + h))
def ip4(proto, body, opts=b'', frag=0, length=None):
    ihl = 5 + len(opts) // 4
    h = struct.pack('!BBHHHBBH4s4s', 0x40 | ihl, 0, length or ihl * 4 + len(body), 0x1234, frag,
                    64, proto, 0, A4, B4) + opts
    return put(h, 10, csum(h)) + body
def ip6(nh, body, exts=b'', dst=B6):
    return struct.pack('!IHBB16s16s', 0x6A712345, len(exts) + len(body), nh, 63, A6, dst) + exts + body
def opts(nh, n): return bytes([nh, n, 1, n * 8 + 4]) + bytes(n * 8 + 4)  # one PadN option
def frag6(nh, offset, more): return struct.pack('!BxHI', nh, offset << 3 | more, 0xCAFE)

# ---- link layers: each takes the EtherTypes (VLAN tags first) and the network packet -----------
def tagged(types): return struct.pack('!H', types[0]) + b''.join(
    struct.pack('!HH', 100 + i, t) for i, t in enumerate(types[1:]))
def eth(types, pkt): return M1 + M2 + tagged(types) + pkt
def sll(types, pkt): return struct.pack('!HHH8s', 0, 1, 6, M2) + tagged(types) + pkt
def sll2(types, pkt):
    return struct.pack('!HHIHBB8s', types[0], 0, 3, 1, 0, 6, M2) + tagged(types)[2:] + pkt
def raw(types, pkt): return pkt
def null(order, v6family):
    return lambda types, pkt: struct.pack(order + 'I', v6family if types == V6 else 2) + pkt

def wlan(types, pkt, ds=0, qos=False, pad=False):
    # Destination M1 and source M2 lie where To DS and From DS put them; M3, M4 are the others.
    addrs = [(M1, M2, M3), (M3, M2, M1), (M1, M3, M2), (M3, M4, M1, M2)][ds]
    h = bytes([0x88 if qos else 0x08, ds, 0, 0]) + b''.join(addrs[:3]) + b'\x10\0' + b''.join(addrs[3:])
    h += b'\0\0' * qos
    return h + bytes(-len(h) % 4 * pad) + b'\xaa\xaa\x03\0\0\0' + struct.pack('!H', types[-1]) + pkt
def radiotap(types, pkt, ds=0, qos=False, pad=False, extended=False):
    words = [0x80000003, 0] if extended else [0x3]  # TSFT and Flags, in one or two words
    h = struct.pack('<BBH%dI' % len(words), 0, 0, 0, *words)
    h += bytes(-len(h) % 8) + struct.pack('<QB', 0x0102030405060708, 0x20 if pad else 0)
    return h[:2] + struct.pack('<H', len(h)) + h[4:] + wlan(types, pkt, ds, qos, pad)

# ---- the frames: (label, link frame, bytes captured or None for all) ---------------------------
def frames(link, tags=False):
    out = [('IPv4 TCP', link(V4, ip4(6, tcp(A4, B4, b'GET / HTTP/1.0\r\n\r\n'))), None),
           ('IPv4 UDP', link(V4, ip4(17, udp(A4, B4, b'query'))), None),
           ('IPv6 TCP', link(V6, ip6(6, tcp(A6, B6, b'hello'))), None),
           ('IPv6 UDP', link(V6, ip6(17, udp(A6, B6, b'dns?'))), None),
           ('ICMPv6 echo', link(V6, ip6(58, icmp6(A6, B6))), None)]
    for t in ((0x8100,), (0x88A8, 0x8100)) if tags else ():
        out += [('IPv4 behind %d tag(s)' % len(t), link(t + V4, ip4(17, udp(A4, B4, b'tag'))), None),
                ('IPv6 behind %d tag(s)' % len(t), link(t + V6, ip6(6, tcp(A6, B6, b'tag'))), None)]
    if tags:
        out.append(('cut in a VLAN tag', link((0x8100,) + V4, ip4(1, b'')), len(link((0,), b'')) + 2))
    return out

def ethernet():
    data = bytes(range(40))  # a 48-byte UDP datagram in two fragments
    first = udp(A4, B4, data[:16], length=48, whole=struct.pack('!HHHH', 5353, 53, 48, 0) + data)
    # Routing type 2 with one segment left: B6 is the final destination the checksum is over.
    ext = opts(60, 0) + opts(43, 1) + struct.pack('!BBBBI16s', 6, 2, 2, 1, 0, B6)
    v6cut = eth(V6, ip6(0, tcp(A6, B6), opts(6, 0)))
    return frames(eth, True) + [
        ('IPv4 with options', eth(V4, ip4(6, tcp(A4, B4, b'opt'), opts=b'\x94\x04\0\0')), None),
        ('IPv4 first fragment', eth(V4, ip4(17, first, frag=0x2000, length=44)), None),
        ('IPv4 later fragment', eth(V4, ip4(17, data[16:], frag=3)), None),
        ('IPv6 extension headers', eth(V6, ip6(0, tcp(A6, B6, b'routed'), ext, dst=HOME)), None),
        ('IPv6 first fragment', eth(V6, ip6(44, udp(A6, B6, b'ab')[:8], frag6(17, 0, 1))), None),
        ('IPv6 later fragment', eth(V6, ip6(44, b'ab', frag6(17, 1, 0))), None),
        ('IPv6 AH', eth(V6, ip6(51, tcp(A6, B6, b'ah'), struct.pack('!BBxxII12x', 6, 4, 1, 1))), None),
        ('bad TCP checksum', eth(V4, ip4(6, tcp(A4, B4, b'oops', bad=True))), None),
        ('UDP without checksum', eth(V4, ip4(17, udp(A4, B4, b'vxlan', zero=True))), None),
        ('cut in Ethernet', eth(V4, ip4(6, tcp(A4, B4))), 9),
        ('cut in IPv6 header', v6cut, 14 + 20), ('cut in extension header', v6cut, 14 + 40 + 5)]

def wireless(link, cut):
    return frames(link) + [('data, DS bits %d' % d, link(V6, ip6(17, udp(A6, B6, b'ds')), ds=d), None)
                           for d in (1, 2, 3)] + [
        ('IPv4 data, both DS bits', link(V4, ip4(6, tcp(A4, B4, b'wds')), ds=3), None),
        # Only radiotap can say that the body starts at a multiple of four bytes.
        ('QoS data', link(V4, ip4(17, udp(A4, B4, b'qos')), qos=True, pad=link is radiotap), None),
        ('cut in 802.11 header', link(V4, ip4(17, udp(A4, B4, b'x'))), cut)]

FILES = [('ethernet', 1, ethernet()),
         ('sll', 113, frames(sll, True) + [('cut in SLL', sll(V4, ip4(17, udp(A4, B4, b''))), 10)]),
         ('sll2', 276, frames(sll2, True) + [('cut in SLL2', sll2(V4, ip4(17, udp(A4, B4, b''))), 9)]),
         ('raw', 101, frames(raw)), ('ipv4', 228, frames(raw)[:2]), ('ipv6', 229, frames(raw)[2:]),
         ('null-le', 0, frames(null('<', 24))), ('null-be', 0, frames(null('>', 30))),
         ('loop', 108, frames(null('>', 28))), ('wlan', 105, wireless(wlan, 20)),
         ('radiotap', 127, wireless(radiotap, 17 + 12) + [
             ('two present words', radiotap(V6, ip6(17, udp(A6, B6, b'ext')), extended=True), None),
             ('cut in radiotap', radiotap(V4, ip4(17, udp(A4, B4, b'x'))), 6)])]

# ---- reading them back ---------------------------------------------------------------------------
def write_pcap(path, linktype, frames):
    out = struct.pack('<IHHiIII', 0xA1B2C3D4, 2, 4, 0, 0, 65535, linktype)
    for i, (_, data, cut) in enumerate(frames):
        out += struct.pack('<IIII', 1700000000 + i, i, len(data[:cut]), len(data)) + data[:cut]
    with open(path, 'wb') as f:
        f.write(out)

def rows(program, path, deep):
    """The exit code and {view: {frame: {caption: cell}}}; repeated captions get '#2', '#3'."""
    run = subprocess.run([program, '--view', 'all'] + ['--ipv6-vlan'] * deep + [path],
                         capture_output=True, encoding='latin-1')
    views, view, captions = {}, None, None
    for line in run.stdout.split('\n')[:-1]:  # a Data cell may hold any byte but a line feed
        if line.startswith('# '):
            view, captions = views.setdefault(line[2:], {}), None
        elif captions is None:
            captions = []
            for c in line.split('\t'):
                same = sum(x.split('#')[0] == c for x in captions)
                captions.append(c + '#%d' % (same + 1) if same else c)
        else:
            cells = dict(zip(captions, line.split('\t')))
            view[int(cells['Index'])] = cells
    return run.returncode, views

FIELDS = ('frame.number eth.dst eth.src eth.type vlan.etype sll.src.eth sll.etype wlan.da wlan.sa '
          'llc.type ip.version ip.src ipv6.src ip.dst ipv6.dst ip.ttl ipv6.hlim ip.len ip.hdr_len '
          'ip.frag_offset ipv6.plen ip.proto ipv6.nxt ipv6.hopopts.nxt ipv6.dstopts.nxt '
          'ipv6.routing.nxt ipv6.fraghdr.nxt ah.next_header ipv6.hopopts.len_oct '
          'ipv6.dstopts.len_oct ipv6.routing.len_oct ah.length tcp.srcport udp.srcport tcp.dstport '
          'udp.dstport tcp.seq_raw tcp.ack_raw tcp.len udp.length icmpv6.type ip.checksum.status '
          'tcp.checksum.status udp.checksum.status icmpv6.checksum.status').split()

def tshark(path):
    # Each frame is decoded alone, as trellan-rows decodes it: no reassembled fragments.
    prefs = ['tcp.check_checksum:TRUE', 'udp.check_checksum:TRUE', 'ip.check_checksum:TRUE',
             'ip.defragment:FALSE', 'ipv6.defragment:FALSE']
    out = subprocess.run(['tshark', '-r', path, '-T', 'fields', '-E', 'separator=/t'] +
                         [a for p in prefs for a in ('-o', p)] + [a for f in FIELDS for a in ('-e', f)],
                         capture_output=True, text=True, check=True).stdout
    table = (dict(zip(FIELDS, line.split('\t'))) for line in out.splitlines())
    return {int(r['frame.number']): r for r in table}

def mac(t): return (t[:8] + '-' + t[9:]).replace(':', '').upper() if t else ''
def bad(status): return status == '0'  # tshark's checksum status: 0 bad, 1 good, 2 unchecked, 3 none
def values(t, *fields): return [int(v, 0) for f in fields for v in t[f].split(',') if v]

def expected(t, linktype):
    """The cells trellan-rows should show for a frame, and which views should hold it."""
    chain = values(t, *(f for f in FIELDS if f.endswith(('nxt', 'next_header'))))
    link = {1: (t['eth.dst'], t['eth.src'], t['eth.type']), 113: ('', t['sll.src.eth'], t['sll.etype']),
            105: (t['wlan.da'], t['wlan.sa'], t['llc.type'])}.get(
        {276: 113, 127: 105}.get(linktype, linktype),
        ('', '', {'4': '0x0800', '6': '0x86dd'}.get(t['ip.version'][:1], '')))
    proto = values(t, 'ip.proto') or [v for v in chain if v not in EXT]
    outer = link[2].split(',')[0]  # the outer EtherType, not what VLAN tags give
    e = {'DstMac': mac(link[0]), 'SrcMac': mac(link[1]),
         'Protocol(x)': '%04X' % int(outer, 0) if outer else '',
         'SrcIP': t['ip.src'] or t['ipv6.src'], 'DstIP': t['ip.dst'] or t['ipv6.dst'],
         'TimeLive': t['ip.ttl'] or t['ipv6.hlim'], 'Protocol(x)#2': '%02X' % proto[0] if proto else ''}
    if t['ip.src']:
        e['IPChecksumBad'] = bad(t['ip.checksum.status'])
    for p in ('tcp', 'udp'):
        if t[p + '.srcport']:
            e.update({'Src Port': t[p + '.srcport'], 'Dst Port': t[p + '.dstport'],
                      p + 'Bad': bad(t[p + '.checksum.status'])})
    if t['tcp.srcport']:
        e.update({'Seq(x)': int(t['tcp.seq_raw']), 'Ack(x)': int(t['tcp.ack_raw']),
                  'TCPDataLen': int(t['tcp.len'])})
    if t['udp.srcport']:
        # The list shows no more payload than the frame's datagram holds: a first fragment
        # shows its own part of the UDP payload, where tshark gives the length field.
        ext = sum(values(t, 'ipv6.hopopts.len_oct', 'ipv6.dstopts.len_oct', 'ipv6.routing.len_oct'))
        ext += 8 * len(values(t, 'ipv6.fraghdr.nxt')) + sum((v + 2) * 4 for v in values(t, 'ah.length'))
        held = int(t['ip.len']) - int(t['ip.hdr_len']) if t['ip.len'] else int(t['ipv6.plen']) - ext
        e['UDPDataLen'] = min(int(t['udp.length']), held) - 8
    if t['icmpv6.type']:
        e['icmpBad'] = bad(t['icmpv6.checksum.status'])
    # The Data views hold a frame by the payload length its header fields give.
    held = {'IP': bool(e['SrcIP']), 'TCP': bool(t['tcp.srcport']), 'UDP': bool(t['udp.srcport']),
            'ICMP': bool(t['icmpv6.type']), 'TCP Data': e.get('TCPDataLen', 0) > 0,
            'UDP Data': int(t['udp.length'] or 0) > 8}
    return dict(e, **{'in %s view' % v: h for v, h in held.items()})

def ours(views, n):
    """The same cells as trellan-rows shows them, and which views hold the frame."""
    o = {'in %s view' % v: n in views[v] for v in ('IP', 'TCP', 'UDP', 'ICMP', 'TCP Data', 'UDP Data')}
    o.update({k: views['Ethernet'][n][k] for k in ('DstMac', 'SrcMac', 'Protocol(x)')})
    ip = views['IP'].get(n, {})
    o.update({k: ip[k] for k in ('SrcIP', 'DstIP', 'TimeLive', 'Protocol(x)#2') if k in ip})
    if ip.get('VerLen(x)', '').startswith('4'):
        o['IPChecksumBad'] = '(' in ip['Checksum(x)']
    for view, r in ((v, views[v][n]) for v in ('TCP', 'UDP', 'ICMP') if n in views[v]):
        o.update({k: r[k] for k in ('Src Port', 'Dst Port') if k in r})
        o[view.lower() + 'Bad'] = '(' in r['Checksum(x)#2']
        if view == 'TCP':
            o.update({'Seq(x)': int(r['Seq(x)'], 16), 'Ack(x)': int(r['Ack(x)'], 16)})
        if view != 'ICMP':
            o[view + 'DataLen'] = int(r[view + 'DataLen'] or 0)
    return o

def compare(name, linktype, frames, program, tmp, faults):
    path = os.path.join(tmp, name + '.pcap')
    write_pcap(path, linktype, frames)
    def fault(n, field, got, want, who=('trellan-rows', 'tshark')):
        faults.append('%s.pcap frame %d (%s): %s: %s %r, %s %r' % (
            name, n, frames[n - 1][0], field, who[0], got, who[1], want))
    theirs = tshark(path)
    (status, deep), (dstatus, default) = rows(program, path, True), rows(program, path, False)
    if status or dstatus or len(deep) != 8 or len(default) != 8:
        return faults.append('%s.pcap: trellan-rows exit codes %d and %d, %d and %d views'
                             % (name, status, dstatus, len(deep), len(default)))
    for n, (_, _, cut) in enumerate(frames, 1):
        for mode, views in (('--ipv6-vlan', deep), ('by type codes', default)):
            if n not in views['Ethernet']:
                fault(n, 'Ethernet view ' + mode, 'no row', 'a row')
        if cut is not None or n not in deep['Ethernet']:
            continue  # a frame cut short inside a header is only required to be listed
        want, got = expected(theirs[n], linktype), ours(deep, n)
        for field in sorted(set(want) | set(got)):
            if want.get(field) != got.get(field):
                fault(n, field, got.get(field), want.get(field))
        # By type codes an untagged IPv4 header is all that is read, and it is read alike
        # when it has no options and is no later fragment; only a UDP checksum of zero, which
        # by type codes shows what a correct sender would have sent, differs.
        t = theirs[n]
        plain = t['ip.version'] == '4' and not t['vlan.etype']
        for view in ('IP', 'ICMP', 'TCP', 'UDP'):
            if not plain and n in default[view]:
                fault(n, view + ' view by type codes', 'a row', 'no row: not untagged IPv4')
            elif plain and t['ip.hdr_len'] == '20' and t['ip.frag_offset'] == '0' and \
                    default[view].get(n) != deep[view].get(n) and \
                    not (view == 'UDP' and deep[view].get(n, {}).get('Checksum(x)#2') == '0000'):
                fault(n, view + ' row', default[view].get(n), deep[view].get(n),
                      ('by type codes', 'with --ipv6-vlan'))

def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    if not shutil.which('tshark'):
        print('tshark is not installed: nothing to compare with')
        return 77
    faults = []
    with tempfile.TemporaryDirectory() as tmp:
        for name, linktype, frames in FILES:
            compare(name, linktype, frames, sys.argv[1], tmp, faults)
    print('\n'.join(faults + ['%d difference(s)' % len(faults) if faults else 'all frames agree']))
    return 1 if faults else 0

if __name__ == '__main__':
    sys.exit(main())
