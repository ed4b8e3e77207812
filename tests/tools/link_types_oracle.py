#!/usr/bin/env python3
"""Every link type trellan-rows decodes, checked frame by frame against tshark.

usage: link_types_oracle.py TRELLAN_ROWS

Writes one capture file per link type, reads each with trellan-rows --ipv6-vlan and with
tshark, and compares what both make of every frame: addresses, ports, sequence numbers,
TTL or hop limit, upper-layer protocol, payload lengths, checksum verdicts, link cells and
which views hold the frame. Exits 0 when they agree, 1 on any difference, 77 without tshark.
"""
import ipaddress, os, shutil, struct, subprocess, sys, tempfile

A4, B4 = ipaddress.ip_address('192.0.2.1').packed, ipaddress.ip_address('198.51.100.7').packed
A6, B6 = (ipaddress.ip_address(a).packed for a in ('2001:db8::1:0:0:1', 'fe80::20a:bff:fe0c:d0e'))
HOME = ipaddress.ip_address('::ffff:192.0.2.9').packed
M1, M2, M3, M4 = (bytes.fromhex(m) for m in ('00a0c914c829', '020000aabbcc', '0a1b2c3d4e5f', '7e0000000001'))
EXT = {0, 43, 44, 51, 60}  # IPv6 extension headers: a chain of them ends in the upper layer

def csum(b):
    b += b'\0' * (len(b) % 2)
    s = sum(struct.unpack('!%dH' % (len(b) // 2), b))
    while s > 0xFFFF:
        s = (s & 0xFFFF) + (s >> 16)
    return ~s & 0xFFFF

def pseudo(src, dst, proto, n):
    return src + dst + (struct.pack('!xBH', proto, n) if len(src) == 4 else struct.pack('!I3xB', n, proto))

def put(b, at, value):
    return b[:at] + struct.pack('!H', value) + b[at + 2:]

def tcp(src, dst, data=b'', seq=0x11223344, ack=0x8899AABB, bad=False):
    h = struct.pack('!HHIIBBHHH', 40000, 80, seq, ack, 0x50, 0x18, 8192, 0, 0) + data
    return put(h, 16, csum(pseudo(src, dst, 6, len(h)) + h) ^ (0x0F0F if bad else 0))

def udp(src, dst, data, length=None, whole=None, zero=False):
    # `whole`: the datagram's bytes when only its first fragment is sent here.
    n = length or 8 + len(data)
    h = struct.pack('!HHHH', 5353, 53, n, 0) + data
    return put(h, 6, 0 if zero else csum(pseudo(src, dst, 17, n) + (whole or h)) or 0xFFFF)

def icmp6(src, dst):
    h = struct.pack('!BBHHH', 128, 0, 0, 0x77, 1) + b'ping'
    return put(h, 2, csum(pseudo(src, dst, 58, len(h)) + h))

def ip4(proto, body, opts=b'', ident=0x1234, frag=0, ttl=64, length=None):
    ihl = 5 + len(opts) // 4
    h = struct.pack('!BBHHHBBH4s4s', 0x40 | ihl, 0, length or ihl * 4 + len(body), ident, frag,
                    ttl, proto, 0, A4, B4) + opts
    return put(h, 10, csum(h)) + body

def ip6(nh, body, exts=b'', hlim=63, length=None, src=A6, dst=B6):
    return struct.pack('!IHBB16s16s', 0x6A712345, length or len(exts) + len(body), nh, hlim,
                       src, dst) + exts + body

def opts(nh, n):  # hop-by-hop or destination options of (n+1)*8 bytes, one PadN option
    return bytes([nh, n, 1, n * 8 + 4]) + bytes(n * 8 + 4)

def frag6(nh, offset, more):
    return struct.pack('!BxHI', nh, offset << 3 | more, 0xCAFE)

# ---- link layers -------------------------------------------------------------------------------
def tagged(types, tci=100):  # the first EtherType, then a tag per further one
    return struct.pack('!H', types[0]) + b''.join(struct.pack('!HH', tci + i, t) for i, t in enumerate(types[1:]))

def eth(types, pkt): return M1 + M2 + tagged(types) + pkt
def sll(types, pkt): return struct.pack('!HHH8s', 0, 1, 6, M2) + tagged(types) + pkt
def sll2(types, pkt): return struct.pack('!HHIHBB8s', types[0], 0, 3, 1, 0, 6, M2) + tagged(types)[2:] + pkt
def raw(types, pkt): return pkt
def null(order, v6family):
    return lambda types, pkt: struct.pack(order + 'I', v6family if types[-1] == 0x86DD else 2) + pkt

def wlan(types, pkt, ds=0, qos=False, pad=False):
    # Which address is the destination and which the source hangs on To DS and From DS.
    addrs = [(M1, M2, M3), (M3, M2, M1), (M1, M3, M2), (M3, M4, M1, M2)][ds]
    h = bytes([0x88 if qos else 0x08, ds]) + b'\0\0' + b''.join(addrs[:3]) + b'\x10\0' + b''.join(addrs[3:])
    h += b'\0\0' * qos
    return h + bytes(-len(h) % 4 * pad) + b'\xaa\xaa\x03\0\0\0' + struct.pack('!H', types[-1]) + pkt

def radiotap(types, pkt, ds=0, qos=False, pad=False, extended=False):
    words = [0x80000003, 0] if extended else [0x3]  # TSFT and Flags, in one or two words
    h = struct.pack('<BBH%dI' % len(words), 0, 0, 0, *words)
    h += bytes(-len(h) % 8) + struct.pack('<QB', 0x0102030405060708, 0x20 if pad else 0)
    return h[:2] + struct.pack('<H', len(h)) + h[4:] + wlan(types, pkt, ds, qos, pad)

# ---- the frames ----------------------------------------------------------------------------------
def frames(link, tags):
    """(label, link frame, bytes captured or None) for every frame a link type carries."""
    v4, v6 = (0x0800,), (0x86DD,)
    out = [('IPv4 TCP', link(v4, ip4(6, tcp(A4, B4, b'GET / HTTP/1.0\r\n\r\n')))),
           ('IPv4 UDP', link(v4, ip4(17, udp(A4, B4, b'query')))),
           ('IPv6 TCP', link(v6, ip6(6, tcp(A6, B6, b'hello')))),
           ('IPv6 UDP', link(v6, ip6(17, udp(A6, B6, b'dns?')))),
           ('ICMPv6 echo', link(v6, ip6(58, icmp6(A6, B6))))]
    if tags:
        for t in ((0x8100,), (0x88A8, 0x8100)):
            out += [('IPv4 behind %d tag(s)' % len(t), link(t + v4, ip4(17, udp(A4, B4, b'tag')))),
                    ('IPv6 behind %d tag(s)' % len(t), link(t + v6, ip6(6, tcp(A6, B6, b'tag'))))]
        out.append(('cut in a VLAN tag', link((0x8100,) + v4, ip4(1, b'')), len(link((0,), b'')) + 2))
    return [f if len(f) == 3 else f + (None,) for f in out]

def ethernet_extras():
    # A first fragment with the UDP header of a 48-byte datagram, then the rest of it.
    data = bytes(range(40))
    whole = struct.pack('!HHHH', 5353, 53, 48, 0) + data
    first = udp(A4, B4, data[:16], length=48, whole=whole)
    rh = struct.pack('!BBBBI16s', 6, 2, 2, 1, 0, B6)  # type 2, one segment left: B6 is the end
    seg = tcp(A6, B6, b'routed')
    ext = opts(60, 0) + opts(43, 1) + rh
    v6cut = eth((0x86DD,), ip6(0, tcp(A6, B6), opts(6, 0)))
    return [('IPv4 with options', eth((0x800,), ip4(6, tcp(A4, B4, b'opt'), opts=b'\x94\x04\0\0')), None),
            ('IPv4 first fragment', eth((0x800,), ip4(17, first, frag=0x2000, length=44)), None),
            ('IPv4 later fragment', eth((0x800,), ip4(17, data[16:], frag=3)), None),
            ('IPv6 extension headers', eth((0x86DD,), ip6(0, seg, ext, dst=HOME)), None),
            ('IPv6 first fragment', eth((0x86DD,), ip6(44, udp(A6, B6, b'ab')[:8], frag6(17, 0, 1))), None),
            ('IPv6 later fragment', eth((0x86DD,), ip6(44, b'ab', frag6(17, 1, 0))), None),
            ('IPv6 AH', eth((0x86DD,), ip6(51, tcp(A6, B6, b'ah'), struct.pack('!BBxxII', 6, 4, 1, 1) + bytes(12))), None),
            ('bad TCP checksum', eth((0x800,), ip4(6, tcp(A4, B4, b'oops', bad=True))), None),
            ('UDP without checksum', eth((0x800,), ip4(17, udp(A4, B4, b'vxlan', zero=True))), None),
            ('cut in Ethernet', eth((0x800,), ip4(6, tcp(A4, B4))), 9),
            ('cut in IPv6 header', v6cut, 14 + 20),
            ('cut in extension header', v6cut, 14 + 40 + 5)]

def wireless(link, cut):
    v4, padded = (0x800,), link is radiotap  # only radiotap can say the body is padded
    return [('data, DS bits %d' % d, link((0x86DD,), ip6(17, udp(A6, B6, b'ds')), ds=d), None) for d in (1, 2, 3)] + [
        ('IPv4 data, both DS bits', link(v4, ip4(6, tcp(A4, B4, b'wds')), ds=3), None),
        ('QoS data', link(v4, ip4(17, udp(A4, B4, b'qos')), qos=True, pad=padded), None),
        ('cut in 802.11 header', link(v4, ip4(17, udp(A4, B4, b'x'))), cut)]

def radiotap_extras():
    return wireless(radiotap, 17 + 12) + [
        ('radiotap two present words', radiotap((0x86DD,), ip6(17, udp(A6, B6, b'ext')), extended=True), None),
        ('cut in radiotap', radiotap((0x800,), ip4(17, udp(A4, B4, b'x'))), 6)]

FILES = [('ethernet', 1, frames(eth, True) + ethernet_extras()),
         ('sll', 113, frames(sll, True) + [('cut in SLL', sll((0x800,), ip4(17, udp(A4, B4, b''))), 10)]),
         ('sll2', 276, frames(sll2, True) + [('cut in SLL2', sll2((0x800,), ip4(17, udp(A4, B4, b''))), 9)]),
         ('raw', 101, frames(raw, False)), ('ipv4', 228, frames(raw, False)[:2]),
         ('ipv6', 229, frames(raw, False)[2:]), ('null-le', 0, frames(null('<', 24), False)),
         ('null-be', 0, frames(null('>', 30), False)), ('loop', 108, frames(null('>', 28), False)),
         ('wlan', 105, frames(wlan, False) + wireless(wlan, 20)),
         ('radiotap', 127, frames(radiotap, False) + radiotap_extras())]

# ---- reading them back ---------------------------------------------------------------------------
def write_pcap(path, linktype, frames):
    out = struct.pack('<IHHiIII', 0xA1B2C3D4, 2, 4, 0, 0, 65535, linktype)
    for i, (_, data, cut) in enumerate(frames):
        out += struct.pack('<IIII', 1700000000 + i, i, len(data[:cut]), len(data)) + data[:cut]
    with open(path, 'wb') as f:
        f.write(out)

def rows(program, path, deep):
    """{view caption: {frame number: {column: cell}}}; a repeated caption gets '#2', '#3'."""
    run = subprocess.run([program, '--view', 'all'] + ['--ipv6-vlan'] * deep + [path],
                         capture_output=True, encoding='latin-1')
    views, view, captions = {}, None, None
    for line in run.stdout.split('\n')[:-1]:  # a Data cell may hold any byte but a line feed
        if line.startswith('# '):
            view, captions = views.setdefault(line[2:], {}), None
        elif captions is None:
            captions = []
            for c in line.split('\t'):
                captions.append(c if c not in captions else c + '#%d' % sum(x.split('#')[0] == c for x in captions + [c]))
        else:
            cells = dict(zip(captions, line.split('\t')))
            view[int(cells['Index'])] = cells
    return run.returncode, run.stderr, views

FIELDS = ('frame.number ip.src ipv6.src ip.dst ipv6.dst tcp.srcport udp.srcport tcp.dstport udp.dstport '
          'tcp.seq_raw tcp.ack_raw ip.ttl ipv6.hlim ip.proto ipv6.nxt ipv6.hopopts.nxt ipv6.dstopts.nxt '
          'ipv6.routing.nxt ipv6.fraghdr.nxt ah.next_header tcp.len udp.length ip.checksum.status '
          'tcp.checksum.status udp.checksum.status icmpv6.checksum.status icmpv6.type ip.version '
          'eth.dst eth.src eth.type vlan.etype sll.src.eth sll.etype wlan.da wlan.sa llc.type ip.len ip.hdr_len ip.frag_offset '
          'ipv6.plen ipv6.hopopts.len_oct ipv6.dstopts.len_oct ipv6.routing.len_oct ah.length').split()

def tshark(path):
    # Reassembled fragments would be decoded as one datagram in the last frame: each frame is
    # taken alone here, as trellan-rows takes it.
    prefs = ['tcp.check_checksum:TRUE', 'udp.check_checksum:TRUE', 'ip.check_checksum:TRUE',
             'ip.defragment:FALSE', 'ipv6.defragment:FALSE']
    out = subprocess.run(['tshark', '-r', path, '-T', 'fields', '-E', 'separator=/t'] +
                         [a for p in prefs for a in ('-o', p)] + [a for f in FIELDS for a in ('-e', f)],
                         capture_output=True, text=True, check=True).stdout
    return {int(r['frame.number']): r for r in (dict(zip(FIELDS, l.split('\t'))) for l in out.splitlines())}

def mac(t): return t.replace(':', '').upper()[:6] + '-' + t.replace(':', '').upper()[6:] if t else ''
def bad(status): return status == '0'  # tshark's checksum status: 0 bad, 1 good, 2 not checked

def expected(t, linktype):
    """The cells trellan-rows should show for a frame, from what tshark decoded of it."""
    chain = [int(v) for f in FIELDS if f.endswith(('nxt', 'next_header')) for v in t[f].split(',') if v]
    ends = [v for v in chain if v not in EXT]
    e = {'SrcIP': t['ip.src'] or t['ipv6.src'], 'DstIP': t['ip.dst'] or t['ipv6.dst'],
         'TimeLive': t['ip.ttl'] or t['ipv6.hlim'],
         'Protocol(x)#2': '%02X' % int(t['ip.proto'] or ends[0]) if (t['ip.proto'] or ends) else ''}
    if linktype == 1:
        e.update(DstMac=mac(t['eth.dst']), SrcMac=mac(t['eth.src']), **{'Protocol(x)': t['eth.type']})
    elif linktype in (113, 276):
        e.update(DstMac='', SrcMac=mac(t['sll.src.eth']), **{'Protocol(x)': t['sll.etype']})
    elif linktype in (105, 127):
        e.update(DstMac=mac(t['wlan.da']), SrcMac=mac(t['wlan.sa']), **{'Protocol(x)': t['llc.type']})
    else:
        e.update(DstMac='', SrcMac='', **{'Protocol(x)': {'4': '0x0800', '6': '0x86dd'}.get(t['ip.version'][:1], '')})
    e['Protocol(x)'] = '%04X' % int(e['Protocol(x)'].split(',')[0], 0) if e['Protocol(x)'] else ''
    if t['ip.src']:
        e['IPChecksumBad'] = bad(t['ip.checksum.status'])
    for proto in ('tcp', 'udp'):
        if t[proto + '.srcport']:
            e.update({'Src Port': t[proto + '.srcport'], 'Dst Port': t[proto + '.dstport'],
                      proto + 'Bad': bad(t[proto + '.checksum.status'])})
    if t['tcp.srcport']:
        e.update({'Seq(x)': int(t['tcp.seq_raw']), 'Ack(x)': int(t['tcp.ack_raw']), 'TCPDataLen': int(t['tcp.len'])})
    if t['udp.srcport']:
        # The list shows no more payload than the frame's datagram holds: a first fragment
        # shows its own part of the UDP payload where tshark gives the length field.
        ext = sum(int(v) for f in FIELDS if f.endswith('len_oct') for v in t[f].split(',') if v)
        ext += 8 * len(t['ipv6.fraghdr.nxt'].split(',') if t['ipv6.fraghdr.nxt'] else ()) + \
            sum((int(v) + 2) * 4 for v in t['ah.length'].split(',') if v)
        held = int(t['ip.len']) - int(t['ip.hdr_len']) if t['ip.len'] else int(t['ipv6.plen']) - ext
        e['UDPDataLen'] = min(int(t['udp.length']), held) - 8
    if t['icmpv6.type']:
        e['icmpBad'] = bad(t['icmpv6.checksum.status'])
    # The Data views hold a frame by the payload length its header fields give.
    views = {'IP': bool(e['SrcIP']), 'TCP': bool(t['tcp.srcport']), 'UDP': bool(t['udp.srcport']),
             'ICMP': bool(t['icmpv6.type']), 'TCP Data': e.get('TCPDataLen', 0) > 0,
             'UDP Data': int(t['udp.length'] or 0) > 8}
    return e, views

def ours(views, n):
    """The same cells as trellan-rows showed them."""
    eth, ip, o = views['Ethernet'][n], views['IP'].get(n, {}), {}
    o.update({k: eth[k] for k in ('DstMac', 'SrcMac', 'Protocol(x)')})
    o.update({k: ip[k] for k in ('SrcIP', 'DstIP', 'TimeLive', 'Protocol(x)#2') if k in ip})
    if ip.get('VerLen(x)', '').startswith('4'):
        o['IPChecksumBad'] = '(' in ip['Checksum(x)']
    for view, proto in (('TCP', 'tcp'), ('UDP', 'udp'), ('ICMP', 'icmp')):
        row = views[view].get(n)
        if row:
            o.update({k: row[k] for k in ('Src Port', 'Dst Port') if k in row})
            o[proto + 'Bad'] = '(' in row['Checksum(x)#2']
    if n in views['TCP']:
        r = views['TCP'][n]
        o.update({'Seq(x)': int(r['Seq(x)'], 16), 'Ack(x)': int(r['Ack(x)'], 16), 'TCPDataLen': int(r['TCPDataLen'] or 0)})
    if n in views['UDP']:
        o['UDPDataLen'] = int(views['UDP'][n]['UDPDataLen'] or 0)
    return o, {v: n in views[v] for v in ('IP', 'TCP', 'UDP', 'ICMP', 'TCP Data', 'UDP Data')}

def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    if not shutil.which('tshark'):
        print('tshark is not installed: nothing to compare with')
        return 77
    faults = []
    with tempfile.TemporaryDirectory() as tmp:
        for name, linktype, frames in FILES:
            path = os.path.join(tmp, name + '.pcap')
            write_pcap(path, linktype, frames)
            fault = lambda n, field, got, want, who=('trellan-rows', 'tshark'): faults.append(
                '%s.pcap frame %d (%s): %s: %s %r, %s %r' % (name, n, frames[n - 1][0] if n else 'all',
                                                          field, who[0], got, who[1], want))
            theirs = tshark(path)
            status, _, deep = rows(sys.argv[1], path, True)
            dstatus, _, default = rows(sys.argv[1], path, False)
            if status or dstatus or not deep or not default:
                fault(0, 'exit code', (status, dstatus), (0, 0), ('--ipv6-vlan, by type codes', 'wanted'))
                continue
            for n, (_, _, cut) in enumerate(frames, 1):
                for mode, views in (('--ipv6-vlan', deep), ('by type codes', default)):
                    if n not in views.get('Ethernet', {}):
                        fault(n, 'Ethernet view (%s)' % mode, 'missing', 'a row')
                if cut is not None or n not in deep.get('Ethernet', {}):
                    continue  # a frame cut short is only required to be listed
                want, want_views = expected(theirs[n], linktype)
                got, got_views = ours(deep, n)
                for field in sorted(set(want) | set(got)):
                    if want.get(field) != got.get(field):
                        fault(n, field, got.get(field), want.get(field))
                for view in want_views:
                    if want_views[view] != got_views[view]:
                        fault(n, view + ' view', got_views[view], want_views[view])
                # By type codes only an untagged IPv4 header is read, and read alike.
                t = theirs[n]
                plain = t['ip.version'] == '4' and not t['vlan.etype']
                for view in ('IP', 'ICMP', 'TCP', 'UDP'):
                    if n in default[view] and not plain:
                        fault(n, view + ' view by type codes', 'a row', 'none: not plain IPv4')
                    elif plain and t['ip.hdr_len'] == '20' and t['ip.frag_offset'] == '0' and \
                            default[view].get(n) != deep[view].get(n):
                        fault(n, view + ' row', default[view].get(n), deep[view].get(n),
                              ('by type codes', 'with --ipv6-vlan'))
    for f in faults:
        print(f)
    print('%d difference(s)' % len(faults) if faults else 'every frame decodes as tshark decodes it')
    return 1 if faults else 0

if __name__ == '__main__':
    sys.exit(main())
