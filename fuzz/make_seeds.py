#!/usr/bin/env python3
"""Writes the seeds of the fuzz targets whose inputs are structured: the shows
of show_open (fuzz/show_open.cpp describes the layout), made from the
pictures of the other targets' seeds plus a 32 x 1024 embedded colour table,
and the converted images of decoders_kvgfx (both of its modes). The
pictures come from the targets' seed archives (or their plain folders); the
seeds are written into the plain folders fuzz/corpus/<target>/. Run from the
tree's top, then pack them into the archives:
  python3 fuzz/make_seeds.py
  tools/pack-fuzz-seeds.sh show_open decoders_kvgfx"""
import os
import struct
import zipfile
import zlib

C = "fuzz/corpus"
OUT = os.path.join(C, "show_open")


def read(path):
    target, name = path.split("/")
    loose = os.path.join(C, target, name)
    if os.path.exists(loose):
        with open(loose, "rb") as f:
            return f.read()
    with zipfile.ZipFile(os.path.join(C, target + "_seed_corpus.zip")) as archive:
        return archive.read(name)


def raw_deflate(data):
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


def bmp(width, height, bits=24, pixel=b"\0", palette=b""):
    stride = (width * bits // 8 + 3) & ~3
    row = (pixel * width)[: width * bits // 8]
    pixels = (row + b"\0" * (stride - len(row))) * height
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(pixels), 0, 0, len(palette) // 4, 0)
    head = b"BM" + struct.pack("<IHHI", 14 + len(info) + len(palette) + len(pixels), 0, 0,
                               14 + len(info) + len(palette))
    return head + info + palette + pixels


def bmp24(width, height):
    return bmp(width, height)


def kvgfx(fields, payload):
    out = b"KVGF" + struct.pack("<H", len(fields))
    for name, value in fields:
        out += struct.pack("<H", len(name)) + name + struct.pack("<H", len(value)) + value
    return out + payload


TABLE = kvgfx([(b"File", b"table.bmp"), (b"Width", b"32"), (b"Height", b"1024"), (b"OriginalSize", b"1")],
              raw_deflate(bmp24(32, 1024)))


def show(flags, project, entries):
    out = bytes([flags]) + project.encode()
    for method, name, data in entries:
        out += b"\n==>" + method + name.encode() + b"\n" + data
    return out


JPG = read("decoders_jpeg/baseline_16x16")
PNG = read("decoders_png/rgb8.png")
PNGA = read("decoders_png/indexed_trns.png")
BMP = read("decoders_bmp/rle8.bmp")
GIF = read("decoders_gif/anim.gif")
GFX = read("decoders_kvgfx/raw_two_pixels")[1:]  # the mode byte dropped
ICC = read("imaging_icc/srgb_v2")

seeds = {
    "packed_methods": show(
        0,
        "\xef\xbb\xbf[Main]\r\nQelVersion=10.0\r\nColorManagement=sRGB\r\n"
        "[FileMap]\r\n;\"C:\\old\\a.jpg\"=\"pic.jpg\"\r\n"
        "[RotationState]\r\n;\"pic.jpg\"=6\r\n;\"c:\\shows\\b.png\"=8\r\n;\"i.bmp\"=3\r\n",
        [(b"0", "pic.jpg", JPG), (b"1", "C:\\Shows\\b.png", PNG), (b"2", "i.bmp", BMP),
         (b"1", "anim.gif", GIF), (b"0", "two.kvgfx", GFX), (b"1", "ColorSpaceExe_AdobeRGB].KVGFX", TABLE)]),
    "packed_long_deflated_project": show(
        2 | (1 << 2),
        "[Main]\r\nQelVersion=9.5\r\nColorManagement=AdobeRGB\r\n[RotationState]\r\n;\"t.png\"=8\r\n",
        [(b"2", "t.png", PNGA), (b"0", "%styles%\\frame.jpg", JPG),
         (b"0", "$dir", b"[extra]\r\n_ps=5\r\n_sz=3\r\n"), (b"2", "ColorSpaceExe_RaderAZO].KVGFX", TABLE)]),
    "packed_monitor_profile": show(
        0x40 | (2 << 2),
        "[Main]\r\nColorManagement=?\r\n",
        [(b"0", "monitor.icc", ICC), (b"1", "p.jpg", JPG)]),
    "packed_command_line_profile": show(
        0x20 | 0x80,
        "[Main]\r\nColorManagement=*\r\n",
        [(b"1", "ColorSpaceExe_AdobeRGB].KVGFX", TABLE), (b"1", "q.bmp", BMP)]),
    "preview_aliases_stores_links": show(
        1,
        "\xef\xbb\xbf[Main]\r\nQelVersion=9.0\r\nopt_exefn=@ROOT@\\Show\\Show.exe\r\nColorManagement=RaderAZO\r\n"
        "[FileMap]\r\n;\"C:\\Author\\Beach.jpg\"=\"@ROOT@\\Show\\photos\\beach.jpg\"\r\n"
        "[RotationState]\r\n;\"%MEDIA%\\PIC.PNG\"=6\r\n"
        "[PathModifiers]\r\nCount=1\r\nEnv0=media\r\nPath0=@ROOT@\\Show\\media\r\nDef0=1\r\n"
        "storepaths=@ROOT@\\StoreA|@ROOT@\\StoreB\r\n",
        [(b"0", "Show\\media\\pic.png", PNG), (b"0", "Show\\photos\\beach.jpg", JPG),
         (b"0", "StoreA\\Slide Styles\\Frame.bmp", BMP),
         (b"0", "StoreB\\Transitions\\Wipe.gif.qellnk", b"item1=TRANSITIONS\\real\\Wipe.GIF\r\n"),
         (b"0", "StoreB\\Transitions\\Real\\wipe.gif", GIF),
         (b"0", "%media%\\pic.png", b""), (b"0", "%styles%\\Frame.bmp", b""), (b"0", "%effects%\\Wipe.gif", b""),
         (b"0", "C:\\Author\\Beach.jpg", b"")]),
    "preview_profile_file": show(
        1,
        "[Main]\r\nColorManagement=@ROOT@\\prof.icc\r\n[PathModifiers]\r\nstorepaths=@ROOT@\\S\r\n",
        [(b"0", "prof.icc", ICC), (b"0", "S\\a.kvgfx.qellnk", b"item1=b.kvgfx\r\n"), (b"0", "S\\b.kvgfx", GFX),
         (b"0", "%store%\\a.kvgfx", b"")]),
    "preview_link_chain": show(
        1,
        "[Main]\r\n[PathModifiers]\r\nstorepaths=@ROOT@\\S\r\n[RotationState]\r\n;\"%STORE%\\A.PNG\"=3\r\n",
        [(b"0", "S\\a.png.qellnk", b"item1=b.png\r\n"), (b"0", "S\\b.png.qellnk", b"item1=c.png\r\n"),
         (b"0", "S\\c.png", PNGA), (b"0", "S\\c.png.qellnk", b"item1=x.png\r\nitem2=y.png\r\n"),
         (b"0", "%store%\\a.png", b""), (b"0", "%store%\\c.png", b"")]),
}
gfx_seeds = {
    # raw mode: the whole file after the mode byte
    "raw_two_pixels": b"\0" + GFX,
    "raw_table": b"\0" + TABLE,
    # assembled mode: flags, width - 1, height - 1, then the BMP to deflate
    "bmp24_6x4": bytes([1, 5, 3]) + bmp(6, 4, 24, b"\x10\x80\xf0"),
    "bmp32_3x3": bytes([1, 2, 2]) + bmp(3, 3, 32, b"\x10\x80\xf0\x7f"),
    "bmp8_palette_5x2": bytes([1, 4, 1]) + bmp(5, 2, 8, b"\x01", b"\0\0\0\0\xff\xff\xff\0"),
    "rle8_file": bytes([1, 15, 15]) + BMP,
    "unknown_field_repeated_width": bytes([1 | 4 | 8, 3, 3]) + bmp(4, 4),
    "missing_field": bytes([1 | 2, 1, 1]) + bmp(2, 2),
}
for folder, table in ((OUT, seeds), (os.path.join(C, "decoders_kvgfx"), gfx_seeds)):
    os.makedirs(folder, exist_ok=True)
    for name, data in table.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
