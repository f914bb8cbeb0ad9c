#!/usr/bin/env python3
"""Generates the converter's code-page tables.

Each table comes from the Windows-format code-page file of its page
(c_NNNN.nls, the binary layout Windows itself loads; Wine installs a set of
them) where one is found, and otherwise from the mapping data of the build
machine: Python's codecs or glibc's iconv. The generated file names each
page's source, and PAGES_WITHOUT_TABLE gives the reason for every page of
the converter's list that has none.

Writes, relative to the repository root:
  src/charset/code_page_data.cpp      the packed tables and their catalogue
  src/charset/code_page_digests.inc   per page: entry counts and FNV-1a
                                      digests of both directions, for the
                                      tests that check the unpacked tables

Usage: tools/gen_codepages/gen_codepages.py [--nls-dir DIR]... [REPO_ROOT]
The .nls files are searched in the --nls-dir folders, then in the folders
of the SFX_NLS_PATH variable (separated by ':'), then in NLS_SEARCH_PATH.
The output depends only on the files found and the Python and glibc
versions: the script reads every byte sequence and every BMP character of
each page in a fixed order.

A Windows-format file gives the multibyte-to-Unicode table and the
Unicode-to-multibyte table. A byte or pair is taken as unmapped when it
converts to the file's default Unicode character without being that
character's own code, and a single byte also when it converts to a
private-use character (the file's stand-in for a byte the page leaves
undefined). A unit converts to its code from the second table
only when that code converts back to the unit; best-fit mappings (to a
similar character) are left out, as Windows leaves them out when asked to
convert without best fit.

Packed form of one page (unpacked at run time by code_page_tables.cpp):
  flags byte: bit 0 = a 32-byte bitmap of the lead bytes follows.
              bit 1 = the page starts as a copy of a base page (which is
              not itself a copy): a varint base code page and three bytes
              follow, S, T1 and T2. The copy takes the base's single bytes
              0 to S that are not lead bytes here, and the base's pairs
              whose lead is a lead byte here and whose trail lies from T1
              to T2; the ops then set or clear codes of the copy.
              bit 2 = the page has three-byte sequences: their prefix
              byte follows (before the base of bit 1). The prefix, a lead
              L and a byte T + 0x80 stand for the pair L, T (T < 0x80).
  ops over the codes 0x0000-0xFFFF (a single byte b is code b, a lead byte
  L with trail T is code L*256+T), with a running code and a running UTF-16
  unit, both starting at 0. Op byte: kind in bits 7-6, count in bits 5-0;
  a count field of 63 is followed by a varint added to it; the count is the
  field plus 1.
    0 SKIP n   code += n
    1 SEQ n    n times: unit += 1, map code to unit, code += 1
    2 LIT n    n values, each: unit = decoded value, map code, code += 1
               value: 0xxxxxxx             unit += x - 64
                      10xxxxxx yyyyyyyy    unit += (x:y) - 8192
                      11xxxxxx y z         unit  = (x:y:z)
    3 CLEAR n  (count 2 or more, n = count - 1) n times: the code has no
               unit, code += 1
    3 END      (count 1) followed by a varint count of reverse
               exceptions, each 2 bytes unit (LE) and 2 bytes code (LE,
               0xFFFF = none).
  The reverse direction is the lowest code of each unit, then the
  exceptions (where the source's encoder chooses another code, or none).
"""

import codecs
import ctypes
import os
import struct
import sys

# Folders searched for c_NNNN.nls after --nls-dir and SFX_NLS_PATH: where
# Wine's packages put them on common distributions.
NLS_SEARCH_PATH = [
    '/usr/share/wine/nls',
    '/usr/lib/wine/nls',
    '/usr/local/share/wine/nls',
    '/opt/wine-stable/share/wine/nls',
    '/opt/wine-devel/share/wine/nls',
]

# (code page, fallback source, fallback name): the source used when no
# c_NNNN.nls file of the page is found. 'py' = Python codec, 'iconv' =
# glibc iconv, None = no fallback (the page then has no table and the
# generator stops).
PAGES = [
    (37, 'py', 'cp037'),
    (437, 'py', 'cp437'),
    (500, 'py', 'cp500'),
    (708, 'iconv', 'ASMO-708'),
    (720, 'py', 'cp720'),
    (737, 'py', 'cp737'),
    (775, 'py', 'cp775'),
    (850, 'py', 'cp850'),
    (852, 'py', 'cp852'),
    (855, 'py', 'cp855'),
    (857, 'py', 'cp857'),
    (858, 'py', 'cp858'),
    (860, 'py', 'cp860'),
    (861, 'py', 'cp861'),
    (862, 'py', 'cp862'),
    (863, 'py', 'cp863'),
    (864, 'py', 'cp864'),
    (865, 'py', 'cp865'),
    (866, 'py', 'cp866'),
    (869, 'py', 'cp869'),
    (870, 'iconv', 'IBM870'),
    (874, 'py', 'cp874'),
    (875, 'py', 'cp875'),
    (932, 'py', 'cp932'),
    (936, 'py', 'gbk'),
    (949, 'py', 'cp949'),
    (950, 'py', 'cp950'),
    (1026, 'py', 'cp1026'),
    (1047, 'iconv', 'IBM1047'),
    (1140, 'py', 'cp1140'),
    (1141, 'iconv', 'IBM1141'),
    (1142, 'iconv', 'IBM1142'),
    (1143, 'iconv', 'IBM1143'),
    (1144, 'iconv', 'IBM1144'),
    (1145, 'iconv', 'IBM1145'),
    (1146, 'iconv', 'IBM1146'),
    (1147, 'iconv', 'IBM1147'),
    (1148, 'iconv', 'IBM1148'),
    (1149, 'iconv', 'IBM1149'),
    (1250, 'py', 'cp1250'),
    (1251, 'py', 'cp1251'),
    (1252, 'py', 'cp1252'),
    (1253, 'py', 'cp1253'),
    (1254, 'py', 'cp1254'),
    (1255, 'py', 'cp1255'),
    (1256, 'py', 'cp1256'),
    (1257, 'py', 'cp1257'),
    (1258, 'py', 'cp1258'),
    (1361, 'py', 'johab'),
    (10000, 'py', 'mac_roman'),
    (10001, None, None),
    (10004, 'py', 'mac_arabic'),
    (10005, None, None),
    (10006, 'py', 'mac_greek'),
    (10007, 'py', 'mac_cyrillic'),
    (10010, 'py', 'mac_romanian'),
    (10017, 'iconv', 'MAC-UK'),
    (10021, None, None),
    (10029, 'py', 'mac_latin2'),
    (10079, 'py', 'mac_iceland'),
    (10081, 'py', 'mac_turkish'),
    (10082, 'py', 'mac_croatian'),
    (20106, 'iconv', 'DIN_66003'),
    (20107, 'iconv', 'SEN_850200_B'),
    (20108, 'iconv', 'NS_4551-1'),
    (20127, 'py', 'ascii'),
    (20261, 'iconv', 'T.61-8BIT'),
    (20269, 'iconv', 'ISO_6937'),
    (20273, 'iconv', 'IBM273'),
    (20277, 'iconv', 'IBM277'),
    (20278, 'iconv', 'IBM278'),
    (20280, 'iconv', 'IBM280'),
    (20284, 'iconv', 'IBM284'),
    (20285, 'iconv', 'IBM285'),
    (20290, 'iconv', 'IBM290'),
    (20297, 'iconv', 'IBM297'),
    (20420, 'iconv', 'IBM420'),
    (20423, 'iconv', 'IBM423'),
    (20424, 'py', 'cp424'),
    (20866, 'py', 'koi8_r'),
    (20871, 'iconv', 'IBM871'),
    (20880, 'iconv', 'IBM880'),
    (20905, 'iconv', 'IBM905'),
    (21025, 'iconv', 'IBM1025'),
    (21866, 'py', 'koi8_u'),
    (28591, 'py', 'iso8859_1'),
    (28592, 'py', 'iso8859_2'),
    (28593, 'py', 'iso8859_3'),
    (28594, 'py', 'iso8859_4'),
    (28595, 'py', 'iso8859_5'),
    (28596, 'py', 'iso8859_6'),
    (28597, 'py', 'iso8859_7'),
    (28598, 'py', 'iso8859_8'),
    (28599, 'py', 'iso8859_9'),
    (28603, 'py', 'iso8859_13'),
    (28605, 'py', 'iso8859_15'),
    # EUC-JP; the fallback lacks the three-byte JIS X 0212 sequences.
    (51932, 'py', 'euc_jp'),
    (51936, 'py', 'gb2312'),
    (51949, 'py', 'euc_kr'),
]

# Pages that share another page's table: (code page, page whose table).
ALIASES = [(38598, 28598)]

# Pages whose Windows-format file is that of another page:
# {code page: page of the file}. EUC-JP (51932) converts through the table
# of 20932, whose pairs with a trail below 0x80 are JIS X 0212; 51932
# writes them as three bytes (see PREFIX).
NLS_FILE_OF = {51932: 20932}

# Pages with three-byte sequences: {code page: prefix byte}. The prefix,
# then a lead byte and a trail byte with its high bit set, is the table's
# pair of that lead and that trail without its high bit. The prefix is no
# single byte of its own.
PREFIX = {51932: 0x8F}

# Pages packed as a copy of a base page's table and their differences (see
# the packed form), when that is smaller: {code page: base code page}.
DERIVED = {10001: 932, 51936: 936, 51949: 949}

# Pages of the converter's list that have no table, and why. Keep in step
# with the list in code_page_tables_test.cpp.
PAGES_WITHOUT_TABLE = [
    (1259, 'not a Windows code page'),
    (28600, 'not a Windows code page'),
    (28601, 'not a Windows code page'),
    (28602, 'not a Windows code page'),
    (28604, 'not a Windows code page'),
    (20105, 'no mapping data: no Windows-format file is installed for it, '
            'and neither Python nor glibc has this page'),
    (20838, 'no mapping data: no Windows-format file is installed for it, '
            'and glibc has only IBM1160, the later euro revision of IBM 838'),
    (20924, 'no mapping data: no Windows-format file is installed for it, '
            'and neither Python nor glibc has IBM 924'),
    (52936, 'HZ is a 7-bit form with shift sequences, not a table; the '
            'converter encodes and decodes it through 936'),
]

NONE = 0xFFFF


class IconvCodec:
    """Single-character decoding and encoding through glibc's iconv."""

    E2BIG, EINVAL, EILSEQ = 7, 22, 84

    def __init__(self, name):
        self.libc = ctypes.CDLL('libc.so.6', use_errno=True)
        self.libc.iconv_open.restype = ctypes.c_void_p
        self.libc.iconv_open.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
        self.libc.iconv.restype = ctypes.c_size_t
        self.libc.iconv.argtypes = [
            ctypes.c_void_p,
            ctypes.POINTER(ctypes.c_char_p),
            ctypes.POINTER(ctypes.c_size_t),
            ctypes.POINTER(ctypes.c_char_p),
            ctypes.POINTER(ctypes.c_size_t)]
        self.dec = self.libc.iconv_open(b'UTF-16LE', name.encode())
        self.enc = self.libc.iconv_open(name.encode(), b'UTF-16LE')
        if self.dec in (None, ctypes.c_void_p(-1).value):
            raise SystemExit('iconv has no ' + name)

    def _run(self, cd, data):
        """Returns (status, output): status 'ok', 'incomplete' or 'bad'."""
        self.libc.iconv(cd, None, None, None, None)
        inbuf = ctypes.create_string_buffer(data, len(data))
        outbuf = ctypes.create_string_buffer(16)
        inp = ctypes.c_char_p(ctypes.addressof(inbuf))
        outp = ctypes.c_char_p(ctypes.addressof(outbuf))
        inleft = ctypes.c_size_t(len(data))
        outleft = ctypes.c_size_t(16)
        r = self.libc.iconv(cd, ctypes.byref(inp), ctypes.byref(inleft),
                            ctypes.byref(outp), ctypes.byref(outleft))
        if r == ctypes.c_size_t(-1).value:
            err = ctypes.get_errno()
            return ('incomplete' if err == self.EINVAL else 'bad'), b''
        # Flush any shift state.
        r = self.libc.iconv(cd, None, None, ctypes.byref(outp),
                            ctypes.byref(outleft))
        return 'ok', outbuf.raw[:16 - outleft.value]

    def decode(self, data):
        status, out = self._run(self.dec, data)
        return status, out.decode('utf-16-le') if status == 'ok' else ''

    def encode(self, ch):
        status, out = self._run(self.enc, ch.encode('utf-16-le'))
        return out if status == 'ok' else None


class PyCodec:
    """Single-character decoding and encoding through a Python codec."""

    def __init__(self, name):
        self.name = name
        self.incremental = codecs.getincrementaldecoder(name)

    def decode(self, data):
        try:
            text = self.incremental('strict').decode(data, final=False)
        except UnicodeDecodeError:
            return 'bad', ''
        if text == '':
            return 'incomplete', ''
        try:
            text = data.decode(self.name)
        except UnicodeDecodeError:
            return 'bad', ''
        return 'ok', text

    def encode(self, ch):
        try:
            return ch.encode(self.name)
        except UnicodeEncodeError:
            return None


def read_page(codec):
    """Returns (forward {code: unit}, reverse {unit: code}, lead set)."""
    forward = {}
    leads = set()
    for b in range(256):
        status, text = codec.decode(bytes([b]))
        if status == 'ok':
            if len(text) == 1 and ord(text) < 0x10000:
                forward[b] = ord(text)
        elif status == 'incomplete':
            leads.add(b)
    for lead in sorted(leads):
        for trail in range(256):
            status, text = codec.decode(bytes([lead, trail]))
            if status == 'ok' and len(text) == 1 and ord(text) < 0x10000:
                forward[lead * 256 + trail] = ord(text)
    reverse = {}
    for unit in range(0x10000):
        if 0xD800 <= unit <= 0xDFFF:
            continue
        out = codec.encode(chr(unit))
        if out is None:
            continue
        if len(out) == 1 and out[0] not in leads:
            reverse[unit] = out[0]
        elif len(out) == 2 and out[0] in leads:
            reverse[unit] = out[0] * 256 + out[1]
    for code in forward:
        assert code != NONE
    return forward, reverse, leads


def find_nls(cp, dirs):
    """The path of c_NNNN.nls (at least three digits) in `dirs`, or None."""
    for d in dirs:
        path = os.path.join(d, 'c_%03d.nls' % cp)
        if os.path.isfile(path):
            return path
    return None


def read_nls(path, cp):
    """Reads a Windows-format code-page file.

    Returns (forward {code: unit}, reverse {unit: code}, lead set). The
    layout, in 16-bit little-endian words: a header whose first word is its
    own length (code page, maximum character size, default byte sequence,
    default unit, their translations, lead-byte ranges); a word W; 256
    units of the single bytes; a flag word and, when set, 256 glyph units;
    the count of lead-byte ranges and, when not 0, 256 offsets (one per
    lead byte, 0 for other bytes, counted from the first offset) to the 256
    units of each lead's trail bytes. The Unicode table starts W + 1 words
    after W: 65536 bytes for a single-byte page, 65536 words for a
    double-byte one.
    """
    with open(path, 'rb') as f:
        data = f.read()
    w = struct.unpack('<%dH' % (len(data) // 2), data[:len(data) // 2 * 2])
    if w[1] != cp:
        raise SystemExit('%s holds code page %d' % (path, w[1]))
    max_size, uni_default, trans_uni_default = w[2], w[4], w[6]
    p = w[0]
    wide_at = p + w[p] + 1
    mb = w[p + 1:p + 257]
    q = p + 257
    if w[q]:
        q += 256
    q += 1
    trails = {}
    if w[q]:
        offsets = q + 1
        for lead in range(256):
            off = w[offsets + lead]
            if off:
                trails[lead] = w[offsets + off:offsets + off + 256]

    # Every code's unit as the file has it, then the ones that count as
    # mapped.
    raw = {b: mb[b] for b in range(256) if b not in trails}
    for lead, units in trails.items():
        for trail in range(256):
            raw[lead * 256 + trail] = units[trail]
    forward = {}
    for code, unit in raw.items():
        if unit == uni_default and code != trans_uni_default:
            continue
        # A single byte the page leaves undefined converts to a private-use
        # unit, which strict conversion rejects (the unit still converts
        # back to the byte).
        if code < 0x100 and 0xE000 <= unit <= 0xF8FF:
            continue
        forward[code] = unit
    if max_size == 1:
        wide = data[2 * wide_at:2 * wide_at + 0x10000]
    else:
        wide = w[wide_at:wide_at + 0x10000]
    if len(wide) != 0x10000:
        raise SystemExit('%s: short Unicode table' % path)
    reverse = {}
    for unit in range(0x10000):
        if 0xD800 <= unit <= 0xDFFF:
            continue
        code = wide[unit]
        # Only codes that convert back to the unit: no best fit.
        if raw.get(code) == unit:
            reverse[unit] = code
    return forward, reverse, set(trails)


def default_reverse(forward):
    """The reverse direction the unpacker builds: lowest code wins."""
    rev = {}
    for code in sorted(forward):
        rev.setdefault(forward[code], code)
    return rev


def varint(n):
    out = bytearray()
    while True:
        b = n & 0x7F
        n >>= 7
        if n:
            out.append(b | 0x80)
        else:
            out.append(b)
            return bytes(out)


def op(kind, count):
    assert count >= 1
    field = count - 1
    if field < 63:
        return bytes([(kind << 6) | field])
    return bytes([(kind << 6) | 63]) + varint(field - 63)


def value(prev, unit):
    d = unit - prev
    if -64 <= d < 64:
        return bytes([d + 64])
    if -8192 <= d < 8192:
        v = d + 8192
        return bytes([0x80 | (v >> 8), v & 0xFF])
    return bytes([0xC0 | (unit >> 16), (unit >> 8) & 0xFF, unit & 0xFF])


def derive(forward, leads, base_forward):
    """Packs a page as a copy of a base page's table and its differences.

    Returns ((single_last, trail_first, trail_last), differences): the copy
    takes the base's single bytes 0 to single_last that are not lead bytes
    of this page, and the base's pairs whose lead is a lead byte of this
    page and whose trail lies from trail_first to trail_last; the
    differences map a code to its unit, or to NONE where the copy has a
    unit the page lacks.
    """
    singles = [c for c in forward if c < 0x100]
    trails = [c & 0xFF for c in forward if c >= 0x100]
    params = (max(singles), min(trails), max(trails))
    copy = {}
    for c, u in base_forward.items():
        if c < 0x100:
            if c <= params[0] and c not in leads:
                copy[c] = u
        elif c >> 8 in leads and params[1] <= c & 0xFF <= params[2]:
            copy[c] = u
    diff = {c: u for c, u in forward.items() if copy.get(c) != u}
    for c in copy:
        if c not in forward:
            diff[c] = NONE
    return params, diff


def pack(forward, reverse, leads, base=None, prefix=None):
    """Packs a page; `base` is None or (base code page, its forward map),
    `prefix` None or the prefix byte of three-byte sequences."""
    out = bytearray()
    flags = (1 if leads else 0) | (2 if base else 0)
    flags |= 4 if prefix is not None else 0
    out.append(flags)
    if leads:
        bitmap = bytearray(32)
        for b in leads:
            bitmap[b >> 3] |= 1 << (b & 7)
        out += bitmap
    if prefix is not None:
        out.append(prefix)
    entries = forward
    if base:
        params, entries = derive(forward, leads, base[1])
        out += varint(base[0]) + bytes(params)
    codes = sorted(entries)
    code, unit = 0, 0
    i = 0
    lits = []  # pending LIT values

    def flush():
        nonlocal out, lits
        if lits:
            out += op(2, len(lits))
            for v in lits:
                out += v
            lits = []

    while i < len(codes):
        c = codes[i]
        if c != code:
            flush()
            out += op(0, c - code)
            code = c
        # A run of consecutive codes without a unit.
        run = 0
        while (i + run < len(codes) and codes[i + run] == code + run and
               entries[codes[i + run]] == NONE):
            run += 1
        if run:
            flush()
            out += op(3, run + 1)
            code += run
            i += run
            continue
        # A run of consecutive codes with consecutive units.
        while (i + run < len(codes) and codes[i + run] == code + run and
               entries[codes[i + run]] == unit + 1 + run):
            run += 1
        if run >= 3:
            flush()
            out += op(1, run)
            code += run
            unit += run
            i += run
            continue
        u = entries[c]
        lits.append(value(unit, u))
        unit = u
        code += 1
        i += 1
    flush()
    out += op(3, 1)
    default = default_reverse(forward)
    exceptions = []
    for u in sorted(set(default) | set(reverse)):
        want = reverse.get(u, NONE)
        if default.get(u, NONE) != want:
            exceptions.append((u, want))
    out += varint(len(exceptions))
    for u, c in exceptions:
        out += bytes([u & 0xFF, u >> 8, c & 0xFF, c >> 8])
    return bytes(out), len(exceptions)


def fnv1a(records):
    h = 0x811C9DC5
    for a, b in records:
        for byte in (a & 0xFF, a >> 8, b & 0xFF, b >> 8):
            h ^= byte
            h = (h * 0x01000193) & 0xFFFFFFFF
    return h


HEADER = """\
// Generated by tools/gen_codepages/gen_codepages.py; do not edit.
"""


def c_bytes(data, indent='    '):
    lines = []
    for i in range(0, len(data), 20):
        lines.append(indent + ','.join(str(b) for b in data[i:i + 20]) + ',')
    return '\n'.join(lines)


def parse_args(argv):
    """Returns (repository root, folders to search for .nls files)."""
    dirs = []
    root = None
    i = 0
    while i < len(argv):
        if argv[i] == '--nls-dir' and i + 1 < len(argv):
            dirs.append(argv[i + 1])
            i += 2
        elif argv[i].startswith('-') or root is not None:
            raise SystemExit(__doc__)
        else:
            root = argv[i]
            i += 1
    dirs += [d for d in os.environ.get('SFX_NLS_PATH', '').split(':') if d]
    dirs += NLS_SEARCH_PATH
    if root is None:
        root = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..',
                            '..')
    return root, dirs


def main():
    root, nls_dirs = parse_args(sys.argv[1:])
    blobs = []
    digests = []
    sources = []
    forwards = {}
    for cp, fallback, name in PAGES:
        file_cp = NLS_FILE_OF.get(cp, cp)
        nls = find_nls(file_cp, nls_dirs)
        prefix = None
        if nls:
            forward, reverse, leads = read_nls(nls, file_cp)
            source = 'Windows-format file ' + os.path.basename(nls)
            prefix = PREFIX.get(cp)
            if prefix is not None:
                forward.pop(prefix, None)
                reverse = {u: c for u, c in reverse.items() if c != prefix}
                source += (', pairs with a trail below 0x80 as 0x%02X, '
                           'lead, trail + 0x80' % prefix)
        elif fallback is None:
            raise SystemExit('no c_%03d.nls found; give its folder with '
                             '--nls-dir' % cp)
        else:
            codec = PyCodec(name) if fallback == 'py' else IconvCodec(name)
            forward, reverse, leads = read_page(codec)
            source = ('Python codec ' if fallback == 'py' else
                      'glibc iconv ') + name
            if cp == 51932:  # without its three-byte sequences
                leads.discard(0x8F)
                reverse = {u: c for u, c in reverse.items() if c >> 8 != 0x8F}
        sources.append((cp, source))
        forwards[cp] = forward
        blob, nexc = pack(forward, reverse, leads, prefix=prefix)
        if cp in DERIVED:
            base = DERIVED[cp]
            derived, nexc = pack(forward, reverse, leads,
                                 (base, forwards[base]))
            if len(derived) < len(blob):
                blob = derived
                source += ', packed as its differences from %d' % base
        blobs.append((cp, blob))
        digests.append((cp, len(forward), fnv1a(sorted(forward.items())),
                        len(reverse), fnv1a(sorted(reverse.items()))))
        print('%5d %-24s %6d codes %6d units %4d exceptions %7d bytes' %
              (cp, source[-24:], len(forward), len(reverse), nexc, len(blob)),
              file=sys.stderr)

    total = sum(len(b) for _, b in blobs)
    print('total %d bytes' % total, file=sys.stderr)
    src = [HEADER,
           '// The packed code-page tables (see the generator for the form)',
           '// and their catalogue, sorted by code page.',
           '//', '// Source of each table:'] + [
               '//   %5d  %s' % (cp, src) for cp, src in sources] + [
               '//   %5d  the table of %d' % a for a in ALIASES] + [
               '//', '// Pages of the list without a table:'] + [
               '//   %5d  %s' % r for r in PAGES_WITHOUT_TABLE] + [
           '#include "charset/code_page_data.h"', '',
           'namespace sfx {', 'namespace {', '',
           '// clang-format off',
           'const uint8_t kPackedTables[] = {']
    offsets = []
    pos = 0
    for cp, blob in blobs:
        src.append('    // %d' % cp)
        src.append(c_bytes(blob))
        offsets.append((cp, pos, len(blob)))
        pos += len(blob)
    src += ['};', '// clang-format on', '', '}  // namespace', '',
            'const PackedCodePage kPackedCodePages[] = {']
    entries = [(cp, off, n) for cp, off, n in offsets]
    index = {cp: (off, n) for cp, off, n in offsets}
    for alias, target in ALIASES:
        entries.append((alias,) + index[target])
    for cp, off, n in sorted(entries):
        src.append('    {%d, kPackedTables + %d, %d},' % (cp, off, n))
    src += ['};', '',
            'const uint32_t kNumPackedCodePages = %d;' % len(entries), '',
            '}  // namespace sfx', '']
    with open(os.path.join(root, 'src/charset/code_page_data.cpp'), 'w',
              newline='\n') as f:
        f.write('\n'.join(src))

    inc = [HEADER,
           '// {code page, codes, digest of code->unit, units, digest of',
           '// unit->code}; digests are FNV-1a over 16-bit LE pairs in',
           '// ascending order of the first member.']
    by_cp = {d[0]: d for d in digests}
    for alias, target in ALIASES:
        digests.append((alias,) + by_cp[target][1:])
    for cp, nf, hf, nr, hr in sorted(digests):
        inc.append('    {%d, %d, 0x%08Xu, %d, 0x%08Xu},' %
                   (cp, nf, hf, nr, hr))
    with open(os.path.join(root, 'src/charset/code_page_digests.inc'), 'w',
              newline='\n') as f:
        f.write('\n'.join(inc) + '\n')


if __name__ == '__main__':
    main()
