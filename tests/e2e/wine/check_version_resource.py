#!/usr/bin/env python3
"""Checks the version resource of a Windows program file: the fixed part carries the version as
numbers, and the string table names the product, the file and the version as text.
Usage: check_version_resource.py <program.exe> <version x.y.z> <original file name>"""
import struct
import sys


def string_value(data, key):
    """The text stored under `key` in a version string table (UTF-16), or None."""
    at = data.find((key + "\0").encode("utf-16-le"))
    if at < 0:
        return None
    at += 2 * (len(key) + 1)
    while data[at:at + 2] == b"\0\0":  # padding to the next 32-bit boundary
        at += 2
    end = at
    while data[end:end + 2] != b"\0\0":
        end += 2
    return data[at:end].decode("utf-16-le")


def main():
    path, version, file_name = sys.argv[1:4]
    with open(path, "rb") as f:
        data = f.read()
    problems = []
    fixed = data.find(struct.pack("<I", 0xFEEF04BD))
    if fixed < 0:
        problems.append("no fixed version record")
    else:
        file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<4I", data, fixed + 8)
        major, minor, patch = (int(p) for p in version.split("."))
        want_ms, want_ls = (major << 16) | minor, patch << 16
        if (file_ms, file_ls) != (want_ms, want_ls):
            problems.append(f"file version {file_ms:#x},{file_ls:#x}, expected {want_ms:#x},{want_ls:#x}")
        if (product_ms, product_ls) != (want_ms, want_ls):
            problems.append(f"product version {product_ms:#x},{product_ls:#x}")
    for key, want in (("ProductName", "Dazzlebox"), ("FileVersion", version),
                      ("ProductVersion", version), ("OriginalFilename", file_name)):
        got = string_value(data, key)
        if got != want:
            problems.append(f"{key} is {got!r}, expected {want!r}")
    for p in problems:
        print(f"{path}: {p}")
    if not problems:
        print(f"{path}: version {version}, {file_name}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
