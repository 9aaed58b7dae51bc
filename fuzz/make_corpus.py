#!/usr/bin/env python3
"""Writes the fuzzers' seed inputs: valid archives and archives at every
boundary the unpacker checks (fuzz/corpus/unpack), and argument vectors for
the option scanner (fuzz/corpus/options). Run from anywhere; it replaces the
files it writes and leaves others alone: the folders also hold inputs the
fuzzers found that reach further (named by their hash, added with
`fuzz_unpack -merge=1 fuzz/corpus/unpack NEW_INPUTS`)."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def u32(value):
    return struct.pack('<I', value)


def member(tag, version, body_size, seed=1):
    body = bytes((seed * 31 + i * 7) & 0xFF for i in range(body_size))
    return tag + struct.pack('<H', version) + body


def header(offset_footer, reserved=0):
    return b'GNM3' + u32(reserved) + u32(offset_footer)


def archive(members, reserved=0):
    payload = b''
    footer = b''
    for i, m in enumerate(members):
        if i > 0:
            footer += u32(len(payload))
        payload += m
    return header(len(payload), reserved) + payload + footer


def with_footer(payload, entries, extra=b''):
    return header(len(payload)) + payload + b''.join(u32(e) for e in entries) + extra


INDEX = member(b'NIDX', 58, 2)      # 8 bytes
ROUTE = member(b'RTE1', 16, 4)      # 10 bytes
MORE = member(b'MAP2', 17, 1)       # 7 bytes

UNPACK = {
    'worked_example': archive([INDEX, ROUTE, MORE]),
    'route_only': archive([INDEX, ROUTE]),
    'index_header_only': archive([member(b'NIDX', 58, 0), ROUTE]),
    'six_byte_member': archive([INDEX, member(b'MAP2', 16, 0), ROUTE]),
    'empty_members': with_footer(INDEX + ROUTE, [8, 8, 18]),
    'empty_last_member': with_footer(INDEX + ROUTE, [8, 18]),
    'reserved_set': archive([INDEX, ROUTE], reserved=0xDEADBEEF),
    'index_version_1000': archive([member(b'NIDX', 1000, 3), ROUTE]),
    'many_members': archive([INDEX] + [member(b'MAP2', 16 + i, i % 5, i) for i in range(300)]),
    'one_trailing_byte': archive([INDEX, ROUTE]) + b'\x00',
    'two_trailing_bytes': archive([INDEX, ROUTE]) + b'\x00\x00',
    'three_trailing_bytes': archive([INDEX, ROUTE]) + b'\x00\x00\x00',
    'no_footer': header(18) + INDEX + ROUTE,
    'footer_two_bytes': header(18) + INDEX + ROUTE + b'\x08\x00',
    'header_only': header(0),
    'header_short': header(0)[:11],
    'empty': b'',
    'wrong_tag': b'GNM2' + archive([INDEX, ROUTE])[4:],
    'wrong_index_tag': archive([member(b'NIDx', 58, 2), ROUTE]),
    'index_shorter_than_header': with_footer(b'NID', [3]),
    'footer_decreasing': with_footer(INDEX + ROUTE + MORE, [18, 8]),
    'footer_beyond_payload': with_footer(INDEX + ROUTE, [19]),
    'footer_entry_max': with_footer(INDEX + ROUTE, [8, 0xFFFFFFFF]),
    'offset_footer_max': header(0xFFFFFFFF) + INDEX + ROUTE + u32(8),
    'offset_footer_zero': header(0) + u32(0) + u32(0),
}

OPTIONS = {
    'packer_full': b'\x01veskal\0-i:atlas.nti\0-r:route.nm2\0-o:out.nm3\0atlas',
    'packer_no_folder': b'\x01veskal\0-I:a.nti\0-R:b.nm2\0-O:/tmp/x.nm3',
    'packer_options_after_folder': b'\x01veskal\0atlas\0-i:a.nti\0-h',
    'packer_bare_letters': b'\x01veskal\0-i\0-r\0-o\0-x\0-\0',
    'packer_help_first': b'\x01veskal\0-?\0-i:a.nti',
    'unpacker_archive': b'\x00unveskal\0west.nm3',
    'unpacker_help': b'\x00unveskal\0-x\0/H\0-help',
    'unpacker_lone_dash': b'\x00/usr/bin/unveskal.exe\0-\0../a/./b/../west.nm3',
    'unpacker_paths': b'\x00./prog\0/abs/dir/\0rel//dir/../x.tar.nm3\0..\0/\0.hidden\0dir.d/file',
    'empty_vector': b'\x00',
}


def write_all(folder, inputs):
    os.makedirs(folder, exist_ok=True)
    for name, data in inputs.items():
        with open(os.path.join(folder, name), 'wb') as out:
            out.write(data)


write_all(os.path.join(HERE, 'corpus', 'unpack'), UNPACK)
write_all(os.path.join(HERE, 'corpus', 'options'), OPTIONS)
