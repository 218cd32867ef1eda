#!/usr/bin/python3
"""Independent verifier for PEA archives.

Reads every byte of an archive and checks every tag, MAC and zlib stream in it,
without sharing any code with the library that wrote it.

  pea_reader.py ARCHIVE [--password P] [--key-file F] [--extract DIR] [--json]
  pea_reader.py --volumes BASE.000001.pea [same options]

Exit status: 0 when everything verifies, 1 when something does not (the message
names the first such thing and its byte offset), 2 for usage errors and files
that cannot be read or written, 3 when the verifier itself breaks (so that a
crash never passes for a detected fault).
"""
import argparse
import hashlib
import hmac
import json
import os
import re
import struct
import subprocess
import sys
import tempfile
import time
import traceback
import zlib

# id: (display name, tag size)
CHECKS = {
    0: ("None", 0), 1: ("Alder32", 4), 2: ("CRC32", 4), 3: ("CRC64", 8),
    16: ("MD5", 16), 17: ("RIPEMD-160", 20), 18: ("SHA-1", 20),
    19: ("SHA-256", 32), 20: ("SHA-512", 64), 21: ("Whirlpool", 64),
    48: ("AES-128 & HMAC-SHA1", 16), 49: ("AES-128 & OMAC-AES", 16),
    65: ("AES-256 & OMAC-AES", 16),
}
CIPHERS = (48, 49, 65)
PLAIN_CHECKS = tuple(i for i in CHECKS if i not in CIPHERS)
METHODS = ("Copy", "Fast", "Normal", "Better")
BLOCK_SIZE = 1048576
UNIX_TIMES = 48
MASK64 = (1 << 64) - 1
PIECE = 1 << 20
# Header bytes whose value is fixed for every archive our writer produces.
FIXED_HEADER = {2: 0, 4: 0, 5: 0x11, 7: 1, 8: 0x13, 9: 0, 17: 0}


class Bad(Exception):
    """The archive does not verify."""

    def __init__(self, message, offset=None):
        super().__init__(message)
        self.message, self.offset = message, offset

    def __str__(self):
        where = "" if self.offset is None else f" (offset {self.offset})"
        return self.message + where


class Usage(Exception):
    pass


# ---------------------------------------------------------------- checks

def _crc64_table():
    table = []
    for i in range(256):
        reg = i << 56
        for _ in range(8):
            reg = ((reg << 1) ^ 0x42F0E1EBA9EA3693) if reg >> 63 else reg << 1
            reg &= MASK64
        table.append(reg)
    return table


CRC64_TABLE = _crc64_table()


def crc64_update(reg, data):
    table = CRC64_TABLE
    for b in data:
        reg = ((reg << 8) & MASK64) ^ table[(reg >> 56) ^ b]
    return reg


class OpensslDigest:
    """A digest hashlib lacks, streamed through the openssl command."""

    def __init__(self, name):
        extra = ["-provider", "default", "-provider", "legacy"] if name == "whirlpool" else []
        self.proc = subprocess.Popen(["openssl", "dgst", *extra, f"-{name}", "-binary"],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE)

    def update(self, data):
        self.proc.stdin.write(data)

    def digest(self):
        out, _ = self.proc.communicate()
        if self.proc.returncode != 0:
            raise Usage("openssl could not compute a digest")
        return out


HASH_NAMES = {16: "md5", 17: "ripemd160", 18: "sha1", 19: "sha256", 20: "sha512", 21: "whirlpool"}


def new_digest(alg):
    try:
        return hashlib.new(HASH_NAMES[alg])
    except ValueError:
        return OpensslDigest(HASH_NAMES[alg])


def digest_of(alg, data):
    d = new_digest(alg)
    d.update(data)
    return d.digest()


class Check:
    """One running checksum or digest (ids 0 to 21)."""

    def __init__(self, alg):
        self.alg, self.size = alg, CHECKS[alg][1]
        self.reg = {1: 1, 2: 0, 3: MASK64}.get(alg, 0)
        self.hash = new_digest(alg) if alg >= 16 else None

    def update(self, data):
        if self.alg == 1:
            self.reg = zlib.adler32(data, self.reg)
        elif self.alg == 2:
            self.reg = zlib.crc32(data, self.reg)
        elif self.alg == 3:
            self.reg = crc64_update(self.reg, data)
        elif self.hash:
            self.hash.update(data)

    def result(self):
        if self.alg in (1, 2):
            return struct.pack("<I", self.reg)
        if self.alg == 3:
            return struct.pack("<Q", self.reg ^ MASK64)
        return self.hash.digest() if self.hash else b""


# ---------------------------------------------------------------- keys

def hmac_whirlpool(key, msg):
    if len(key) > 64:
        key = digest_of(21, key)
    key = key.ljust(64, b"\0")
    inner = digest_of(21, bytes(k ^ 0x36 for k in key) + msg)
    return digest_of(21, bytes(k ^ 0x5C for k in key) + inner)


def pbkdf2_slow(prf, password, salt, iterations, length):
    out, block = b"", 1
    while len(out) < length:
        u = prf(password, salt + struct.pack(">I", block))
        acc = int.from_bytes(u, "big")
        for _ in range(iterations - 1):
            u = prf(password, u)
            acc ^= int.from_bytes(u, "big")
        out += acc.to_bytes(len(u), "big")
        block += 1
    return out[:length]


def pbkdf2_whirlpool(password, salt, iterations, length):
    # One openssl call is thousands of times faster than a process per digest;
    # the slow path stays for an openssl without the kdf command.
    cmd = ["openssl", "kdf", "-provider", "default", "-provider", "legacy",
           "-keylen", str(length), "-kdfopt", "digest:WHIRLPOOL",
           "-kdfopt", "hexpass:" + password.hex(), "-kdfopt", "hexsalt:" + salt.hex(),
           "-kdfopt", f"iter:{iterations}", "-binary", "PBKDF2"]
    try:
        out = subprocess.run(cmd, capture_output=True, check=True).stdout
        if len(out) == length:
            return out
    except (OSError, subprocess.CalledProcessError):
        pass
    return pbkdf2_slow(hmac_whirlpool, password, salt, iterations, length)


def derive_keys(alg, material, salt):
    if alg == 65:
        return pbkdf2_whirlpool(material, salt, 1000, 66)
    return hashlib.pbkdf2_hmac("sha1", material, salt, 1000, 34)


def key_material(password, first22, key_file_bytes):
    return password[:250] + first22 + key_file_bytes[:2048]


class StreamGuard:
    """Reading side of the stream level: authenticate, then decrypt."""

    def __init__(self, alg, header, keys):
        self.alg = alg
        if alg == 48:
            from Cryptodome.Cipher import AES
            self.ctr = AES.new(keys[:16], AES.MODE_CTR, nonce=b"", initial_value=0)
            self.mac = hmac.new(keys[16:32], digestmod="sha1")
        elif alg in CIPHERS:
            from Cryptodome.Cipher import AES
            n = 16 if alg == 49 else 32
            self.eax = AES.new(keys[:n], AES.MODE_EAX, nonce=keys[n:2 * n], mac_len=16)
        else:
            self.check = Check(alg)
            self.check.update(header)

    def decrypt(self, data):
        if self.alg == 48:
            self.mac.update(data)
            return self.ctr.decrypt(data)
        if self.alg in CIPHERS:
            return self.eax.decrypt(data)
        self.check.update(data)
        return data

    def matches(self, tag):
        if self.alg == 48:
            return hmac.compare_digest(self.mac.digest()[:16], tag)
        if self.alg in CIPHERS:
            try:
                self.eax.verify(tag)
                return True
            except ValueError:
                return False
        return self.check.result() == tag


# ---------------------------------------------------------------- helpers

def describe_time(raw, encoding):
    """Returns (text, Unix seconds or None)."""
    if encoding == UNIX_TIMES:
        return time.strftime("%Y-%m-%d %H:%M:%S UTC", time.gmtime(raw)), raw
    d, t = raw >> 16, raw & 0xFFFF
    fields = (1980 + (d >> 9), (d >> 5) & 15, d & 31, t >> 11, (t >> 5) & 63, (t & 31) * 2)
    text = "%04d-%02d-%02d %02d:%02d:%02d local" % fields
    y, mo, da, h, mi, s = fields
    if not (1 <= mo <= 12 and 1 <= da <= 31 and h < 24 and mi < 60 and s < 60):
        return text + " (invalid)", None
    return text, int(time.mktime((y, mo, da, h, mi, s, 0, 0, -1)))


def attribute_text(attr):
    letters = "".join(c if attr & bit else "-" for c, bit in
                      (("R", 1), ("H", 2), ("S", 4), ("D", 0x10), ("A", 0x20)))
    return f"{letters} 0x{attr:08X}"


def inflate(data, size, setting, at):
    """The block must be one whole zlib stream (not raw deflate) giving size bytes."""
    if len(data) < 2 or data[0] & 0x0F != 8 or ((data[0] << 8) | data[1]) % 31:
        raise Bad("compressed block does not start with a zlib header", at)
    level_class, wanted = data[1] >> 6, {1: 1, 2: 2, 3: 3}[setting]
    if level_class != wanted:
        raise Bad(f"zlib header says level class {level_class}, "
                  f"compression {METHODS[setting]} gives {wanted}", at)
    d = zlib.decompressobj()
    try:
        out = d.decompress(data, size + 1)
    except zlib.error as e:
        raise Bad(f"compressed block does not inflate: {e}", at)
    if len(out) > size:
        raise Bad(f"compressed block inflates to more than its {size} bytes", at)
    if not d.eof:
        raise Bad(f"zlib stream ends early after {len(out)} of {size} bytes", at)
    if d.unused_data:
        raise Bad(f"{len(d.unused_data)} bytes follow the end of the zlib stream", at)
    if len(out) != size:
        raise Bad(f"compressed block inflates to {len(out)} bytes, not {size}", at)
    return out


def safe_target(root, name):
    parts = name.rstrip("\\").split("\\")
    if name.startswith("\\") or ":" in parts[0] or any(p in ("", ".", "..") for p in parts):
        raise Bad(f"refusing to extract the unsafe name {name!r}")
    return os.path.join(root, *parts)


def file_check(f, alg, start, stop):
    check = Check(alg)
    f.seek(start)
    left = stop - start
    while left:
        piece = f.read(min(PIECE, left))
        check.update(piece)
        left -= len(piece)
    return check.result()


# ---------------------------------------------------------------- archive

class Archive:
    def __init__(self, path, password=b"", key_file_bytes=b"", extract=None):
        self.path, self.password, self.key_file_bytes = path, password, key_file_bytes
        self.extract = extract

    def raw(self, n, what):
        if n > self.end - self.pos:
            raise Bad(f"{what} is cut off: needs {n} bytes, {self.end - self.pos} left", self.pos)
        data = self.f.read(n)
        self.pos += n
        return data

    def take(self, n, what):
        return self.guard.decrypt(self.raw(n, what))

    def verify(self):
        with open(self.path, "rb") as self.f:
            return self._verify()

    def _verify(self):
        self.size = self.end = os.fstat(self.f.fileno()).st_size
        self.pos = 0
        head = self.raw(10, "archive header")
        if head[0] != 0xEA:
            raise Bad(f"format mark is 0x{head[0]:02X}, not 0xEA", 0)
        if head[1] != 1:
            raise Bad(f"format version is {head[1]}, not 1", 1)
        head += self.raw(10, "stream header")
        for i, want in ((10, 0), (11, 0), (12, 0x50), (13, 0x4F), (14, 0x44), (15, 0)):
            if head[i] != want:
                raise Bad(f"stream header byte is 0x{head[i]:02X}, not 0x{want:02X}", i)
        for i, want in FIXED_HEADER.items():
            if head[i] != want:
                raise Bad(f"header byte is 0x{head[i]:02X}, writers store 0x{want:02X}", i)
        if head[6] not in (16, 48):
            raise Bad(f"time encoding is {head[6]}, writers store 16 or 48", 6)
        comp, valg, salg, oalg = head[16], head[3], head[18], head[19]
        if comp > 3:
            raise Bad(f"compression setting {comp} is not 0 to 3", 16)
        for alg, allowed, at, role in ((valg, PLAIN_CHECKS, 3, "volume"),
                                       (salg, tuple(CHECKS), 18, "stream"),
                                       (oalg, PLAIN_CHECKS, 19, "object")):
            if alg not in allowed:
                raise Bad(f"{role} algorithm {alg} is not a known {role} check", at)

        vsize = CHECKS[valg][1]
        if valg:
            if self.size <= 20 + vsize:
                raise Bad("archive is too short for its volume control tag", self.size)
            if file_check(self.f, valg, 0, self.size - vsize) != self._stored(self.size - vsize, vsize):
                raise Bad(f"volume control tag ({CHECKS[valg][0]}) does not match",
                          self.size - vsize)
            self.f.seek(self.pos)
        self.end = self.size - vsize

        keys = None
        if salg in CIPHERS:
            crypto = self.raw(16, "crypto header")
            for i in (0, 1):
                if crypto[i]:
                    raise Bad("crypto header byte is not zero", 20 + i)
            material = key_material(self.password, head + crypto[:2], self.key_file_bytes)
            keys = derive_keys(salg, material, crypto[2:14])
            if keys[-2:] != crypto[14:16]:
                raise Bad("password verifier does not match: wrong password or key file "
                          "(or a damaged header)", 34)

        # Authenticate the whole stream before interpreting any of it.
        data_start, ssize = self.pos, CHECKS[salg][1]
        stream_end = self.end - ssize
        if stream_end < data_start + 6:
            raise Bad("archive is too short for an end marker and its tags", self.pos)
        guard = StreamGuard(salg, head, keys)
        self.f.seek(data_start)
        left = stream_end - data_start
        while left:
            piece = self.f.read(min(PIECE, left))
            guard.decrypt(piece)
            left -= len(piece)
        if salg and not guard.matches(self._stored(stream_end, ssize)):
            raise Bad(f"stream control tag ({CHECKS[salg][0]}) does not match", stream_end)

        self.f.seek(data_start)
        # The tag is settled; from here the guard only has to decrypt.
        self.guard = StreamGuard(salg if salg in CIPHERS else 0, head, keys)
        self.end = stream_end
        block_size = None
        if comp:
            block_size = struct.unpack("<I", self.take(4, "block-size field"))[0]
            if block_size != BLOCK_SIZE:
                raise Bad(f"block-size field is {block_size}, writers store {BLOCK_SIZE}",
                          data_start)
        objects = []
        while True:
            obj = self._object(head[6], comp, block_size, oalg)
            if obj is None:
                break
            objects.append(obj)
        if self.pos != stream_end:
            raise Bad(f"{stream_end - self.pos} stray bytes after the end marker", self.pos)

        folders = sum(o["kind"] == "folder" for o in objects)
        return {
            "ok": True, "archive": self.path, "size": self.size,
            "volume_check": CHECKS[valg][0], "stream_check": CHECKS[salg][0],
            "object_check": CHECKS[oalg][0], "volume_algorithm": valg,
            "stream_algorithm": salg, "object_algorithm": oalg,
            "encrypted": salg in CIPHERS, "compression": METHODS[comp],
            "compression_setting": comp, "block_size": block_size,
            "time_encoding": head[6], "objects": objects,
            "files": len(objects) - folders, "folders": folders,
        }

    def _stored(self, offset, n):
        self.f.seek(offset)
        return self.f.read(n)

    def _object(self, encoding, comp, block_size, oalg):
        at = self.pos
        length_bytes = self.take(2, "name length")
        length = struct.unpack("<H", length_bytes)[0]
        if length == 0:
            mark = self.take(4, "end marker")
            for i, want in enumerate(b"EOA\0"):
                if mark[i] != want:
                    raise Bad("end marker is damaged", at + 2 + i)
            return None
        if length >= 2048:
            raise Bad(f"name length {length} is 2048 or more", at)
        check = Check(oalg)
        check.update(length_bytes)
        name_bytes = self.take(length, "name")
        fields = self.take(8, "time and attributes")
        check.update(name_bytes)
        check.update(fields)
        raw_time, attr = struct.unpack("<II", fields)
        folder = name_bytes.endswith(b"\\")
        size = 0
        if not folder:
            size_bytes = self.take(8, "size")
            check.update(size_bytes)
            size = struct.unpack("<Q", size_bytes)[0]
        try:
            name = name_bytes.decode("utf-8").replace("/", "\\")
        except UnicodeDecodeError:
            raise Bad("name is not valid UTF-8", at + 2)

        out = None
        if self.extract:
            target = safe_target(self.extract, name)
            if folder:
                os.makedirs(target, exist_ok=True)
            else:
                os.makedirs(os.path.dirname(target), exist_ok=True)
                out = open(target, "wb")
        try:
            packed = self._content(size, comp, block_size, check, out)
        finally:
            if out:
                out.close()

        tag_at = self.pos
        if self.take(check.size, "object control tag") != check.result():
            raise Bad(f"object control tag ({CHECKS[oalg][0]}) of {name!r} does not match", tag_at)
        text, unix = describe_time(raw_time, encoding)
        return {"name": name, "kind": "folder" if folder else "file", "size": size,
                "packed_size": packed, "time": text, "time_raw": raw_time, "unix_time": unix,
                "attributes": attr, "offset": at}

    def _content(self, size, comp, block_size, check, out):
        """Reads an object's data; returns its packed size."""
        remaining = size
        packed = 0
        while remaining:
            at = self.pos
            if comp == 0:
                data = self.take(min(PIECE, remaining), "content")
                unpacked = len(data)
                packed += unpacked
            else:
                stored_len_bytes = self.take(4, "stored length")
                stored = struct.unpack("<I", stored_len_bytes)[0]
                unpacked = min(block_size, remaining)
                if stored == 0 or stored > unpacked:
                    raise Bad(f"stored length {stored} is not 1 to {unpacked}", at)
                data = self.take(stored, "block")
                if stored != unpacked:
                    data = inflate(data, unpacked, comp, at + 4)
                check.update(stored_len_bytes)
                packed += 4 + stored
            check.update(data)
            if out:
                out.write(data)
            remaining -= unpacked
            if comp and not remaining:
                at = self.pos
                final_bytes = self.take(4, "final length field")
                final = struct.unpack("<I", final_bytes)[0]
                if final != unpacked:
                    raise Bad(f"final length field is {final}, the last block holds {unpacked}", at)
                check.update(final_bytes)
        return packed


# ---------------------------------------------------------------- volumes

def verify_volumes(first, password, key_file_bytes, extract):
    m = re.fullmatch(r"(.*)\.000001(\.pea)", first, re.I | re.S)
    if not m:
        raise Usage("--volumes needs the first volume, named BASE.000001.pea")
    paths, n = [], 1
    while os.path.isfile(f"{m[1]}.{n:06d}{m[2]}"):
        paths.append(f"{m[1]}.{n:06d}{m[2]}")
        n += 1
    if not paths:
        raise Usage(f"cannot open {first}")
    with open(paths[0], "rb") as f:
        head = f.read(10)
    if len(head) < 10 or head[0] != 0xEA or head[1] != 1:
        raise Bad(f"{paths[0]}: no archive header", 0)
    valg = head[3]
    if valg not in PLAIN_CHECKS:
        raise Bad(f"{paths[0]}: volume algorithm {valg} is not a known volume check", 3)
    tsize = CHECKS[valg][1]
    sizes = [os.path.getsize(p) for p in paths]
    with tempfile.TemporaryDirectory() as tmp:
        joined = os.path.join(tmp, "joined.pea")
        whole = Check(valg)
        with open(joined, "wb") as out:
            for i, (path, size) in enumerate(zip(paths, sizes)):
                if size <= tsize or (i + 1 < len(paths) and size != sizes[0]) or size > sizes[0]:
                    raise Bad(f"{path}: size {size} does not fit a volume of {sizes[0]} bytes "
                              f"with a {tsize}-byte tag")
                with open(path, "rb") as f:
                    if valg and file_check(f, valg, 0, size - tsize) != f.read(tsize):
                        raise Bad(f"{path}: volume control tag ({CHECKS[valg][0]}) does not match",
                                  size - tsize)
                    f.seek(0)
                    left = size - tsize
                    while left:
                        piece = f.read(min(PIECE, left))
                        whole.update(piece)
                        out.write(piece)
                        left -= len(piece)
            out.write(whole.result())
        try:
            report = Archive(joined, password, key_file_bytes, extract).verify()
        except Bad as e:
            raise Bad("joined volumes: " + e.message, e.offset)
    report.update(archive=first, volumes=len(paths), volume_sizes=sizes)
    return report


# ---------------------------------------------------------------- main

def summary(report):
    lines = [f"OK {report['archive']}: {report['size']} bytes"
             + (f", {report['volumes']} volumes" if "volumes" in report else "")]
    for label, kind in (("Volume", "volume"), ("Stream", "stream"), ("Object", "object")):
        name = report[kind + "_check"]
        lines.append(f"{label}  : " + (name if name == "None"
                                        else f"{label} control tag ({name})"))
    lines.append(f"Method  : {report['compression']}"
                 + (f", block size {report['block_size']}" if report["block_size"] else "")
                 + (", Unix times" if report["time_encoding"] == UNIX_TIMES else ", MS-DOS times"))
    for o in report["objects"]:
        lines.append(f"  {o['kind']:6} {o['size']:>12} {o['packed_size']:>12}  {o['time']}  "
                     f"{attribute_text(o['attributes'])}  {o['name']}")
    lines.append(f"{report['files']} files, {report['folders']} folders")
    return "\n".join(lines)


def main(argv=None):
    parser = argparse.ArgumentParser(description="Verify a PEA archive.")
    parser.add_argument("archive")
    parser.add_argument("--password", default="")
    parser.add_argument("--key-file")
    parser.add_argument("--extract", metavar="DIR")
    parser.add_argument("--json", action="store_true")
    parser.add_argument("--volumes", action="store_true",
                        help="ARCHIVE is the first of a set of volumes")
    try:
        args = parser.parse_args(argv)
    except SystemExit as e:
        return e.code
    try:
        password = args.password.encode("utf-8", "surrogateescape")
        key_bytes = b""
        if args.key_file is not None:
            try:
                with open(args.key_file, "rb") as f:
                    key_bytes = f.read(2048)
            except OSError as e:
                raise Usage(f"cannot read the key file: {e}")
        if args.volumes:
            report = verify_volumes(args.archive, password, key_bytes, args.extract)
        else:
            if not os.path.isfile(args.archive):
                raise Usage(f"cannot open {args.archive}")
            report = Archive(args.archive, password, key_bytes, args.extract).verify()
    except Usage as e:
        print(f"pea_reader: {e}", file=sys.stderr)
        return 2
    except ImportError as e:
        print(f"pea_reader: {e} (encrypted archives need python3-pycryptodome)", file=sys.stderr)
        return 2
    except Bad as e:
        if args.json:
            print(json.dumps({"ok": False, "error": e.message, "offset": e.offset}))
        print(f"FAIL {args.archive}: {e}", file=sys.stderr)
        return 1
    except OSError as e:
        print(f"pea_reader: {e}", file=sys.stderr)
        return 2
    except Exception:
        traceback.print_exc()
        return 3
    print(json.dumps(report, indent=1) if args.json else summary(report))
    return 0


if __name__ == "__main__":
    sys.exit(main())
